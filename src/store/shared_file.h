// Files of the store that every user who saves must be able to open for writing, whoever
// creates them: the lock file, and a list a repair creates. Run as root, a tool would otherwise
// leave root's file behind, and every save by the web server's user would be refused.
#ifndef LOOMREG_STORE_SHARED_FILE_H
#define LOOMREG_STORE_SHARED_FILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "file_io.h"

namespace loomreg {

// The mode of a new file in a directory of mode `dir_mode`: what open() would give it under
// `umask`, with read and write added for every class (owner, group, others) that may write
// the directory. The owner always gets both.
mode_t SharedFileMode(mode_t dir_mode, mode_t umask);

// The process's umask, read without changing it for good.
mode_t CurrentUmask();

// Creates `place` holding `content`, with SharedFileMode of its directory and, when run as
// root, the directory's owner and group (otherwise, where allowed, its group). The file is
// written under a temporary name in the same directory and linked into place whole, so no
// other process ever opens it with another mode or owner, or half written. Never replaces:
// a file already there fails with error() EEXIST.
Status CreateSharedFile(const Place& place, std::string_view content);

// A name for a temporary file: kRepairTempPrefix and six random letters and digits, drawn
// apart for processes that create at once.
std::string DraftName();

// Whether the user `uid`, with the groups the user database gives it, may open a file of
// status `st` for reading and writing by its permission bits. Root always may.
bool MayOpenForWriting(uid_t uid, const struct stat& st);

// "root:root", or the numbers where the names are unknown.
std::string OwnerText(uid_t uid, gid_t gid);
// "www-data", or the number.
std::string UserText(uid_t uid);
// "0644".
std::string ModeText(mode_t mode);

}  // namespace loomreg

#endif
