// loomreg-check --hold: a command run while it holds the lock a save takes.
#ifndef LOOMREG_STORECHECK_HOLD_H
#define LOOMREG_STORECHECK_HOLD_H

#include <chrono>

#include "file_io.h"
#include "store.h"
#include "store_layout.h"
#include "store_lock.h"

namespace loomreg {

// Why the lock could not be taken, as Acquire `failed`: the lock stayed taken for
// `lock_wait`, or the lock file could not be opened (with where the store was looked for, and
// who may open it).
Status LockFailure(const Store& store, const Status& failed, std::chrono::seconds lock_wait);

// Runs `command` under the store lock and returns its exit status: 128 + the signal when a
// signal ended it, 127 when it cannot be found, 126 when it cannot be run, 125 when the lock
// cannot be taken. Says on standard error why it did not run the command to its end.
//
// On POSIX the command inherits the open file description that holds the lock (an OFD lock
// belongs to it, not to a process), so the lock is held for as long as the command, or anything
// it started that kept the descriptor, runs: however this process ends, SIGKILL included, no
// save goes on while the command does. The signals that would end this process are passed on to
// the command instead, and the lock is released only after the command has ended. On Windows
// this process keeps the lock until the command has ended, and Ctrl+C does not end it first
// (see os::RunHolding).
int Hold(const Store& store, const char* const* command, std::chrono::seconds lock_wait);

}  // namespace loomreg

#endif
