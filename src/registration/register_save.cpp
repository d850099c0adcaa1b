#include "register_save.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "catalog.h"
#include "registration.h"
#include "siteconfig.h"
#include "store_location.h"
#include "store_lock.h"

namespace loomreg {

void Report(std::string_view message) {
  std::string line = "loomreg: ";
  line += message;
  line += '\n';
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

Status MoveNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return {};
  // Some file systems refuse the no-replace flag itself.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    return Status::SystemError("cannot move", from, errno);
  }
  return MoveByLink(from, to);
}

Status MoveByLink(const char* from, const char* to) {
  // A hard link fails just as safely as a no-replace rename when the target exists; once it
  // stands, the upload's old name is dropped.
  if (::link(from, to) != 0) return Status::SystemError("cannot move", from, errno);
  if (::unlink(from) != 0) return Status::SystemError("stored, but cannot remove", from, errno);
  return {};
}

namespace {

// Files the upload under its style. That it cannot be moved (a file of the name is already
// stored, or there is no upload) does not stop the save; only failing to make a move that
// happened durable does.
Status StoreUpload(const SavePaths& paths) {
  bool new_style = ::mkdir(paths.style_dir.c_str(), 0777) == 0;
  // Only a regular file is an upload: a link, directory or device in its place is left alone.
  struct stat st;
  if (::lstat(paths.upload.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return Status::Error("cannot store " + paths.upload + ": not a regular file");
  }
  Status moved = MoveNoReplace(paths.upload.c_str(), paths.stored.c_str());
  if (!moved.ok()) {
    Report("upload not stored as " + QuoteForMessage(paths.stored) + ": " + moved.message());
  } else {
    if (Status s = SyncPath(paths.stored.c_str()); !s.ok()) return s;
    if (Status s = SyncPath(paths.style_dir.c_str()); !s.ok()) return s;
  }
  if (moved.ok() || new_style) return SyncParentDirectory(paths.upload);
  return {};
}

}  // namespace

int RegisterSaveUntil(const SaveRequest& r, std::chrono::steady_clock::time_point lock_deadline) {
  if (std::string why = CheckSaveRequest(r); !why.empty()) {
    Report("refused: " + why);
    return -1;
  }
  const SavePaths paths = BuildSavePaths(r);

  StoreLock lock;
  switch (lock.Acquire(paths.lock.c_str(), lock_deadline)) {
    case StoreLock::Result::kLocked:
      break;
    case StoreLock::Result::kTimedOut:
      Report("refused: the data store stayed locked by another save for " +
             std::to_string(kLockWait.count()) + " seconds");
      return -1;
    case StoreLock::Result::kUnavailable:
      // Without the lock a concurrent save, here or on another host, could write over this
      // one's lines: no save goes on unlocked.
      Report("refused: cannot take the store lock: " + lock.error() +
             MissingStoreHint(lock.error_number()));
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

  if (Status s = StoreUpload(paths); !s.ok()) return stopped("stored settings file", s);

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
