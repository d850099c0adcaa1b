#include "shared_file.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "store_layout.h"

namespace loomreg {

std::uint32_t SharedFileMode(std::uint32_t dir_mode, std::uint32_t umask) {
  constexpr std::uint32_t kOwnerReadWrite = 0600, kGroupWrite = 0020, kGroupReadWrite = 0060,
                          kOthersWrite = 0002, kOthersReadWrite = 0006;
  std::uint32_t mode = (0666 & ~umask) | kOwnerReadWrite;
  if (dir_mode & kGroupWrite) mode |= kGroupReadWrite;
  if (dir_mode & kOthersWrite) mode |= kOthersReadWrite;
  return mode;
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

// A temporary file in directory `dir`, removed again unless it was moved into place. Its name
// begins with kRepairTempPrefix, which no save creates. Only its owner may open it until it is
// given its mode.
class Draft {
 public:
  Draft(const os::Root& dir, std::string_view shown_dir) : dir_(dir) {
    os::OpenOptions options{os::Access::kWrite, os::Create::kNew, os::Links::kRefuse};
    options.owner_only = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
      name_ = DraftName();
      os::Handle file;
      error_ = os::OpenFile(dir_, name_, options, file);
      if (error_.ok()) {
        fd_ = Fd(std::move(file));
        break;
      }
      if (error_.kind != os::Kind::kExists) break;
    }
    if (!fd_.valid()) name_.clear();
    shown_ = std::string(shown_dir) + name_;
  }
  ~Draft() {
    if (!name_.empty()) (void)os::Remove(dir_, name_);
  }
  Draft(const Draft&) = delete;
  Draft& operator=(const Draft&) = delete;

  Fd& fd() { return fd_; }
  // Why there is no draft.
  const os::Error& error() const { return error_; }
  const std::string& name() const { return name_; }
  const std::string& shown() const { return shown_; }
  // The draft now stands under another name: nothing to remove.
  void Moved() { name_.clear(); }

 private:
  const os::Root& dir_;
  std::string name_, shown_;
  os::Error error_;
  Fd fd_;
};

}  // namespace

Status CreateSharedFile(const Place& place, std::string_view content) {
  const Place parent = place.Parent();
  const std::size_t slash = place.name.rfind('/');
  const std::string name = slash == std::string::npos ? place.name : place.name.substr(slash + 1);
  os::Root dir;
  os::Info dir_info;
  os::Error error = os::Root::OpenBelow(parent.directory(), parent.name, os::Links::kFollow,
                                        os::Root::Hold::kFlushable, dir);
  if (error.ok()) error = os::StatAt(dir, ".", dir_info);
  if (!error.ok()) return Status::SystemError("cannot create", place.shown, error);
  Draft draft(dir, DirectoryOf(place.shown));
  if (!draft.fd().valid()) return Status::SystemError("cannot create", place.shown, draft.error());
  const os::Handle& file = draft.fd().handle();
  if (os::Error set = os::SetMode(file, SharedFileMode(dir_info.mode, os::CurrentUmask()));
      !set.ok()) {
    return Status::SystemError("cannot set the mode of", draft.shown(), set);
  }
  if (os::EffectiveUser() == 0) {
    if (os::Error set = os::SetOwner(file, dir_info.owner, dir_info.group); !set.ok()) {
      return Status::SystemError("cannot give the directory's owner to", draft.shown(), set);
    }
  } else {
    // A member of the directory's group gives the file that group, as a set-group-ID
    // directory would; for anyone else the file keeps the creator's group.
    (void)os::SetOwner(file, os::kNoId, dir_info.group);
  }
  if (Status s = WriteOnce(file, draft.shown(), content, -1); !s.ok()) return s;
  if (Status s = SyncFd(file, draft.shown()); !s.ok()) return s;
  if (Status s = draft.fd().Close("cannot close", draft.shown()); !s.ok()) return s;
  // A hard link fails, as the no-replace rename does, when a file is there; where the file
  // system has no hard links, the no-replace rename does as well. The draft's name goes after.
  bool draft_kept = false;
  if (os::Error moved = os::Move(dir, draft.name(), dir, name, os::MoveBy::kLinkFirst, &draft_kept);
      !moved.ok() && !draft_kept) {
    return Status::SystemError("cannot create", place.shown, moved);
  }
  if (!draft_kept) draft.Moved();
  if (os::Error flushed = dir.Flush(); !flushed.ok()) {
    return Status::SystemError("cannot flush", parent.shown, flushed);
  }
  return {};
}

std::string UserText(os::Id uid) { return os::UserName(uid); }

std::string OwnerText(os::Id uid, os::Id gid) { return UserText(uid) + ":" + os::GroupName(gid); }

std::string ModeText(std::uint32_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace loomreg
