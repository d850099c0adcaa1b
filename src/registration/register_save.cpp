#include "register_save.h"

#include <ctime>
#include <string>

#include "catalog.h"
#include "message_text.h"
#include "registration.h"
#include "store_lock.h"

namespace loomreg {

void Report(std::string_view message) { WriteDiagnostic("loomreg", message); }

namespace {

Status Move(const Place& from, const Place& to, os::MoveBy how) {
  bool old_name_kept = false;
  os::Error error =
      os::Move(from.directory(), from.name, to.directory(), to.name, how, &old_name_kept);
  if (error.ok()) return {};
  if (old_name_kept) return Status::SystemError("stored, but cannot remove", from.shown, error);
  return Status::SystemError("cannot move", from.shown + " to " + to.shown, error);
}

}  // namespace

Status MoveNoReplace(const Place& from, const Place& to) {
  return Move(from, to, os::MoveBy::kRenameFirst);
}

Status MoveByLink(const Place& from, const Place& to) { return Move(from, to, os::MoveBy::kLink); }

Status MoveLinkFirst(const Place& from, const Place& to) {
  return Move(from, to, os::MoveBy::kLinkFirst);
}

namespace {

// The style's directory, open, and whether this save created it.
struct StyleDirectory {
  os::Root dir;
  bool created = false;
};

// Opens the style's directory, creating it first when missing, and never through a symbolic
// link: a link in its place would file the upload outside the store. The directory is opened
// first, as it exists at every save but the style's first: an mkdir that fails with EEXIST costs
// a round trip on a shared file system.
Result<StyleDirectory> OpenStyleDirectory(const Place& dir) {
  auto open = [&](StyleDirectory& style) {
    return os::Root::OpenBelow(dir.directory(), dir.name, os::Links::kRefuse,
                               os::Root::Hold::kFlushable, style.dir);
  };
  StyleDirectory style;
  if (open(style).ok()) return style;
  // Anything else than a missing directory is judged, and reported, as when mkdir comes first.
  const os::Error made = os::MakeDirectory(dir.directory(), dir.name);
  style.created = made.ok();
  if (!style.created && made.kind != os::Kind::kExists) {
    return Status::SystemError("cannot create directory", dir.shown, made);
  }
  const os::Error opened = open(style);
  if (opened.ok()) return style;
  if (Result<os::Info> st = LinkStatus(dir); st.ok() && st->type != os::Type::kDirectory) {
    return Status::Error("cannot store into " + dir.shown + ": " +
                         std::string(FileTypeText(st->type)) + ", not a directory");
  }
  return Status::SystemError("cannot open directory", dir.shown, opened);
}

// The store directories a save names several files in, held open so that each of those files
// is looked up one component below its directory: on a shared file system that revalidates
// every component at every call, each component saved is a lookup and a permission check fewer.
// A directory that cannot be opened is left out, and its files are named below the data root as
// before, so that every failure and its message stay as they were.
class SaveDirectories {
 public:
  // Opens the directory at `dir`, read-only when it can so that it can be flushed too.
  void Open(const Place& dir, bool flushable) {
    // The directory is named without a closing '/', and the files in it begin with `prefix_`.
    Place named = dir;
    if (named.name.size() > 1 && named.name.ends_with('/')) named.name.pop_back();
    parent_ = dir.root;
    prefix_ = named.name + "/";
    auto open = [&](os::Root::Hold hold) {
      open_ =
          os::Root::OpenBelow(named.directory(), named.name, os::Links::kFollow, hold, dir_).ok();
    };
    if (flushable) open(os::Root::Hold::kFlushable);
    flushable_ = open_;
    if (!open_) open(os::Root::Hold::kNames);
  }
  // `place` named below the open directory, when it lies inside it.
  void Rebase(Place& place) const {
    if (!open_ || place.root != parent_ || place.name.size() <= prefix_.size() ||
        !place.name.starts_with(prefix_)) {
      return;
    }
    place.name.erase(0, prefix_.size());
    place.root = &dir_;
  }
  // Flushes the directory holding `place`: the open one when `place` lies in it and it is open
  // for reading, else as SyncParentDirectory does.
  Status SyncParentOf(const Place& place) const {
    if (flushable_ && place.root == &dir_ && place.name.find('/') == std::string::npos) {
      if (os::Error flushed = dir_.Flush(); !flushed.ok()) {
        return Status::SystemError("cannot flush", place.Parent().shown, flushed);
      }
      return {};
    }
    return SyncParentDirectory(place);
  }

