#include "hold.h"

#include <string>
#include <vector>

#include "command_line.h"
#include "file_io.h"
#include "message_text.h"
#include "store.h"

namespace loomreg {

Status LockFailure(const Store& store, const Status& failed, std::chrono::seconds lock_wait) {
  if (failed.timed_out()) return Status::Error(StayedLockedText("a save", lock_wait));
  return store.ExplainLockAccess(store.ExplainMissing(failed), "loomreg-check");
}

int Hold(const Store& store, const char* const* command, std::chrono::seconds lock_wait) {
  StoreLock lock;
  if (Status locked =
          lock.Acquire(store.At(store.paths().lock), std::chrono::steady_clock::now() + lock_wait);
      !locked.ok()) {
    Complain(LockFailure(store, locked, lock_wait).message());
    return 125;
  }
  std::vector<std::string> words;
  for (const char* const* word = command; *word != nullptr; ++word) words.emplace_back(*word);
  int status = 125;
  os::RunStep failed = os::RunStep::kPass;
  if (os::Error ran = os::RunHolding(words, lock.handle(), status, failed); !ran.ok()) {
    switch (failed) {
      case os::RunStep::kPass:
        Complain("cannot pass the lock on to the command: " + ran.text);
        break;
      case os::RunStep::kStart:
        Complain(Status::SystemError("cannot run", QuoteForMessage(command[0]), ran).message());
        break;
      case os::RunStep::kWait:
        Complain("cannot wait for the command: " + ran.text);
        break;
    }
  }
  return status;
}

}  // namespace loomreg
