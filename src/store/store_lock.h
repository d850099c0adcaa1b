#ifndef LOOMREG_STORE_STORE_LOCK_H
#define LOOMREG_STORE_STORE_LOCK_H

#include <chrono>
#include <string>
#include <string_view>

#include "file_io.h"
#include "store_layout.h"

namespace loomreg {

// How long a save, a repair or a check waits for the store lock.
inline constexpr std::chrono::seconds kLockWait{10};

// "the data store stayed locked by <holder> for 10 seconds": a wait for the lock that ran out.
std::string StayedLockedText(std::string_view holder, std::chrono::seconds wait = kLockWait);

// An open-file-description lock (F_OFD_SETLK) on the store's lock file, held until destruction.
// Saves and repairs take it exclusively, a read-only check shared. Unlike flock() on a
// directory, an fcntl lock on a regular file is honoured across the clients of network and
// distributed file systems, so saves on several hosts sharing one store run one at a time.
class StoreLock {
 public:
  enum class Mode { kExclusive, kShared };
  // Whether a missing lock file is created. A plain check does not: it only reads the store.
  enum class Create { kYes, kNo };
  // Takes the lock on `lock_file`, waiting for another holder until `deadline`. Fails with
  // timed_out() when the wait runs out, and otherwise as "cannot open PATH: <error>" or
  // "cannot lock PATH: <error>", with kind() and error() those of the call that failed.
  Status Acquire(const Place& lock_file, std::chrono::steady_clock::time_point deadline,
                 Mode mode = Mode::kExclusive, Create create = Create::kYes);
  // The handle that holds the lock; invalid when none is held. Whatever inherits it holds the
  // lock with it.
  const os::Handle& handle() const { return fd_.handle(); }

 private:
  Fd fd_;
};

}  // namespace loomreg

#endif
