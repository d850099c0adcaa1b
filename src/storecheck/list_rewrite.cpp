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
  // The line as white space before the first word, then words each with the white space after
  // it. Only the words to remove are taken out.
  struct Word {
    std::string_view text;
    std::string_view space_after;
    bool keep;
  };
  std::vector<Word> words;
  const std::string_view text = line.text;
  std::size_t i = 0;
  while (i < text.size() && IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
  const std::string_view lead = text.substr(0, i);
  bool any_removed = false;
  while (i < text.size()) {
    const std::size_t start = i;
    while (i < text.size() && !IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
    const std::size_t word_end = i;
    while (i < text.size() && IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
    std::string_view word = text.substr(start, word_end - start);
    bool keep = true;
    if (word.size() <= kMaxWord) {
      NameIndex::Sighting sighting = seen_.Add(word, line.number);
      if (!sighting.is_new) {
        keep = false;
        any_removed = true;
        if (removed_ != nullptr) {
          removed_->Add(line.number, sighting.first_line, word);
        } else {
          repairs_.push_back({RepairAction::kRemovedRepeat, file_, line.number, std::string(word),
                              "first on line " + std::to_string(sighting.first_line)});
        }
      }
    }
    words.push_back({word, text.substr(word_end, i - word_end), keep});
  }
  if (!any_removed) {
    out += text;
    End(line, out);
    return;
  }
  const Word* last_kept = nullptr;
  for (const Word& word : words) {
    if (word.keep) last_kept = &word;
  }
  if (last_kept == nullptr) return;  // nothing left: the line goes, line end and all
  out += lead;
  for (const Word& word : words) {
    if (!word.keep) continue;
    out += word.text;
    // The last word kept ends the line as the line's last word did.
    out += &word == last_kept ? words.back().space_after : word.space_after;
  }
  End(line, out);
}

void ListRewriter::End(const TextLine& line, std::string& out) {
  switch (line.end) {
    case LineEnd::kCrLf:
      out += "\r\n";
      return;
    case LineEnd::kLf:
      out += '\n';
      return;
    case LineEnd::kNone:
      // A trailing CR already begins the line end; a rewritten line keeps its trailing space.
      out += !line.text.empty() && line.text.back() == '\r' ? "\n" : "\r\n";
      repairs_.push_back({RepairAction::kEndedLastLine, file_, line.number, std::nullopt,
                          "ended the last line with a line end"});
      return;
  }
}

void ListRewriter::Finish(std::string& out) {
  if (!plan_.each_once) return;
  for (const std::string& name : plan_.add) {
    if (!IsListWord(name) || !seen_.Add(name, 0).is_new) continue;
    out += name;
    out += "\r\n";
    repairs_.push_back({RepairAction::kAddedName, file_, 0, name, "added"});
  }
}

std::string RewriteText(std::string_view text, const RewritePlan& plan,
                        std::vector<Repair>* repairs) {
  ListRewriter rewriter(plan, "list");
  LineReader reader(text);
  std::string out;
  TextLine line;
  while (reader.Next(line)) rewriter.Line(line, out);
  rewriter.Finish(out);
  if (repairs != nullptr) *repairs = rewriter.repairs();
  return out;
}

}  // namespace loomreg
