#include "layout_check.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "shared_file.h"
#include "store.h"

namespace loomreg {
namespace {

// FileList itself is never followed: a save refuses a link in its place.
bool RequireFileList(FindingLog& log, const StorePaths& paths) {
  Result<os::Info> st = LinkStatus(log.store().Locate(paths.file_list));
  if (!st.ok()) {
    if (st.status().kind() == os::Kind::kNotFound) {
      log.NoteMissingList(paths.file_list,
                          "the file list does not exist, and every save stops at it until it does",
                          "every stored name");
      return true;
    }
    log.Error(
        Status::SystemError("cannot find the file list", paths.file_list, st.status().failure()));
    return false;
  }
  if (st->type != os::Type::kRegular) {
    log.Error(Status::Error("cannot read " + paths.file_list + ": " +
                            log.WrongType(paths.file_list, "a regular file")));
    return false;
  }
  return true;
}

}  // namespace

bool RequireLayout(FindingLog& log, const StorePaths& paths) {
  const std::string* dirs[] = {
      &paths.style_lists, &paths.history_dir,   &paths.machine_lists, &paths.machine_list_dir,
      &paths.values,      &paths.kind_list_dir, &paths.stamps};
  std::vector<Status>& errors = log.result().errors;
  const std::size_t errors_before = errors.size();
  std::size_t missing = 0;
  std::size_t first_missing = 0;  // index in `errors`
  for (const std::string* dir : dirs) {
    Result<os::Info> st = FileStatus(log.store().Locate(*dir));
    if (!st.ok()) {
      if (st.status().kind() == os::Kind::kNotFound && missing++ == 0)
        first_missing = errors.size();
      log.Error(Status::SystemError("cannot find directory", *dir, st.status().failure()));
    } else if (st->type != os::Type::kDirectory) {
      log.Error(Status::SystemError("cannot use directory", *dir, ENOTDIR));
    }
  }
  if (missing == std::size(dirs)) {
    errors.resize(errors_before);
    log.Error(Status::Error("cannot find the data store: none of its directories exists" +
                            log.store().MissingHint()));
    return false;
  }
  if (missing > 0) {
    errors[first_missing] = errors[first_missing].With(log.store().MissingHint());
  }
  if (errors.size() != errors_before) return false;
  return RequireFileList(log, paths);
}

void CheckLockFile(FindingLog& log, const StorePaths& paths) {
  Result<os::Info> lock = LinkStatus(log.store().Locate(paths.lock));
  Result<os::Info> history = FileStatus(log.store().Locate(paths.history_dir));
  if (!lock.ok() || !history.ok()) return;
  const os::Info& st = *lock;
  const os::Info& dir = *history;
  if (st.type != os::Type::kRegular) {
    log.Add(FindingKind::kUnusableLock, paths.lock, 0, std::nullopt,
            std::string(FileTypeText(st.type)) +
                ", not a regular file: no save can take the store lock, and every one is "
                "refused; move it aside, and the next save creates the lock file anew");
    return;
  }
  if (os::MayOpenForWriting(dir.owner, st)) return;
  log.Add(FindingKind::kUnusableLock, paths.lock, 0, std::nullopt,
          "owned by " + OwnerText(st.owner, st.group) + " with mode " + ModeText(st.mode) + ": " +
              UserText(dir.owner) +
              ", the owner of SetValueFileList/, cannot open it for writing, so its saves are "
              "refused; loomreg-check --repair, run as root, mends it");
  log.result().mend_lock = paths.lock;
}

std::vector<std::string_view> RegularFiles(FindingLog& log, const std::string& dir,
                                           const Listing& listing, bool leftovers) {
  std::vector<std::string_view> names;
  listing.ForEach([&](std::string_view name, EntryKind kind) {
    if (leftovers && IsLeftover(name) && kind == EntryKind::kFile) {
      log.NoteLeftover(dir + std::string(name));
    } else if (kind == EntryKind::kFile) {
      names.push_back(name);
    } else {
      log.WrongType(dir + std::string(name), "a regular file");
    }
  });
  if (!listing.status().ok()) log.Error(listing.status());
  std::sort(names.begin(), names.end());
  return names;
}

void FindLeftovers(FindingLog& log, const std::string& dir, const Listing& listing) {
  listing.ForEach([&](std::string_view name, EntryKind kind) {
    if (IsLeftover(name) && kind == EntryKind::kFile) log.NoteLeftover(dir + std::string(name));
  });
  if (!listing.status().ok()) log.Error(listing.status());
}

}  // namespace loomreg
