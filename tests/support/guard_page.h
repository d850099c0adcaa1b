// Memory whose end is followed by an unreadable page, for tests that show a function reads no
// byte past the end of its input.
#ifndef LOOMREG_TESTS_GUARD_PAGE_H
#define LOOMREG_TESTS_GUARD_PAGE_H

#include <cstddef>

namespace loomreg::testing {

class GuardedPage {
 public:
  GuardedPage();  // throws when the system refuses the pages
  ~GuardedPage();
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;
  // One past the last readable byte; a page of readable bytes lies before it.
  char* end() const { return base_ + page_; }

 private:
  char* base_ = nullptr;
  std::size_t page_ = 0;
};

}  // namespace loomreg::testing

#endif
