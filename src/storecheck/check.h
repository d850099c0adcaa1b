// The store check: one pass over every catalogue, the stored files and the stamps, with hash
// sets for the cross-checks, reading lists as a save reads them.
#ifndef LOOMREG_STORECHECK_CHECK_H
#define LOOMREG_STORECHECK_CHECK_H

#include <cstddef>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "findings.h"
#include "list_rewrite.h"
#include "store_paths.h"

namespace loomreg {

struct CheckResult {
  std::vector<Finding> findings;    // in report order
  std::vector<std::string> errors;  // what could not be read; the findings are then incomplete

  // What a repair would rewrite, by list path, and the leftover temporary files it removes.
  std::map<std::string, RewritePlan> rewrites;
  std::vector<std::string> leftovers;

  std::size_t Count(Severity severity) const;
};

// Checks the store. `now` dates a waiting upload. The caller holds the store lock, or knows it
// cannot.
CheckResult CheckStore(const StorePaths& paths, std::time_t now);

}  // namespace loomreg

#endif
