// The list scan on arbitrary list bytes and names: its answer, on the whole text and streamed
// in blocks of any size, must be that of splitting the bytes on the six white-space bytes and
// comparing whole words.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "list_format.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool ReferenceHasWord(std::string_view text, std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && loomreg::IsListSpace(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !loomreg::IsListSpace(text[i])) ++i;
    if (i > start && text.substr(start, i - start) == name) return true;
  }
  return false;
}

}  // namespace

// Input: one byte for the name's length, one for the block size, the name, then the list.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t name_size = data[0] % 64;
  size_t block = 1 + data[1] * 7;
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  if (name_size > rest.size()) return 0;
  std::string_view name = rest.substr(0, name_size);
  std::string_view list = rest.substr(name_size);

  bool expected = ReferenceHasWord(list, name);
  Check(loomreg::TextHasWord(list, name) == expected);

  static loomreg::os::Handle file(::memfd_create("list", 0));
  Check(file.valid());
  const int fd = static_cast<int>(file.get());
  Check(::ftruncate(fd, 0) == 0);
  Check(::pwrite(fd, list.data(), list.size(), 0) == static_cast<ssize_t>(list.size()));
  Check(::lseek(fd, 0, SEEK_SET) == 0);
  loomreg::WordScan scan = loomreg::ScanForWord(file, "list", name, block);
  Check(scan.status.ok() && scan.found == expected);
  return 0;
}
