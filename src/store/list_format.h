// The text format of the catalogue lists, and the one place that reads and writes it: what a word
// is, how lines end, the scan for a name, the append of a line, the streaming read of lines and
// the rewrite of a line with words taken out. A change to the format belongs here alone.
//
// A list is read as words, not lines: a word is a maximal run of bytes other than space, tab,
// CR, LF, vertical tab and form feed. A name matches a word when both hold the same bytes
// (case-sensitive, NUL and bytes >= 0x80 included). Words and names longer than 255 bytes never
// match, and the empty name never matches, since no word is empty. Every writer ends a line with
// CR LF; readers also take LF alone.
#ifndef LOOMREG_STORE_LIST_FORMAT_H
#define LOOMREG_STORE_LIST_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_io.h"
#include "message_text.h"

namespace loomreg {

inline constexpr std::size_t kMaxWord = kMaxBytes;
inline constexpr std::size_t kScanBlock = 256 * 1024;
// How every writer of the store ends a line.
inline constexpr std::string_view kLineEnd = "\r\n";

constexpr bool IsListSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether `name` can be a word of a list: not empty, at most 255 bytes, no white space. No
// other name ever equals a word read back.
bool IsListWord(std::string_view name);

// Whether the complete list `text` holds `name`.
bool TextHasWord(std::string_view text, std::string_view name);

// The outcome of a scan: whether the name was found, or the read error that stopped it.
struct [[nodiscard]] WordScan {
  bool found = false;
  Status status;
};

// Streams the list open at `file` (named `path` in a message) to its end in blocks of `block`
// bytes, with memory bounded by the block size. A read error fails as "cannot read <path>: ...".
WordScan ScanForWord(const os::Handle& file, std::string_view path, std::string_view name,
                     std::size_t block = kScanBlock);

// Appends `line` to the regular file open at `file` for appending, in one write. When the file's
// last byte is neither LF nor CR, CR LF goes first in the same write, so that the new line is
// never glued to an unterminated last one. Not a regular file: nothing is written.
Status AppendLineTo(const os::Handle& file, std::string_view path, std::string_view line);
// The write of AppendLineTo, for a caller that has read the regular file open at `fd` to its
// end already: `size` is its size, and `last` its last byte (none for an empty file).
Status AppendLineAfter(const os::Handle& file, std::string_view path, std::string_view line,
                       std::uint64_t size, std::optional<char> last);
// Appends `line` to the list at `place` as AppendLineTo does, creating the list when absent,
// and flushes it (and, for a list it created, its directory).
Status AppendLineToFile(const Place& place, std::string_view line);

enum class LineEnd {
  kCrLf,  // CR LF, as every writer of the store ends a line
  kLf,    // LF alone
  kNone,  // the last line of a file that does not end in LF
};

struct TextLine {
  std::uint64_t number = 0;  // from 1
  std::string_view text;     // without its line end; a CR before a missing LF stays in the text
  LineEnd end = LineEnd::kNone;
};

// One step of a LineReader: the next line (valid until the following step), none at the end of
// the text, or none and the read error that ended the reading.
struct [[nodiscard]] LineRead {
  const TextLine* line = nullptr;
  Status status;
};

// Reads a text line by line. A line of any length is returned whole; memory grows to the longest
// line, never to the file.
class LineReader {
 public:
  static constexpr std::size_t kBlock = 256 * 1024;
  // Told how many bytes each read brought, for a progress display.
  using ReadHook = void (*)(std::uint64_t bytes);

  // Lines of the file open at `file`, which must outlive the reader, named `path` in a read
  // error.
  LineReader(const os::Handle& file, std::string_view path, std::size_t block = kBlock,
             ReadHook on_read = nullptr);
  // Lines of a text already in memory; it must outlive the reader.
  explicit LineReader(std::string_view text);

  LineRead Next();

 private:
  Status Fill();

  const os::Handle* file_ = nullptr;
  std::string path_;
  std::size_t block_ = kBlock;
  ReadHook on_read_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  const char* data_ = nullptr;  // buffer_, or the text given
  std::size_t begin_ = 0;       // first byte not yet returned
  std::size_t scanned_ = 0;     // bytes from begin_ known to hold no LF
  std::size_t end_ = 0;         // end of the bytes read
  bool eof_ = false;
  Status error_;
  TextLine line_;
};

// Calls `visit(word)` for each word of `text`: each maximal run of bytes that are not list
// white space (space, tab, CR, LF, VT, FF).
template <typename Visit>
void ForEachWord(std::string_view text, Visit&& visit) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
    const std::size_t start = i;
    while (i < n && !IsListSpace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) visit(text.substr(start, i - start));
  }
}

// A word of a line with the white space that follows it: a line is its leading white space and
// then these, byte for byte.
struct LineWord {
  std::string_view text;
  std::string_view space_after;
  bool keep = true;
};

// Cuts `text` into `words` (cleared first); returns the white space before the first word.
std::string_view SplitLine(std::string_view text, std::vector<LineWord>& words);

// Appends the line `lead` + `words` with the words not kept taken out, each with the white space
// that separated it from the word before it; the last word kept ends the line as the line's last
// word did. Returns false, appending nothing, when no word is kept: such a line goes whole.
bool AppendKeptWords(std::string_view lead, const std::vector<LineWord>& words, std::string& out);

// The line end a rewritten `line` gets: its own, or for an unterminated last line CR LF, or LF
// alone after a trailing CR, which already begins the line end.
std::string_view RewrittenLineEnd(const TextLine& line);

}  // namespace loomreg

#endif
