#include "store_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace loomreg {

StoreLock::Result StoreLock::Acquire(const char* directory,
                                     std::chrono::steady_clock::time_point deadline, Mode mode) {
  error_ = 0;
  fd_ = Fd(::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd_.valid()) {
    error_ = errno;
    return Result::kUnavailable;
  }
  // Poll rather than block, so that the wait ends at the deadline without signals.
  const int operation = mode == Mode::kShared ? LOCK_SH : LOCK_EX;
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    if (::flock(fd_.get(), operation | LOCK_NB) == 0) return Result::kLocked;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      error_ = errno;
      fd_ = Fd();
      return Result::kUnavailable;
    }
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      fd_ = Fd();
      return Result::kTimedOut;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

}  // namespace loomreg
