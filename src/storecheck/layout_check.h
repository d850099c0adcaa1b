// The parts of the store every save needs: its directories, FileList and the lock file; and the
// leftovers of an interrupted repair in the directories that hold lists.
#ifndef LOOMREG_STORECHECK_LAYOUT_CHECK_H
#define LOOMREG_STORECHECK_LAYOUT_CHECK_H

#include <string>
#include <string_view>
#include <vector>

#include "directory.h"
#include "finding_log.h"
#include "store_layout.h"

namespace loomreg {

// The directories a save writes into, and FileList, which a save needs and never creates.
// A missing directory or FileList gets, once, where the store was looked for and how to
// create it; when no directory at all exists, that one line stands for all of them. False
// when the store cannot be read for what is missing.
bool RequireLayout(FindingLog& log, const StorePaths& paths);

// The lock file, when there is one: saves refuse to go on without it, so one they cannot open
// for writing stops every save. Judged for the owner of SetValueFileList/, the user the saves
// run as on any sound store.
void CheckLockFile(FindingLog& log, const StorePaths& paths);

// The regular files of `dir`, which holds one file per style or machine, sorted. Anything else
// there is noted and yields no name: a name is never taken from what a save would refuse to
// read. With `leftovers`, the repair's temporary files are noted as such.
std::vector<std::string_view> RegularFiles(FindingLog& log, const std::string& dir,
                                           const Listing& listing, bool leftovers);

// Notes the repair's temporary files in `dir`.
void FindLeftovers(FindingLog& log, const std::string& dir, const Listing& listing);

// Whether `name` is that of a repair's temporary file.
inline bool IsLeftover(std::string_view name) { return name.starts_with(kRepairTempPrefix); }

}  // namespace loomreg

#endif
