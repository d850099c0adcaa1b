#include "list_rewrite.h"

#include <utility>

namespace loomreg {

ListRewriter::ListRewriter(const RewritePlan& plan, std::string file, RepeatLog* removed)
    : plan_(plan), file_(std::move(file)), removed_(removed) {}

void ListRewriter::Line(const TextLine& line, std::string& out) {
  if (!plan_.each_once) {
    out += line.text;
    End(line, out);
    return;
  }
  // Only the words to remove are taken out: every other byte stays as it stands.
  const std::string_view lead = SplitLine(line.text, words_);
  bool any_removed = false;
  for (LineWord& word : words_) {
    if (word.text.size() > kMaxWord) continue;
    NameIndex::Sighting sighting = seen_.Add(word.text, line.number);
    if (sighting.is_new) continue;
    word.keep = false;
    any_removed = true;
    if (removed_ != nullptr) {
      removed_->Add(line.number, sighting.first_line, word.text);
    } else {
      repairs_.push_back({RepairAction::kRemovedRepeat, file_, line.number, std::string(word.text),
                          "first on line " + std::to_string(sighting.first_line)});
    }
  }
  if (!any_removed) {
    out += line.text;
    End(line, out);
    return;
  }
  // Nothing left: the line goes, line end and all.
  if (!AppendKeptWords(lead, words_, out)) return;
  End(line, out);
}

void ListRewriter::End(const TextLine& line, std::string& out) {
  out += RewrittenLineEnd(line);
  if (line.end == LineEnd::kNone) {
    repairs_.push_back({RepairAction::kEndedLastLine, file_, line.number, std::nullopt,
                        "ended the last line with a line end"});
  }
}

void ListRewriter::Finish(std::string& out) {
  if (!plan_.each_once) return;
  for (const std::string& name : plan_.add) {
    if (!IsListWord(name) || !seen_.Add(name, 0).is_new) continue;
    out += name;
    out += kLineEnd;
    repairs_.push_back({RepairAction::kAddedName, file_, 0, name, "added"});
  }
}

std::string RewriteText(std::string_view text, const RewritePlan& plan,
                        std::vector<Repair>* repairs) {
  ListRewriter rewriter(plan, "list");
  LineReader reader(text);
  std::string out;
  for (LineRead read = reader.Next(); read.line != nullptr; read = reader.Next()) {
    rewriter.Line(*read.line, out);
  }
  rewriter.Finish(out);
  if (repairs != nullptr) *repairs = rewriter.repairs();
  return out;
}

}  // namespace loomreg
