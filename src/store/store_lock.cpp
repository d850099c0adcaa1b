#include "store_lock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "shared_file.h"

namespace loomreg {
namespace {

// Opens the lock file, creating it when missing and `create` says so. A write lock needs write
// access; a read lock needs only read access, so a shared lock is still possible on a store
// that is read-only for this user.
int OpenLockFile(const Place& path, StoreLock::Mode mode, StoreLock::Create create) {
  const int flags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
  int fd = OpenRetrying(path, flags | O_RDWR);
  if (fd < 0 && errno == ENOENT && create == StoreLock::Create::kYes) {
    Status created = CreateSharedFile(path, "");
    if (!created.ok() && created.error() != EEXIST) {
      errno = created.error() != 0 ? created.error() : EIO;
      return -1;
    }
    fd = OpenRetrying(path, flags | O_RDWR);
  }
  if (fd < 0 && mode == StoreLock::Mode::kShared && (errno == EACCES || errno == EROFS)) {
    int first = errno;
    fd = OpenRetrying(path, flags | O_RDONLY);
    if (fd < 0 && errno == ENOENT) errno = first;
  }
  return fd;
}

}  // namespace

std::string StayedLockedText(std::string_view holder, std::chrono::seconds wait) {
  return "the data store stayed locked by " + std::string(holder) + " for " +
         std::to_string(wait.count()) + " seconds";
}

Status StoreLock::Acquire(const Place& lock_file, std::chrono::steady_clock::time_point deadline,
                          Mode mode, Create create) {
  auto unavailable = [&](std::string_view action) {
    Status failed = Status::SystemError(action, lock_file.shown, errno);
    fd_ = Fd();
    return failed;
  };
  fd_ = Fd(OpenLockFile(lock_file, mode, create));
  if (!fd_.valid()) return unavailable("cannot open");
  if (Status regular = RequireRegular(fd_.get(), "cannot lock", lock_file.shown); !regular.ok()) {
    fd_ = Fd();
    return regular;
  }

  struct flock request = {};
  request.l_type = mode == Mode::kShared ? F_RDLCK : F_WRLCK;
  request.l_whence = SEEK_SET;  // l_start 0 and l_len 0: the whole file
  // Poll rather than block, so that the wait ends at the deadline without signals.
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    if (::fcntl(fd_.get(), F_OFD_SETLK, &request) == 0) return {};
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EACCES) return unavailable("cannot lock");
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      fd_ = Fd();
      return Status::TimedOut("the wait for the lock " + lock_file.shown + " ran out");
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

}  // namespace loomreg
