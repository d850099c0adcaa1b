#include "register_save.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "catalog.h"
#include "message_text.h"
#include "registration.h"
#include "store_location.h"
#include "store_lock.h"

namespace loomreg {

void Report(std::string_view message) { WriteDiagnostic("loomreg", message); }

namespace {

Status MoveError(std::string_view action, const char* from, std::string_view to, int err) {
  return Status::SystemError(action, std::string(from) + " to " + std::string(to), err);
}

}  // namespace

Status MoveNoReplaceAt(const char* from, int to_dir, const char* name, std::string_view to) {
  if (::renameat2(AT_FDCWD, from, to_dir, name, RENAME_NOREPLACE) == 0) return {};
  // Some file systems refuse the no-replace flag itself.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    return MoveError("cannot move", from, to, errno);
  }
  return MoveByLinkAt(from, to_dir, name, to);
}

Status MoveByLinkAt(const char* from, int to_dir, const char* name, std::string_view to) {
  // A hard link fails just as safely as a no-replace rename when the target exists; once it
  // stands, the upload's old name is dropped. linkat() without AT_SYMLINK_FOLLOW links a
  // symbolic link itself, never what it points to.
  if (::linkat(AT_FDCWD, from, to_dir, name, 0) != 0) {
    return MoveError("cannot move", from, to, errno);
  }
  if (::unlink(from) != 0) return Status::SystemError("stored, but cannot remove", from, errno);
  return {};
}

Status MoveNoReplace(const char* from, const char* to) {
  return MoveNoReplaceAt(from, AT_FDCWD, to, to);
}

Status MoveByLink(const char* from, const char* to) { return MoveByLinkAt(from, AT_FDCWD, to, to); }

namespace {

// Opens the style's directory, creating it first when missing, and never through a symbolic
// link: a link in its place would file the upload outside the store.
Status OpenStyleDirectory(const std::string& dir, Fd& fd, bool& created) {
  created = ::mkdir(dir.c_str(), 0777) == 0;
  if (!created && errno != EEXIST) {
    return Status::SystemError("cannot create directory", dir, errno);
  }
  fd = Fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.valid()) return {};
  int err = errno;
  struct stat st;
  if (::lstat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    return Status::Error("cannot store into " + dir + ": " + std::string(FileTypeText(st.st_mode)) +
                         ", not a directory");
  }
  return Status::SystemError("cannot open directory", dir, err);
}

// Flushes `name` in the directory open at `dir`, not following a link.
Status SyncAt(int dir, const char* name, const std::string& shown) {
  Fd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return Status::SystemError("cannot flush", shown, errno);
  if (Status s = SyncFd(fd.get(), shown.c_str()); !s.ok()) return s;
  if (int err = fd.Close()) return Status::SystemError("cannot flush", shown, err);
  return {};
}

// Files the upload under its style; the style's directory is made first in any case. When
// there is nothing to file (no upload, or a file of the name is already stored), one warning
// says so and the save goes on. Anything else that keeps the upload from being filed stops the
// save: an upload that is not a regular file (left as it is), a style path that is not a
// directory or is a symbolic link, or a failing mkdir, rename or flush.
Status StoreUpload(const SavePaths& paths, const std::string& file) {
  Fd style;
  bool new_style = false;
  if (Status s = OpenStyleDirectory(paths.style_dir, style, new_style); !s.ok()) return s;
  auto keep_new_style = [&]() -> Status {
    return new_style ? SyncParentDirectory(paths.upload) : Status();
  };

  struct stat st;
  if (::lstat(paths.upload.c_str(), &st) != 0) {
    if (errno != ENOENT) return Status::SystemError("cannot store", paths.upload, errno);
    Report("upload not stored as " + QuoteForMessage(paths.stored) + ": there is no upload " +
           QuoteForMessage(paths.upload));
    return keep_new_style();
  }
  if (!S_ISREG(st.st_mode)) {
    return Status::Error("cannot store " + paths.upload + ": " +
                         std::string(FileTypeText(st.st_mode)) + ", not a regular file");
  }
  Status moved = MoveNoReplaceAt(paths.upload.c_str(), style.get(), file.c_str(), paths.stored);
  if (!moved.ok()) {
    if (moved.error() != EEXIST) return moved;
    Report("upload not stored: " + QuoteForMessage(file) + " is already stored as " +
           QuoteForMessage(paths.stored) + "; the upload stays as " +
           QuoteForMessage(paths.upload));
    return keep_new_style();
  }
  if (Status s = SyncAt(style.get(), file.c_str(), paths.stored); !s.ok()) return s;
  if (Status s = SyncFd(style.get(), paths.style_dir.c_str()); !s.ok()) return s;
  return SyncParentDirectory(paths.upload);
}

}  // namespace

