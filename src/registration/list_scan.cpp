#include "list_scan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace loomreg {
namespace {

// Looks for `name` as a whole word in `window`. `list_start` says that the window begins the
// list, `list_end` that it ends it. A hit whose right neighbour lies beyond the window while
// more of the list follows is not decided here: the caller keeps the window's tail and sees it
// again with the following bytes.
bool WindowHasWord(std::string_view window, std::string_view name, bool list_start, bool list_end) {
  const char* data = window.data();
  const std::size_t len = window.size();
  const std::size_t n = name.size();
  std::size_t from = 0;
  while (from + n <= len) {
    const void* hit = ::memmem(data + from, len - from, name.data(), n);
    if (hit == nullptr) return false;
    std::size_t pos = static_cast<const char*>(hit) - data;
    bool left = pos == 0 ? list_start : IsListSpace(data[pos - 1]);
    if (left) {
      std::size_t after = pos + n;
      if (after < len ? IsListSpace(data[after]) : list_end) return true;
    }
    from = pos + 1;
  }
  return false;
}

}  // namespace

bool IsListWord(std::string_view name) {
  if (name.empty() || name.size() > kMaxWord) return false;
  for (unsigned char c : name) {
    if (IsListSpace(c)) return false;
  }
  return true;
}

bool TextHasWord(std::string_view text, std::string_view name) {
  return IsListWord(name) && WindowHasWord(text, name, true, true);
}

int ScanForWord(int fd, std::string_view name, std::size_t block) {
  if (!IsListWord(name)) return 0;
  block = std::max<std::size_t>(block, 1);
  // The window is the tail kept from the last block (the last n + 1 bytes, so that a hit across
  // the seam can be judged with its left neighbour) followed by the next block.
  const std::size_t keep_max = name.size() + 1;
  auto buffer = std::make_unique_for_overwrite<char[]>(keep_max + block);
  std::size_t have = 0;
  bool list_start = true;
  for (;;) {
    ssize_t got = ::read(fd, buffer.get() + have, block);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    std::size_t len = have + static_cast<std::size_t>(got);
    bool list_end = got == 0;
    if (WindowHasWord({buffer.get(), len}, name, list_start, list_end)) return 1;
    if (list_end) return 0;
    std::size_t keep = std::min(len, keep_max);
    if (keep < len) {
      std::memmove(buffer.get(), buffer.get() + len - keep, keep);
      list_start = false;
    }
    have = keep;
  }
}

}  // namespace loomreg
