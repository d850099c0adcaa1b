#include "directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "raw_descriptor.h"

namespace loomreg {
namespace {

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kDirectory;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

EntryKind KindOf(DIR* dir, const dirent& entry) {
  switch (entry.d_type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kDirectory;
    case DT_LNK:
      return EntryKind::kLink;
    case DT_UNKNOWN: {
      // Some file systems give no type at all.
      struct stat st;
      if (::fstatat(::dirfd(dir), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryKind::kOther;
      }
      return KindOfMode(st.st_mode);
    }
    default:
      return EntryKind::kOther;
  }
}

struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

Listing ReadDirectory(const Place& place) {
  Listing listing;
  const std::string& path = place.shown;
  // The path table's directories may be links, and are followed, as opendir() would.
  Fd fd(
      raw::Own(::openat(raw::Dir(place), place.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  std::unique_ptr<DIR, CloseDir> dir(fd.valid() ? ::fdopendir(raw::Of(fd)) : nullptr);
  if (dir != nullptr) (void)fd.Release();
  if (dir == nullptr) {
    listing.status_ = Status::SystemError("cannot list", path, errno);
    return listing;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) listing.status_ = Status::SystemError("cannot list", path, errno);
      return listing;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    listing.slots_.push_back({listing.names_.size(), static_cast<std::uint32_t>(name.size()),
                              KindOf(dir.get(), *entry)});
    listing.names_ += name;
  }
}

}  // namespace loomreg