 private:
  const os::Root* parent_ = nullptr;
  std::string prefix_;
  os::Root dir_;
  bool open_ = false, flushable_ = false;
};

// Files the upload under its style; the style's directory is made first in any case. When
// there is nothing to file (no upload, or a file of the name is already stored), a warning
// says so and the save goes on. Anything else that keeps the upload from being filed stops the
// save: an upload that is not a regular file (left as it is), a style path that is not a
// directory or is a symbolic link, or a failing mkdir, rename or flush.
Status StoreUpload(const SavePaths& paths, const SaveDirectories& values, const std::string& file,
                   std::vector<std::string>& warnings) {
  Result<StyleDirectory> style = OpenStyleDirectory(paths.style_dir);
  if (!style.ok()) return style.status();
  auto keep_new_style = [&]() -> Status {
    return style->created ? values.SyncParentOf(paths.upload) : Status();
  };

  Result<os::Info> found = StatAsFound(paths.upload, "cannot store");
  if (!found.ok()) {
    if (found.status().kind() != os::Kind::kNotFound) return found.status();
    warnings.push_back("upload not stored as " + QuoteForMessage(paths.stored.shown) +
                       ": there is no upload " + QuoteForMessage(paths.upload.shown));
    return keep_new_style();
  }
  const os::Info& st = *found;
  if (st.type != os::Type::kRegular) {
    return Status::Error("cannot store " + paths.upload.shown + ": " +
                         std::string(FileTypeText(st.type)) + ", not a regular file");
  }
  const Place stored{&style->dir, file, paths.stored.shown};
  Status moved = os::PrefersLinkFirst(style->dir, st.volume) ? MoveLinkFirst(paths.upload, stored)
                                                             : MoveNoReplace(paths.upload, stored);
  if (!moved.ok()) {
    if (moved.kind() != os::Kind::kExists) return moved;
    warnings.push_back("upload not stored: " + QuoteForMessage(file) + " is already stored as " +
                       QuoteForMessage(paths.stored.shown) + "; the upload stays as " +
                       QuoteForMessage(paths.upload.shown));
    return keep_new_style();
  }
  if (Status s = SyncPlace(stored); !s.ok()) return s;
  if (os::Error flushed = style->dir.Flush(); !flushed.ok()) {
    return Status::SystemError("cannot flush", paths.style_dir.shown, flushed);
  }
  return values.SyncParentOf(paths.upload);
}

// The save's steps under the lock, in their fixed order. Each names what it updates, for the
// message when it stops the save.
Status SaveSteps(const Store& store, const SaveRequest& r, const SavePaths& paths,
                 const SaveDirectories& values, std::vector<std::string>& warnings) {
  // A file or directory that does not exist most often means no store, or the wrong working
  // directory.
  auto stopped = [&](std::string_view step, const Status& status) {
    return Status::Error("save stopped at the " + std::string(step) + ": " +
                         store.ExplainMissing(status).message());
  };
  if (Status s = AppendHistory(paths.history, r.file, r.style, r.beam, r.comment, r.machine);
      !s.ok()) {
    return stopped("save history", s);
  }
  if (Status s = AppendLine(paths.machine_files, r.file); !s.ok()) {
    return stopped("machine's file list", s);
  }
  if (Status s = AddIfAbsent(paths.machine_list, r.machine); !s.ok()) {
    return stopped("machine list", s);
  }
  if (Status s = AddToFileList(paths.file_list, r.file); !s.ok()) return stopped("file list", s);
  if (Status s = StoreUpload(paths, values, r.file, warnings); !s.ok()) {
    return stopped("stored settings file", s);
  }
  if (Status s = AddIfAbsent(paths.kind_list, r.style); !s.ok()) return stopped("style list", s);
  if (Status s = AppendLine(paths.style_files, r.file); !s.ok()) {
    return stopped("style's file list", s);
  }
  if (Status s = WriteStamp(paths.stamp, r.machine, std::time(nullptr)); !s.ok()) {
    return stopped("machine stamp", s);
  }
  return {};
}

}  // namespace

SaveOutcome RegisterSaveUntil(const Store& store, const SaveRequest& r,
                              std::chrono::steady_clock::time_point lock_deadline) {
  SaveOutcome outcome;
  if (Status refused = CheckRequest(store, r); !refused.ok()) {
    outcome.failure = Status::Error("refused: " + refused.message());
    return outcome;
  }
  SavePaths paths = BuildSavePaths(store, r);
  SaveDirectories history_dir, values_dir;
  history_dir.Open(store.At(store.paths().history_dir), false);
  history_dir.Rebase(paths.lock);
  history_dir.Rebase(paths.history);

  StoreLock lock;
  if (Status locked = lock.Acquire(paths.lock, lock_deadline); !locked.ok()) {
    if (locked.timed_out()) {
      outcome.failure = Status::Error(
          "refused: " + StayedLockedText("another save, a check or loomreg-check --hold"));
    } else {
      // Without the lock a concurrent save, here or on another host, could write over this
      // one's lines: no save goes on unlocked.
      outcome.failure = Status::Error(
          "refused: cannot take the store lock: " +
          store.ExplainLockAccess(store.ExplainMissing(locked), "the save").message());
    }
    return outcome;
  }
  // Opened under the lock, which keeps a repair from changing the store meanwhile.
  values_dir.Open(store.At(store.paths().values), true);
  for (Place* place : {&paths.file_list, &paths.style_dir, &paths.upload, &paths.stored}) {
    values_dir.Rebase(*place);
  }
  outcome.failure = SaveSteps(store, r, paths, values_dir, outcome.warnings);
  return outcome;
}

int ReportOutcome(const SaveOutcome& outcome) {
  for (const std::string& warning : outcome.warnings) Report(warning);
  if (outcome.failure.ok()) return 0;
  Report(outcome.failure.message());
  return -1;
}

}  // namespace loomreg

extern "C" int RegisterSave(const char* file, const char* style, const char* beam,
                            const char* comment, const char* machine, const char* top_beam) {
  auto text = [](const char* value) { return std::string(value ? value : ""); };
  loomreg::SaveRequest request{text(file),    text(style),    text(beam),  text(comment),
                               text(machine), text(top_beam), std::nullopt};
  const loomreg::Store store = loomreg::Store::OpenSite();
  return loomreg::ReportOutcome(loomreg::RegisterSaveUntil(
      store, request, std::chrono::steady_clock::now() + loomreg::kLockWait));
}
