// Files of the store that every user who saves must be able to open for writing, whoever
// creates them: the lock file, and a list a repair creates. Run as root, a tool would otherwise
// leave root's file behind, and every save by the web server's user would be refused.
#ifndef LOOMREG_STORE_SHARED_FILE_H
#define LOOMREG_STORE_SHARED_FILE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "file_io.h"

namespace loomreg {

// The mode of a new file in a directory of mode `dir_mode`: what open() would give it under
// `umask`, with read and write added for every class (owner, group, others) that may write
// the directory. The owner always gets both.
std::uint32_t SharedFileMode(std::uint32_t dir_mode, std::uint32_t umask);

// Creates `place` holding `content`, with SharedFileMode of its directory and, when run as
// root, the directory's owner and group (otherwise, where allowed, its group). The file is
// written under a temporary name in the same directory and linked into place whole, so no
// other process ever opens it with another mode or owner, or half written. Never replaces:
// a file already there fails with kind() os::Kind::kExists. On Windows, where owners and modes
// do not apply, the file takes its directory's ACL.
Status CreateSharedFile(const Place& place, std::string_view content);

// A name for a temporary file: kRepairTempPrefix and six random letters and digits, drawn
// apart for processes that create at once.
std::string DraftName();

// "root:root", or the numbers where the names are unknown.
std::string OwnerText(os::Id uid, os::Id gid);
// "www-data", or the number.
std::string UserText(os::Id uid);
// "0644".
std::string ModeText(std::uint32_t mode);

}  // namespace loomreg

#endif
