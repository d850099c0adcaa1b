// Where the data store of the working directory lies, and why there: for the messages of a
// store that does not exist, or that was looked for from the wrong directory.
#ifndef LOOMREG_STORE_STORE_LOCATION_H
#define LOOMREG_STORE_STORE_LOCATION_H

#include <string>
#include <string_view>

namespace loomreg {

// The data root of the last BuildPathTable, made absolute against the working directory and
// freed of "." and ".." steps, ending in '/'.
std::string AbsoluteDataRoot();

// "the data root /srv/kvrdata/, from /srv/www/kvr/KVR_PATH.inf", or, when that file is
// missing or unreadable, says that the root is the default and why.
std::string DataRootOrigin();

// When `err` says that a file or directory of the store does not exist: "; ", where the store
// was looked for, and what to do. Empty for any other error, which the system's text explains.
std::string MissingStoreHint(int err);

// When `err` (EACCES) refused the opening of the lock file at `lock` for writing: "; ", who
// runs (`program` and its user), the lock file's owner and mode, and the command that mends
// it. Empty for any other error, or when the lock file cannot be looked at.
std::string LockAccessHint(const std::string& lock, int err, std::string_view program);

}  // namespace loomreg

#endif
