#include "directory.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace loomreg {

DirectoryReader::DirectoryReader(const std::string& path) {
  dir_ = ::opendir(path.c_str());
  if (dir_ == nullptr) error_ = errno;
}

DirectoryReader::~DirectoryReader() {
  if (dir_ != nullptr) ::closedir(dir_);
}

bool DirectoryReader::Next(std::string_view& name, EntryKind& kind) {
  if (dir_ == nullptr || error_ != 0) return false;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir_);
    if (entry == nullptr) {
      error_ = errno;
      return false;
    }
    name = entry->d_name;
    if (name == "." || name == "..") continue;
    switch (entry->d_type) {
      case DT_REG:
        kind = EntryKind::kFile;
        return true;
      case DT_DIR:
        kind = EntryKind::kDirectory;
        return true;
      case DT_LNK:
        kind = EntryKind::kLink;
        return true;
      case DT_UNKNOWN: {
        // Some file systems give no type at all.
        struct stat st;
        if (::fstatat(::dirfd(dir_), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          kind = EntryKind::kOther;
        } else if (S_ISREG(st.st_mode)) {
          kind = EntryKind::kFile;
        } else if (S_ISDIR(st.st_mode)) {
          kind = EntryKind::kDirectory;
        } else if (S_ISLNK(st.st_mode)) {
          kind = EntryKind::kLink;
        } else {
          kind = EntryKind::kOther;
        }
        return true;
      }
      default:
        kind = EntryKind::kOther;
        return true;
    }
  }
}

}  // namespace loomreg
