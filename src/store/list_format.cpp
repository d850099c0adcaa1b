#include "list_format.h"

namespace loomreg {

bool IsListWord(std::string_view name) {
  if (name.empty() || name.size() > kMaxWord) return false;
  for (unsigned char c : name) {
    if (IsListSpace(c)) return false;
  }
  return true;
}

Status AppendLineToFile(const Place& place, std::string_view line) {
  return WriteFile(place, OpenMode::kAppend, line, AppendLineTo);
}

Status AppendLineTo(const os::Handle& file, std::string_view path, std::string_view line) {
  os::Info info;
  if (Status regular = RequireRegular(file, "cannot write", path, &info); !regular.ok()) {
    return regular;
  }
  if (info.size > 0) {
    // Under the store lock, which a save holds, no other append comes between this read and
    // the write.
    char last = 0;
    std::size_t got = 0;
    if (os::Error error = os::ReadAt(file, info.size - 1, &last, 1, got); !error.ok()) {
      return Status::SystemError("cannot read", path, error);
    }
    if (got == 1) return AppendLineAfter(file, path, line, info.size, last);
  }
  return AppendLineAfter(file, path, line, info.size, std::nullopt);
}

Status AppendLineAfter(const os::Handle& file, std::string_view path, std::string_view line,
                       std::uint64_t size, std::optional<char> last) {
  std::string data;
  if (last && *last != '\n' && *last != '\r') data = kLineEnd;
  data += line;
  return WriteOnce(file, path, data, static_cast<std::int64_t>(size));
}

std::string_view SplitLine(std::string_view text, std::vector<LineWord>& words) {
  words.clear();
  std::size_t i = 0;
  while (i < text.size() && IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
  const std::string_view lead = text.substr(0, i);
  while (i < text.size()) {
    const std::size_t start = i;
    while (i < text.size() && !IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
    const std::size_t word_end = i;
    while (i < text.size() && IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
    words.push_back({text.substr(start, word_end - start), text.substr(word_end, i - word_end)});
  }
  return lead;
}

bool AppendKeptWords(std::string_view lead, const std::vector<LineWord>& words, std::string& out) {
  const LineWord* last_kept = nullptr;
  for (const LineWord& word : words) {
    if (word.keep) last_kept = &word;
  }
  if (last_kept == nullptr) return false;
  out += lead;
  for (const LineWord& word : words) {
    if (!word.keep) continue;
    out += word.text;
    out += &word == last_kept ? words.back().space_after : word.space_after;
  }
  return true;
}

std::string_view RewrittenLineEnd(const TextLine& line) {
  switch (line.end) {
    case LineEnd::kCrLf:
      return kLineEnd;
    case LineEnd::kLf:
      return "\n";
    case LineEnd::kNone:
      break;
  }
  return !line.text.empty() && line.text.back() == '\r' ? "\n" : kLineEnd;
}

}  // namespace loomreg
