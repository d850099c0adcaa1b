// Pages on Windows: committed virtual memory of the process.
#include <windows.h>

#include "pages.h"

namespace loomreg::os {

void* MapPages(std::size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapPages(void* pages, std::size_t /*bytes*/) {
  if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace loomreg::os
