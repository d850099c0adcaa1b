// The store check: the store's directories read once, then one pass over every catalogue, the
// stored files and the stamps, with hash sets for the cross-checks, reading lists as a save
// reads them.
#ifndef LOOMREG_STORECHECK_CHECK_H
#define LOOMREG_STORECHECK_CHECK_H

#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "file_io.h"
#include "findings.h"
#include "list_rewrite.h"
#include "repeat_log.h"
#include "store.h"
#include "store_layout.h"

namespace loomreg {

struct CheckResult {
  std::vector<Finding> findings;  // in report order
  // The repeated names of each each-once list, which can number in the millions: logged apart
  // from `findings` (in line order, by name within a line), and merged in by ForEachFinding.
  std::vector<RepeatLog> repeats;
  // FileList's names that no style stores, by line and name, merged in the same way; each
  // entry's first line is 0.
  std::vector<RepeatLog> unstored;
  std::vector<Status> errors;  // what could not be read; the findings are then incomplete

  // What a repair would rewrite, by list path, and the leftover temporary files it removes.
  std::map<std::string, RewritePlan> rewrites;
  std::vector<std::string> leftovers;
  // The lock file, when it needs the owner and mode of SetValueFileList/; else empty.
  std::string mend_lock;

  std::size_t Count(Severity severity) const;
};

// Calls `visit` for every finding in report order: `findings` with the logged repeats merged
// in. The finding passed is valid only during the call.
void ForEachFinding(const CheckResult& result, const std::function<void(const Finding&)>& visit);

// Checks the store. `now` dates a waiting upload. The caller holds the store lock, or knows it
// cannot.
CheckResult CheckStore(const Store& store, std::time_t now);

}  // namespace loomreg

#endif
