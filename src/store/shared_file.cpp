#include "shared_file.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "store_layout.h"

namespace loomreg {

mode_t SharedFileMode(mode_t dir_mode, mode_t umask) {
  mode_t mode = (0666 & ~umask) | S_IRUSR | S_IWUSR;
  if (dir_mode & S_IWGRP) mode |= S_IRGRP | S_IWGRP;
  if (dir_mode & S_IWOTH) mode |= S_IROTH | S_IWOTH;
  return mode;
}

mode_t CurrentUmask() {
  mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

namespace {

// A temporary file that is removed again unless it was linked into place.
class Draft {
 public:
  explicit Draft(const std::string& dir) : path_(dir + std::string(kRepairTempPrefix) + "XXXXXX") {
    fd_ = Fd(::mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_.valid()) path_.clear();
  }
  ~Draft() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  Draft(const Draft&) = delete;
  Draft& operator=(const Draft&) = delete;

  Fd& fd() { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  Fd fd_;
};

// Puts the finished draft in place under `path` unless a file is there.
int PublishNoReplace(const std::string& draft, const std::string& path) {
  if (::link(draft.c_str(), path.c_str()) == 0) return 0;
  int err = errno;
  // Some file systems have no hard links: a rename that never replaces does as well.
  if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK) {
    if (::renameat2(AT_FDCWD, draft.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
      return 0;
    }
    err = errno;
  }
  return err;
}

}  // namespace

Status CreateSharedFile(const std::string& path, std::string_view content) {
  const std::string dir = DirectoryOf(path);
  struct stat dst;
  if (::stat(dir.c_str(), &dst) != 0) return Status::SystemError("cannot create", path, errno);
  Draft draft(dir);
  if (!draft.fd().valid()) return Status::SystemError("cannot create", path, errno);
  const int fd = draft.fd().get();
  if (::fchmod(fd, SharedFileMode(dst.st_mode, CurrentUmask())) != 0) {
    return Status::SystemError("cannot set the mode of", draft.path(), errno);
  }
  if (::geteuid() == 0) {
    if (::fchown(fd, dst.st_uid, dst.st_gid) != 0) {
      return Status::SystemError("cannot give the directory's owner to", draft.path(), errno);
    }
  } else {
    // A member of the directory's group gives the file that group, as a set-group-ID
    // directory would; for anyone else the file keeps the creator's group.
    (void)::fchown(fd, static_cast<uid_t>(-1), dst.st_gid);
  }
  if (Status s = WriteOnce(fd, draft.path().c_str(), content, -1); !s.ok()) return s;
  if (Status s = SyncFd(fd, draft.path().c_str()); !s.ok()) return s;
  if (int err = draft.fd().Close()) return Status::SystemError("cannot close", draft.path(), err);
  if (int err = PublishNoReplace(draft.path(), path)) {
    return Status::SystemError("cannot create", path, err);
  }
  return SyncPath(dir.c_str());
}

bool MayOpenForWriting(uid_t uid, const struct stat& st) {
  if (uid == 0) return true;
  constexpr mode_t kOwner = S_IRUSR | S_IWUSR, kGroup = S_IRGRP | S_IWGRP,
                   kOthers = S_IROTH | S_IWOTH;
  if (st.st_uid == uid) return (st.st_mode & kOwner) == kOwner;
  bool member = false;
  if (const struct passwd* pw = ::getpwuid(uid)) {
    const std::string name = pw->pw_name;
    const gid_t primary = pw->pw_gid;
    member = primary == st.st_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (!member && ::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
      groups.resize(static_cast<std::size_t>(count));
    }
    for (int i = 0; !member && i < count; ++i)
      member = groups[static_cast<std::size_t>(i)] == st.st_gid;
  }
  if (member) return (st.st_mode & kGroup) == kGroup;
  return (st.st_mode & kOthers) == kOthers;
}

std::string UserText(uid_t uid) {
  if (const struct passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return std::to_string(uid);
}

std::string OwnerText(uid_t uid, gid_t gid) {
  std::string text = UserText(uid) + ":";
  if (const struct group* gr = ::getgrgid(gid)) return text + gr->gr_name;
  return text + std::to_string(gid);
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace loomreg
