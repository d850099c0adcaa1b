#ifndef LOOMREG_STORECHECK_CHECK_COMMAND_H
#define LOOMREG_STORECHECK_CHECK_COMMAND_H

#include <chrono>

#include "store_lock.h"

namespace loomreg {

// The whole loomreg-check program: command line, lock, check, repair, report. Waits up to
// `lock_wait` for the store lock. Returns the exit status.
int CheckMain(int argc, const char* const* argv, std::chrono::seconds lock_wait = kLockWait);

}  // namespace loomreg

#endif
