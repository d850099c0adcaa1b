// Helpers of the tests of what only POSIX systems have: the umask, the file-size limit and the
// store lock as fcntl() sees it. Built on POSIX systems only, with the tests that use them.
#ifndef LOOMREG_TESTS_POSIX_SUPPORT_H
#define LOOMREG_TESTS_POSIX_SUPPORT_H

#include <cstdint>
#include <filesystem>

namespace loomreg::testing {

// Sets the umask for the life of the object.
class ScopedUmask {
 public:
  explicit ScopedUmask(unsigned mask);
  ~ScopedUmask();
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  unsigned old_;
};

// Limits the size of the files this process writes (ulimit -f) to `bytes` for the life of the
// object, with SIGXFSZ ignored, so that a write past it fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  // Whether the limit was set.
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  std::uint64_t old_soft_ = 0;
  void (*old_handler_)(int) = nullptr;
};

// Whether a plain fcntl() caller, through an open file description of its own, sees a write
// lock held on the whole of `path` (F_OFD_GETLK).
bool WriteLockSeenByFcntl(const std::filesystem::path& path);

}  // namespace loomreg::testing

#endif
