#include "shared_file.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
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

std::string DraftName() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // Seeded by the process and the time, so that processes creating at once draw apart.
  static std::uint64_t state =
      static_cast<std::uint64_t>(os::ProcessId()) * 0x9E3779B97F4A7C15u ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::string suffix(6, 'X');
  for (char& c : suffix) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    c = kLetters[state % (sizeof kLetters - 1)];
  }
  return std::string(kRepairTempPrefix) + suffix;
}

namespace {

// A temporary file in the directory open at `dir`, removed again unless it was linked into
// place. Its name begins with kRepairTempPrefix, which no save creates.
class Draft {
 public:
  Draft(int dir, std::string_view shown_dir) : dir_(dir) {
    for (int attempt = 0; attempt < 100 && !fd_.valid(); ++attempt) {
      name_ = DraftName();
      fd_ = Fd(::openat(dir_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600));
      if (!fd_.valid() && errno != EEXIST) break;
    }
    if (!fd_.valid()) name_.clear();
    shown_ = std::string(shown_dir) + name_;
  }
  ~Draft() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }
  Draft(const Draft&) = delete;
  Draft& operator=(const Draft&) = delete;

  Fd& fd() { return fd_; }
  const std::string& name() const { return name_; }
  const std::string& shown() const { return shown_; }

 private:
  int dir_;
  std::string name_, shown_;
  Fd fd_;
};

// Puts the finished draft in place under `name` unless a file is there.
int PublishNoReplace(int dir, const std::string& draft, const std::string& name) {
  if (::linkat(dir, draft.c_str(), dir, name.c_str(), 0) == 0) return 0;
  int err = errno;
  // Some file systems have no hard links: a rename that never replaces does as well.
  if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK) {
    if (::renameat2(dir, draft.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
    err = errno;
  }
  return err;
}

}  // namespace

Status CreateSharedFile(const Place& place, std::string_view content) {
  const Place parent = place.Parent();
  const std::size_t slash = place.name.rfind('/');
  const std::string name = slash == std::string::npos ? place.name : place.name.substr(slash + 1);
  Fd dir(::openat(parent.dir(), parent.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat dst;
  if (!dir.valid() || ::fstat(dir.get(), &dst) != 0) {
    return Status::SystemError("cannot create", place.shown, errno);
  }
  Draft draft(dir.get(), DirectoryOf(place.shown));
  if (!draft.fd().valid()) return Status::SystemError("cannot create", place.shown, errno);
  const int fd = draft.fd().get();
  if (::fchmod(fd, SharedFileMode(dst.st_mode, CurrentUmask())) != 0) {
    return Status::SystemError("cannot set the mode of", draft.shown(), errno);
  }
  if (::geteuid() == 0) {
    if (::fchown(fd, dst.st_uid, dst.st_gid) != 0) {
      return Status::SystemError("cannot give the directory's owner to", draft.shown(), errno);
    }
  } else {
    // A member of the directory's group gives the file that group, as a set-group-ID
    // directory would; for anyone else the file keeps the creator's group.
    (void)::fchown(fd, static_cast<uid_t>(-1), dst.st_gid);
  }
  if (Status s = WriteOnce(draft.fd().handle(), draft.shown(), content, -1); !s.ok()) return s;
  if (Status s = SyncFd(draft.fd().handle(), draft.shown()); !s.ok()) return s;
  if (Status s = draft.fd().Close("cannot close", draft.shown()); !s.ok()) return s;
  if (int err = PublishNoReplace(dir.get(), draft.name(), name)) {
    return Status::SystemError("cannot create", place.shown, err);
  }
  // The draft's name goes as `draft` ends, before `dir` is closed.
  return SyncFd(dir.handle(), parent.shown);
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
