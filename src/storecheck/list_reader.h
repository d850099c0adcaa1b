// Streaming reads of the store's text files: line by line in large blocks, with each line's
// end as it stands in the file, and the word split that every list reader of the store uses.
#ifndef LOOMREG_STORECHECK_LIST_READER_H
#define LOOMREG_STORECHECK_LIST_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "list_scan.h"

namespace loomreg {

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

// A line of any length is returned whole; memory grows to the longest line, never to the file.
class LineReader {
 public:
  static constexpr std::size_t kBlock = 256 * 1024;

  explicit LineReader(int fd, std::size_t block = kBlock);
  // Lines of a text already in memory; it must outlive the reader.
  explicit LineReader(std::string_view text);

  // The next line, valid until the following call. False at the end of the file, or on a read
  // error: then error() is the errno.
  bool Next(TextLine& line);
  int error() const { return error_; }

 private:
  bool Fill();

  int fd_ = -1;
  std::size_t block_ = kBlock;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  const char* data_ = nullptr;  // buffer_, or the text given
  std::size_t begin_ = 0;       // first byte not yet returned
  std::size_t scanned_ = 0;     // bytes from begin_ known to hold no LF
  std::size_t end_ = 0;         // end of the bytes read
  bool eof_ = false;
  int error_ = 0;
  std::uint64_t number_ = 0;
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

}  // namespace loomreg

#endif
