#include "store_lock.h"

#include <cerrno>

#include "shared_file.h"

namespace loomreg {
namespace {

// Opens the lock file, creating it when missing and `create` says so. A write lock needs write
// access; a read lock needs only read access, so a shared lock is still possible on a store
// that is read-only for this user.
os::Error OpenLockFile(const Place& path, StoreLock::Mode mode, StoreLock::Create create,
                       os::Handle& out) {
  // Any type: the caller judges what it opened, and names the lock in its message.
  os::OpenOptions options{os::Access::kReadWrite, os::Create::kNo, os::Links::kRefuse, true};
  auto open = [&] { return os::OpenFile(path.directory(), path.name, options, out); };
  os::Error error = open();
  if (error.kind == os::Kind::kNotFound && create == StoreLock::Create::kYes) {
    Status created = CreateSharedFile(path, "");
    if (!created.ok() && created.kind() != os::Kind::kExists) {
      // The system's reason why the file could not be made, or else an I/O error.
      if (created.reason().empty()) return os::FromErrno(EIO);
      return created.failure();
    }
    error = open();
  }
  if (!error.ok() && mode == StoreLock::Mode::kShared && error.kind == os::Kind::kAccess) {
    options.access = os::Access::kRead;
    os::Error read_only = open();
    if (read_only.kind != os::Kind::kNotFound) error = std::move(read_only);
  }
  // A link in place of the lock file is reported in the system's words for the refused open.
  if (error.kind == os::Kind::kLink && error.code != 0) error.text = os::ErrorText(error.code);
  return error;
}

}  // namespace

std::string StayedLockedText(std::string_view holder, std::chrono::seconds wait) {
  return "the data store stayed locked by " + std::string(holder) + " for " +
         std::to_string(wait.count()) + " seconds";
}

Status StoreLock::Acquire(const Place& lock_file, std::chrono::steady_clock::time_point deadline,
                          Mode mode, Create create) {
  os::Handle file;
  if (os::Error opened = OpenLockFile(lock_file, mode, create, file); !opened.ok()) {
    fd_ = Fd();
    return Status::SystemError("cannot open", lock_file.shown, opened);
  }
  fd_ = Fd(std::move(file));
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