int RegisterSaveUntil(const SaveRequest& r, std::chrono::steady_clock::time_point lock_deadline) {
  if (Status refused = CheckRequest(r); !refused.ok()) {
    Report("refused: " + refused.message());
    return -1;
  }
  const SavePaths paths = BuildSavePaths(r);

  StoreLock lock;
  switch (lock.Acquire(paths.lock.c_str(), lock_deadline)) {
    case StoreLock::Result::kLocked:
      break;
    case StoreLock::Result::kTimedOut:
      Report("refused: " + StayedLockedText("another save, a check or loomreg-check --hold"));
      return -1;
    case StoreLock::Result::kUnavailable:
      // Without the lock a concurrent save, here or on another host, could write over this
      // one's lines: no save goes on unlocked.
      Report("refused: cannot take the store lock: " + lock.error() +
             MissingStoreHint(lock.error_number()) +
             LockAccessHint(paths.lock, lock.error_number(), "the save"));
      return -1;
  }

  // Each step names what it updates, for the message when it stops the save. A file or
  // directory that does not exist most often means no store, or the wrong working directory.
  auto stopped = [](std::string_view step, const Status& status) {
    Report("save stopped at the " + std::string(step) + ": " + status.message() +
           MissingStoreHint(status.error()));
    return -1;
  };
  if (Status s =
          AppendHistory(paths.history.c_str(), r.file, r.style, r.beam, r.comment, r.machine);
      !s.ok()) {
    return stopped("save history", s);
  }
  if (Status s = AppendLine(paths.machine_files.c_str(), r.file); !s.ok()) {
    return stopped("machine's file list", s);
  }
  if (Status s = AddIfAbsent(paths.machine_list.c_str(), r.machine); !s.ok()) {
    return stopped("machine list", s);
  }
  if (Status s = AddToFileList(paths.file_list.c_str(), r.file); !s.ok()) {
    return stopped("file list", s);
  }

  if (Status s = StoreUpload(paths, r.file); !s.ok()) return stopped("stored settings file", s);

  if (Status s = AddIfAbsent(paths.kind_list.c_str(), r.style); !s.ok()) {
    return stopped("style list", s);
  }
  if (Status s = AppendLine(paths.style_files.c_str(), r.file); !s.ok()) {
    return stopped("style's file list", s);
  }
  if (Status s = WriteStamp(paths.stamp.c_str(), r.machine, std::time(nullptr)); !s.ok()) {
    return stopped("machine stamp", s);
  }
  return 0;
}

}  // namespace loomreg

extern "C" int RegisterSave(const char* file, const char* style, const char* beam,
                            const char* comment, const char* machine, const char* top_beam) {
  auto text = [](const char* value) { return std::string(value ? value : ""); };
  loomreg::SaveRequest request{text(file),    text(style),    text(beam),  text(comment),
                               text(machine), text(top_beam), std::nullopt};
  return loomreg::RegisterSaveUntil(request, std::chrono::steady_clock::now() + loomreg::kLockWait);
}
