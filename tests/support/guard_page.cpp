#include "guard_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <stdexcept>

namespace loomreg::testing {

#ifdef _WIN32

GuardedPage::GuardedPage() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  page_ = info.dwPageSize;
  base_ = static_cast<char*>(
      ::VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old;
  if (base_ == nullptr || !::VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old)) {
    throw std::runtime_error("cannot map a guarded page");
  }
}

GuardedPage::~GuardedPage() { ::VirtualFree(base_, 0, MEM_RELEASE); }

#else

GuardedPage::GuardedPage() : page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) {
  void* mapped =
      ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::runtime_error("cannot map a guarded page");
  base_ = static_cast<char*>(mapped);
  if (::mprotect(base_ + page_, page_, PROT_NONE) != 0) {
    ::munmap(base_, 2 * page_);
    throw std::runtime_error("cannot map a guarded page");
  }
}

GuardedPage::~GuardedPage() { ::munmap(base_, 2 * page_); }

#endif

}  // namespace loomreg::testing
