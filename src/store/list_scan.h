// The word scan behind every catalogue list: does a list hold a name as a whole word?
//
// A list is read as words, not lines: a word is a maximal run of bytes other than space, tab,
// CR, LF, vertical tab and form feed. A name matches a word when both hold the same bytes
// (case-sensitive, NUL and bytes >= 0x80 included). Words and names longer than 255 bytes never
// match, and the empty name never matches, since no word is empty.
#ifndef LOOMREG_STORE_LIST_SCAN_H
#define LOOMREG_STORE_LIST_SCAN_H

#include <cstddef>
#include <string_view>

#include "message_text.h"

namespace loomreg {

inline constexpr std::size_t kMaxWord = kMaxBytes;
inline constexpr std::size_t kScanBlock = 256 * 1024;

constexpr bool IsListSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether `name` can be a word of a list: not empty, at most 255 bytes, no white space. No
// other name ever equals a word read back.
bool IsListWord(std::string_view name);

// Whether the complete list `text` holds `name`.
bool TextHasWord(std::string_view text, std::string_view name);

// Streams the list from `fd` to its end in blocks of `block` bytes, with memory bounded by the
// block size. Returns 1 when the name was found, 0 when not, -1 on a read error (errno set).
int ScanForWord(int fd, std::string_view name, std::size_t block = kScanBlock);

}  // namespace loomreg

#endif
