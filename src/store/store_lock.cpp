#include "store_lock.h"

#include <fcntl.h>

#include <cerrno>

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
  if (Status regular = RequireRegular(fd_.handle(), "cannot lock", lock_file.shown);
      !regular.ok()) {
    fd_ = Fd();
    return regular;
  }

  const os::Error locked =
      os::Lock(fd_.handle(),
               mode == Mode::kShared ? os::LockMode::kShared : os::LockMode::kExclusive, deadline);
  if (locked.ok()) return {};
  fd_ = Fd();
  if (locked.kind == os::Kind::kTimedOut) {
    return Status::TimedOut("the wait for the lock " + lock_file.shown + " ran out");
  }
  return Status::SystemError("cannot lock", lock_file.shown, locked);
}

}  // namespace loomreg
