#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "formdata.h"

namespace {

constexpr std::size_t kRecordSize = LOOMREG_RECORD_SIZE;

// Names become file and directory names and words of the plain-text lists, so only characters
// that need no quoting anywhere are let through.
constexpr std::array<bool, 256> kNameByte = [] {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  for (unsigned char c : std::string_view("-_()")) table[c] = true;
  return table;
}();

}  // namespace

// strcmp compares its bytes as unsigned values, which is the order wanted here.
int CompareTextAscending(const void* first, const void* second) {
  return std::strcmp(static_cast<const char*>(first), static_cast<const char*>(second));
}

int CompareTextDescending(const void* first, const void* second) {
  return std::strcmp(static_cast<const char*>(second), static_cast<const char*>(first));
}

int ReverseRecords(void* records, int count) {
  auto* block = static_cast<char*>(records);
  for (int i = 0; i < count / 2; ++i) {
    // Whole records move, including whatever follows each text's NUL.
    std::swap_ranges(block + i * kRecordSize, block + (i + 1) * kRecordSize,
                     block + (count - 1 - i) * kRecordSize);
  }
  return 0;
}

int IsValidName(const char* text) {
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (!kNameByte[*p]) return 0;
  }
  return 1;
}

// The scan covers the whole record, past the text's NUL: a last field reads as the rest of the
// text, and a comma left behind in the record after the NUL still ends the copy there.
int CopyCommaField(const char* source, char* destination) {
  const auto* comma = static_cast<const char*>(std::memchr(source, ',', kRecordSize));
  if (comma == nullptr) {
    std::memmove(destination, source, kRecordSize);
    return static_cast<int>(kRecordSize) + 1;
  }
  std::size_t field = static_cast<std::size_t>(comma - source);
  std::memmove(destination, source, field);
  destination[field] = '\0';
  return static_cast<int>(field) + 1;
}
