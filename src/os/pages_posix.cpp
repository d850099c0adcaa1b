// Pages on POSIX systems: anonymous private mappings.
#include <sys/mman.h>

#include "pages.h"

namespace loomreg::os {

void* MapPages(std::size_t bytes) {
#if defined(MAP_POPULATE)
  // Populated at once (Linux): cheaper than a fault for every page.
  constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE;
#else
  constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS;
#endif
  void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, kFlags, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void UnmapPages(void* pages, std::size_t bytes) {
  if (pages != nullptr) munmap(pages, bytes);
}

}  // namespace loomreg::os
