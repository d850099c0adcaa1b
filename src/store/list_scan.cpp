#include "list_format.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

namespace loomreg {
namespace {

// Whether the occurrence of a name of length `n` at `pos` is a whole word of the list.
inline bool WholeWordAt(const char* data, std::size_t len, std::size_t pos, std::size_t n,
                        bool list_start, bool list_end) {
  bool left = pos == 0 ? list_start : IsListSpace(data[pos - 1]);
  if (!left) return false;
  std::size_t after = pos + n;
  return after < len ? IsListSpace(data[after]) : list_end;
}

// The first occurrence of `name` in data[from, len), or nullptr. glibc's memmem is the fastest
// search there is for this; a C library without memmem (Windows's) gets the standard library's
// find, which scans for the first byte with memchr.
inline const char* Find(const char* data, std::size_t len, std::size_t from,
                        std::string_view name) {
#if defined(__GLIBC__)
  return static_cast<const char*>(::memmem(data + from, len - from, name.data(), name.size()));
#else
  const std::size_t pos = std::string_view(data, len).find(name, from);
  return pos == std::string_view::npos ? nullptr : data + pos;
#endif
}

// Looks for `name` as a whole word in `window`, starting at `from`, with memmem.
bool SearchWithMemmem(const char* data, std::size_t len, std::size_t from, std::string_view name,
                      bool list_start, bool list_end) {
  const std::size_t n = name.size();
  while (from + n <= len) {
    const char* hit = Find(data, len, from, name);
    if (hit == nullptr) return false;
    std::size_t pos = static_cast<std::size_t>(hit - data);
    if (WholeWordAt(data, len, pos, n, list_start, list_end)) return true;
    from = pos + 1;
  }
  return false;
}

#if defined(__x86_64__)
// Compares 32 positions at a time: a candidate has the name's first byte at its start and its
// last byte n - 1 further on, and only candidates are compared in full. Lists of generated names
// share prefixes, so two bytes far apart filter far better than the first byte alone. The tail
// of the window, too short for a full vector, goes to memmem.
__attribute__((target("avx2"))) bool SearchAvx2(const char* data, std::size_t len, std::size_t from,
                                                std::string_view name, bool list_start,
                                                bool list_end) {
  const std::size_t n = name.size();
  const __m256i first = _mm256_set1_epi8(name.front());
  const __m256i last = _mm256_set1_epi8(name.back());
  std::size_t i = from;
  for (; i + n - 1 + 32 <= len; i += 32) {
    __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    __m256i ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + n - 1));
    __m256i both =
        _mm256_and_si256(_mm256_cmpeq_epi8(starts, first), _mm256_cmpeq_epi8(ends, last));
    auto mask = static_cast<unsigned>(_mm256_movemask_epi8(both));
    while (mask != 0) {
      std::size_t pos = i + static_cast<std::size_t>(__builtin_ctz(mask));
      mask &= mask - 1;
      if (std::memcmp(data + pos, name.data(), n) == 0 &&
          WholeWordAt(data, len, pos, n, list_start, list_end)) {
        return true;
      }
    }
  }
  return SearchWithMemmem(data, len, i, name, list_start, list_end);
}

using SearchFn = bool (*)(const char*, std::size_t, std::size_t, std::string_view, bool, bool);
const SearchFn kSearch = __builtin_cpu_supports("avx2") ? &SearchAvx2 : &SearchWithMemmem;
#endif

// Looks for `name` as a whole word in `window`. `list_start` says that the window begins the
// list, `list_end` that it ends it. A hit whose right neighbour lies beyond the window while
// more of the list follows is not decided here: the caller keeps the window's tail and sees it
// again with the following bytes.
bool WindowHasWord(std::string_view window, std::string_view name, bool list_start, bool list_end) {
#if defined(__x86_64__)
  return kSearch(window.data(), window.size(), 0, name, list_start, list_end);
#else
  return SearchWithMemmem(window.data(), window.size(), 0, name, list_start, list_end);
#endif
}

}  // namespace

bool TextHasWord(std::string_view text, std::string_view name) {
  return IsListWord(name) && WindowHasWord(text, name, true, true);
}

WordScan ScanForWord(const os::Handle& file, std::string_view path, std::string_view name,
                     std::size_t block) {
  if (!IsListWord(name)) return {};
  block = std::max<std::size_t>(block, 1);
  // The window is the tail kept from the last block (the last n + 1 bytes, so that a hit across
  // the seam can be judged with its left neighbour) followed by the next block.
  const std::size_t keep_max = name.size() + 1;
  auto buffer = std::make_unique_for_overwrite<char[]>(keep_max + block);
  std::size_t have = 0;
  bool list_start = true;
  for (;;) {
    std::size_t got = 0;
    if (os::Error error = os::Read(file, buffer.get() + have, block, got); !error.ok()) {
      return {false, Status::SystemError("cannot read", path, error)};
    }
    std::size_t len = have + got;
    bool list_end = got == 0;
    if (WindowHasWord({buffer.get(), len}, name, list_start, list_end)) return {true, {}};
    if (list_end) return {};
    std::size_t keep = std::min(len, keep_max);
    if (keep < len) {
      std::memmove(buffer.get(), buffer.get() + len - keep, keep);
      list_start = false;
    }
    have = keep;
  }
}

}  // namespace loomreg
