#include "report.h"

#include <algorithm>

#include "message_text.h"

namespace loomreg {
namespace {

void Location(Output& out, const std::string& file, std::uint64_t line) {
  out << EscapeLine(file);
  if (line > 0) out << ':' << std::to_string(line);
  out << ": ";
}

std::string Plural(std::size_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

void WriteRepair(const Repair& r, Output& out) {
  Location(out, r.file, r.line);
  switch (r.action) {
    case RepairAction::kRemovedRepeat:
      out << "repaired: removed repeated " << QuoteForMessage(r.name.value_or("")) << " ("
          << r.detail << ")";
      break;
    case RepairAction::kEndedLastLine:
      out << "repaired: ended the last line with a line end";
      break;
    case RepairAction::kAddedName:
      out << "repaired: added " << QuoteForMessage(r.name.value_or(""));
      break;
    case RepairAction::kRemovedLeftover:
      out << "repaired: removed a temporary file left by an interrupted repair";
      break;
    case RepairAction::kCreatedList:
    case RepairAction::kMendedLock:
      out << "repaired: " << EscapeLine(r.detail);
      break;
    case RepairAction::kNotRepaired:
      out << "not repaired: " << EscapeLine(r.detail);
      break;
    case RepairAction::kWarning:
      out << "warning: " << EscapeLine(r.detail);
      break;
  }
  out << '\n';
}

void WriteFinding(const Finding& f, Output& out) {
  Location(out, f.file, f.line);
  out << (SeverityOf(f.kind) == Severity::kProblem ? "problem: " : "note: ") << KindId(f.kind)
      << ": ";
  if (f.name) out << QuoteForMessage(*f.name) << ' ';
  out << EscapeLine(f.detail) << '\n';
}

}  // namespace

std::size_t CheckReport::Count(Severity severity) const {
  return check == nullptr ? 0 : check->Count(severity);
}

std::size_t CheckReport::NotRepaired() const {
  if (repairs == nullptr) return 0;
  return static_cast<std::size_t>(
      std::count_if(repairs->begin(), repairs->end(),
                    [](const Repair& r) { return r.action == RepairAction::kNotRepaired; }));
}

int CheckReport::exit_status() const {
  if (!errors.empty()) return kExitUnreadable;
  // A repair that could not be made leaves a problem, even where the check no longer sees it.
  return Count(Severity::kProblem) > 0 || NotRepaired() > 0 ? kExitProblems : kExitClean;
}

void ForEachRepair(const CheckReport& report, const std::function<void(const Repair&)>& visit) {
  if (report.repairs == nullptr) return;
  auto logged_at = [&](std::size_t at) {
    if (report.removed == nullptr) return;
    for (const LoggedRepairs& logged : *report.removed) {
      if (logged.at != at) continue;
      RepeatLog::Reader reader(logged.log);
      RepeatLog::Entry entry;
      while (reader.Next(entry)) visit(RemovedRepeat(logged.log.file(), entry));
    }
  };
  for (std::size_t i = 0; i < report.repairs->size(); ++i) {
    logged_at(i);
    visit((*report.repairs)[i]);
  }
  logged_at(report.repairs->size());
}

std::string EscapeLine(std::string_view text) { return EscapeForLine(text); }

void WriteText(const CheckReport& report, Output& out) {
  if (report.repairs != nullptr) {
    std::size_t made = 0;
    ForEachRepair(report, [&](const Repair& r) {
      WriteRepair(r, out);
      if (r.action != RepairAction::kNotRepaired && r.action != RepairAction::kWarning) ++made;
    });
    const std::size_t failed = report.NotRepaired();
    if (report.repair_skipped) {
      out << "nothing repaired: the store could not be read whole\n";
    } else if (failed > 0) {
      out << Plural(made, "repair", "repairs") << " made, " << Plural(failed, "repair", "repairs")
          << " could not be made\n";
    } else {
      out << (made == 0 ? std::string("nothing to repair")
                        : Plural(made, "repair", "repairs") + " made")
          << '\n';
    }
  }
  if (report.check != nullptr) {
    ForEachFinding(*report.check, [&](const Finding& f) { WriteFinding(f, out); });
  }
  out << Plural(report.Count(Severity::kProblem), "problem", "problems") << ", "
      << Plural(report.Count(Severity::kNote), "note", "notes");
  if (!report.errors.empty()) out << "; the store could not be read whole";
  out << '\n';
}

}  // namespace loomreg
