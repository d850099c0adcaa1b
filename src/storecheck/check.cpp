#include "check.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "finding_log.h"
#include "layout_check.h"
#include "list_check.h"
#include "machine_check.h"
#include "name_index.h"
#include "store_scan.h"
#include "style_check.h"

namespace loomreg {
namespace {

bool Missing(const Store& store, const std::string& path) {
  return LinkStatus(store.Locate(path)).status().kind() == os::Kind::kNotFound;
}

// FileList's names that no style stores, logged by line and name.
void LogUnstored(CheckResult& result, const std::string& file_list, const NameIndex& listed,
                 const NameIndex& stored) {
  std::vector<std::pair<std::uint64_t, std::string_view>> unstored;
  listed.ForEach([&](std::string_view name, std::uint64_t line) {
    if (!stored.Contains(name)) unstored.emplace_back(line, name);
  });
  if (unstored.empty()) return;
  std::sort(unstored.begin(), unstored.end());
  RepeatLog log(file_list);
  for (auto [line, name] : unstored) log.Add(line, 0, name);
  result.unstored.push_back(std::move(log));
}

void Check(const StorePaths& p, std::time_t now, FindingLog& log) {
  const Store& store = log.store();
  if (!RequireLayout(log, p)) return;
  CheckLockFile(log, p);
  const StoreScan scan(store, p);
  const bool kind_list_missing = Missing(store, p.kind_list);
  const bool machine_list_missing = Missing(store, p.machine_list);
  NameIndex file_list, kind_list, machine_list;
  ReadEachOnce(log, p.file_list, file_list, Role::kFile);
  ReadEachOnce(log, p.kind_list, kind_list, Role::kStyle);
  ReadEachOnce(log, p.machine_list, machine_list, Role::kMachine);
  ReadList(log, p.history, ListKind::kHistory, [](std::string_view, std::uint64_t) {});
  StyleCheck styles(log, p, scan, {file_list, kind_list}, now);
  styles.Run();
  const std::size_t machines = CheckMachines(log, p, scan, machine_list);
  // A store without styles or machines yet has no use for their lists: the first save
  // creates them. Once there is something to list, a missing list is damage of its own.
  if (kind_list_missing && styles.styles() > 0) {
    log.NoteMissingList(p.kind_list, "the style list does not exist: no style is listed",
                        "every style with a directory");
  }
  if (machine_list_missing && machines > 0) {
    log.NoteMissingList(p.machine_list, "the machine list does not exist: no machine is listed",
                        "every machine with a file list or a stamp");
  }
  for (const std::string* dir : {&p.history_dir, &p.machine_list_dir, &p.kind_list_dir}) {
    FindLeftovers(log, *dir, scan.Of(*dir));
  }
  // Only FileList's names are needed from here on.
  kind_list = NameIndex();
  machine_list = NameIndex();
  LogUnstored(log.result(), p.file_list, file_list, styles.stored());
}

}  // namespace

std::size_t CheckResult::Count(Severity severity) const {
  auto count = static_cast<std::size_t>(
      std::count_if(findings.begin(), findings.end(),
                    [severity](const Finding& f) { return SeverityOf(f.kind) == severity; }));
  if (SeverityOf(FindingKind::kRepeatedName) == severity) {
    for (const RepeatLog& log : repeats) count += log.size();
  }
  if (SeverityOf(FindingKind::kListedNotStored) == severity) {
    for (const RepeatLog& log : unstored) count += log.size();
  }
  return count;
}

void ForEachFinding(const CheckResult& result, const std::function<void(const Finding&)>& visit) {
  // One reader per log, each with its next entry made into a finding.
  struct Source {
    RepeatLog::Reader reader;
    RepeatLog::Entry entry;
    Finding finding;
    bool more;
  };
  std::vector<Source> sources;
  sources.reserve(result.repeats.size() + result.unstored.size());
  for (const auto& [logs, kind] : {std::pair{&result.repeats, FindingKind::kRepeatedName},
                                   std::pair{&result.unstored, FindingKind::kListedNotStored}}) {
    for (const RepeatLog& log : *logs) {
      Finding finding{kind, log.file(), 0, std::nullopt, {}};
      sources.push_back({RepeatLog::Reader(log), {}, std::move(finding), true});
    }
  }
  auto advance = [](Source& source) {
    source.more = source.reader.Next(source.entry);
    if (!source.more) return;
    source.finding.line = source.entry.line;
    source.finding.name = source.entry.name;
    source.finding.detail =
        source.finding.kind == FindingKind::kRepeatedName
            ? "is listed again (first on line " + std::to_string(source.entry.first_line) + ")"
            : "is listed but stored under no style";
  };
  for (Source& source : sources) advance(source);
  auto before = [](const Finding& a, const Finding& b) {
    return std::tie(a.file, a.line, a.kind, a.name) < std::tie(b.file, b.line, b.kind, b.name);
  };
  auto next = result.findings.begin();
  for (;;) {
    Source* first = nullptr;
    for (Source& source : sources) {
      if (source.more && (first == nullptr || before(source.finding, first->finding))) {
        first = &source;
      }
    }
    if (first != nullptr && (next == result.findings.end() || before(first->finding, *next))) {
      visit(first->finding);
      advance(*first);
    } else if (next != result.findings.end()) {
      visit(*next++);
    } else {
      return;
    }
  }
}

CheckResult CheckStore(const Store& store, std::time_t now) {
  CheckResult result;
  FindingLog log(store, result);
  Check(store.ShownPaths(), now, log);
  log.Finish();
  return result;
}

}  // namespace loomreg
