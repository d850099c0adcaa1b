// Applying a repair to the store: each list is rewritten through a temporary file in its own
// directory and renamed over the old one, so that a crash leaves the old list or the new one,
// never part of either. The caller holds the store lock exclusively.
#ifndef LOOMREG_STORECHECK_REPAIR_H
#define LOOMREG_STORECHECK_REPAIR_H

#include <string>
#include <vector>

#include "check.h"
#include "findings.h"
#include "list_rewrite.h"
#include "store.h"

namespace loomreg {

// Rewrites the list at `path` by `plan`. Records what changed, or one kNotRepaired saying why
// nothing did, in `repairs`; a list that needs no change is left untouched. A list that is a
// symbolic link, has other hard links or does not exist is left alone: a rename would cut the
// link, and the next save creates a missing list.
// With `removed`, the repeats taken out are logged there (at the position in `repairs` where
// they belong) rather than added to `repairs`, whatever their number.
void RepairList(const Store& store, const std::string& path, const RewritePlan& plan,
                std::vector<Repair>& repairs, std::vector<LoggedRepairs>* removed = nullptr);

// Everything a check found to repair, in path order, leftovers first; with `removed`, the
// repeats taken out are logged there, as by RepairList.
std::vector<Repair> RepairStore(const Store& store, const CheckResult& check,
                                std::vector<LoggedRepairs>* removed = nullptr);

}  // namespace loomreg

#endif
