// Pages of memory straight from the system, outside the C library's allocator, for a caller
// that holds data there for a moment and wants the allocator's own state left as it is. The
// form-data module compiles these functions into itself (it links without the C++ runtime, and
// nothing here needs it); the rest of the seam is in os.h.
#ifndef LOOMREG_OS_PAGES_H
#define LOOMREG_OS_PAGES_H

#include <cstddef>

namespace loomreg::os {

// Zeroed pages for `bytes` bytes, readable and writable, present at once where the system can
// do that; null when they cannot be had.
void* MapPages(std::size_t bytes);
// Gives back pages MapPages returned for the same `bytes`; null does nothing.
void UnmapPages(void* pages, std::size_t bytes);

}  // namespace loomreg::os

#endif
