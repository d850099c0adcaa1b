#ifndef LOOMREG_REGISTRATION_STORE_LOCK_H
#define LOOMREG_REGISTRATION_STORE_LOCK_H

#include <chrono>

#include "file_io.h"

namespace loomreg {

// A flock() on a data-store directory, held until destruction. Saves and repairs of one store
// take it exclusively on the same directory, so they run one after the other; a read-only check
// takes it shared, so that it sees the store between saves. No file is created for it.
class StoreLock {
 public:
  enum class Result {
    kLocked,       // the lock is held
    kUnavailable,  // the directory cannot be opened or locked: go on without the lock
    kTimedOut,     // another process held it until the deadline
  };
  enum class Mode { kExclusive, kShared };
  Result Acquire(const char* directory, std::chrono::steady_clock::time_point deadline,
                 Mode mode = Mode::kExclusive);
  // After kUnavailable, the errno of the open() or flock() that failed.
  int error() const { return error_; }

 private:
  Fd fd_;
  int error_ = 0;
};

}  // namespace loomreg

#endif
