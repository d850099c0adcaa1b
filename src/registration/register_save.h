#ifndef LOOMREG_REGISTRATION_REGISTER_SAVE_H
#define LOOMREG_REGISTRATION_REGISTER_SAVE_H

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "file_io.h"
#include "save_request.h"
#include "store.h"
#include "store_lock.h"

namespace loomreg {

// What a save did: the warnings of a save that went on (nothing to file, or a file of the name
// already stored), and, for a refused or stopped save, why ("refused: ...", "save stopped at
// the ...: ..."). The program prints them, warnings first.
struct SaveOutcome {
  std::vector<std::string> warnings;
  Status failure;
};

// The registration transaction on `store`. Waits for the store lock until `lock_deadline`.
SaveOutcome RegisterSaveUntil(const Store& store, const SaveRequest& request,
                              std::chrono::steady_clock::time_point lock_deadline);

// Prints the outcome's warnings and failure; returns the run's result, 0 or -1.
int ReportOutcome(const SaveOutcome& outcome);

// Moves `from` to `to` unless something already exists at `to`; never replaces a file. A
// failure because `to` exists has kind() os::Kind::kExists.
Status MoveNoReplace(const Place& from, const Place& to);
// The same by link() and unlink(), for file systems that cannot rename without replacing.
Status MoveByLink(const Place& from, const Place& to);
// The same, on FUSE: by link() and unlink() first, by the no-replace rename only where the file
// system has no hard links.
Status MoveLinkFirst(const Place& from, const Place& to);

// Writes "loomreg: <message>" and a newline to standard error.
void Report(std::string_view message);

}  // namespace loomreg

#endif
