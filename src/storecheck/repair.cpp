#include "repair.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "file_io.h"
#include "list_format.h"
#include "message_text.h"
#include "progress.h"
#include "shared_file.h"
#include "store_layout.h"

namespace loomreg {
namespace {

constexpr std::size_t kFlushAt = 1 << 20;

// A temporary file beside a list, in the list's directory, removed again unless it was renamed
// into place.
class TempFile {
 public:
  // Creates "<kRepairTempPrefix>XXXXXX" with mode 0600 in the directory of `list`.
  static Result<TempFile> Create(const Place& list) {
    const Place parent = list.Parent();
    const std::string shown_dir = DirectoryOf(list.shown);
    TempFile temp;
    // Held readable, so that the rename into it can be flushed.
    if (os::Error opened = os::Root::OpenBelow(parent.directory(), parent.name, os::Links::kFollow,
                                               os::Root::Hold::kFlushable, temp.dir_);
        !opened.ok()) {
      return Status::SystemError("cannot create a temporary file in", shown_dir, opened);
    }
    os::OpenOptions options;
    options.access = os::Access::kReadWrite;
    options.create = os::Create::kNew;
    options.owner_only = true;
    os::Error created;
    for (int attempt = 0; attempt < 100 && !temp.fd_.valid(); ++attempt) {
      temp.name_ = DraftName();
      os::Handle file;
      created = os::OpenFile(temp.dir_, temp.name_, options, file);
      temp.fd_ = Fd(std::move(file));
      if (!created.ok() && created.kind != os::Kind::kExists) break;
    }
    if (!temp.fd_.valid()) {
      temp.name_.clear();
      return Status::SystemError("cannot create a temporary file in", shown_dir, created);
    }
    temp.path_ = shown_dir + temp.name_;
    return temp;
  }
  ~TempFile() {
    fd_.Reset();
    if (!name_.empty()) (void)os::Remove(dir_, name_);
  }
  TempFile(TempFile&& other) noexcept
      : dir_(std::move(other.dir_)),
        name_(std::exchange(other.name_, {})),
        path_(std::move(other.path_)),
        fd_(std::move(other.fd_)) {}
  TempFile& operator=(TempFile&&) = delete;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  Fd& fd() { return fd_; }
  // The directory, open, that holds the file and the list.
  const os::Root& dir() const { return dir_; }
  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }
  // The file now has another name: nothing to remove.
  void Release() { name_.clear(); }

 private:
  TempFile() = default;

  os::Root dir_;
  std::string name_;
  std::string path_;  // for messages
  Fd fd_;
};

// The name of `list` in its directory.
std::string BaseName(const Place& list) {
  const std::size_t slash = list.name.rfind('/');
  return slash == std::string::npos ? list.name : list.name.substr(slash + 1);
}

// Whether two looks at a list saw one file, unchanged.
bool SameFile(const os::Info& a, const os::Info& b) {
  return a.volume == b.volume && a.id == b.id && a.size == b.size && a.modified == b.modified &&
         a.modified_ns == b.modified_ns;
}

// The status of the list at `path`, when a rename may replace it: a regular file with no other
// name.
Result<os::Info> Replaceable(const Place& list) {
  os::Info before;
  if (os::Error found = os::StatAt(list.directory(), list.name, before, os::Links::kRefuse);
      !found.ok()) {
    if (found.kind == os::Kind::kNotFound)
      return Status::Error("the list does not exist yet; the next save creates it");
    return Status::SystemError("cannot find", list.shown, found);
  }
  if (before.type == os::Type::kLink)
    return Status::Error("a symbolic link: the rename would replace the link");
  if (before.type != os::Type::kRegular) return Status::Error("not a regular file");
  if (before.links > 1)
    return Status::Error("the file has other hard links, which the rename would cut");
  return before;
}

// Writes the list open at `in` into `temp` as `rewriter` rewrites it.
Status WriteRewritten(const Fd& in, const std::string& path, ListRewriter& rewriter,
                      TempFile& temp) {
  ProgressBegin("rewriting", path, in.handle());
  LineReader reader(in.handle(), path, LineReader::kBlock, ProgressAdvance);
  std::string out;
  auto flush = [&] {
    Status written = WriteAll(temp.fd().handle(), temp.path(), out);
    out.clear();
    return written;
  };
  LineRead read;
  while ((read = reader.Next()).line != nullptr) {
    rewriter.Line(*read.line, out);
    if (out.size() >= kFlushAt) {
      if (Status written = flush(); !written.ok()) return written;
    }
  }
  if (!read.status.ok()) return read.status;
  rewriter.Finish(out);
  return flush();
}

// Makes the rewritten list durable and renames it over the list, unless the list changed
// since `before`. The list, open at `in`, is closed before the rename: Windows renames over a
// file no handle holds.
Status Commit(Fd& in, const Place& list, const os::Info& before, TempFile& temp) {
  if (Status flushed = SyncFd(temp.fd().handle(), temp.path()); !flushed.ok()) return flushed;
  if (Status closed = temp.fd().Close("cannot close", temp.path()); !closed.ok()) return closed;
  // Saves wait for the lock we hold; anything else that wrote to the list meanwhile would lose
  // its text in the rename.
  os::Info now_open, now_named;
  const std::string name = BaseName(list);
  if (!os::Stat(in.handle(), now_open, os::Attributes::kFresh).ok() ||
      !SameFile(before, now_open) ||
      !os::StatAt(temp.dir(), name, now_named, os::Links::kRefuse).ok() ||
      !SameFile(before, now_named)) {
    return Status::Error("the list changed while it was being repaired");
  }
  in.Reset();
  if (os::Error renamed = os::RenameOver(temp.dir(), temp.name(), name); !renamed.ok()) {
    return Status::SystemError("cannot rename the repaired list over", list.shown, renamed);
  }
  temp.Release();
  return {};
}

// The rewrite itself, through a temporary file renamed over the list.
Status ReplaceList(const Place& list, const RewritePlan& plan, std::vector<Repair>& changes,
                   RepeatLog* removed) {
  const std::string& path = list.shown;
  const Result<os::Info> before = Replaceable(list);
  if (!before.ok()) return before.status();
  os::OpenOptions options;
  options.any_type = true;
  os::Handle list_file;
  if (os::Error error = os::OpenFile(list.directory(), list.name, options, list_file);
      !error.ok()) {
    return Status::SystemError("cannot open", path, error);
  }
  Fd in(std::move(list_file));
  os::Info opened;
  if (!os::Stat(in.handle(), opened, os::Attributes::kFresh).ok() || !SameFile(*before, opened)) {
    return Status::Error("the list changed while it was being repaired");
  }

  const std::string dir = DirectoryOf(path);
  Result<TempFile> created = TempFile::Create(list);
  if (!created.ok()) return created.status();
  TempFile& temp = *created;
  // The new list must serve the web server as the old one did: same mode, same owner.
  // (Windows: the file takes its directory's ACL, as the old list did, and these pass.)
  if (os::Error error = os::SetMode(temp.fd().handle(), before->mode); !error.ok()) {
    return Status::SystemError("cannot set the mode of", temp.path(), error);
  }
  if (before->owner != os::EffectiveUser() || before->group != os::EffectiveGroup()) {
    if (os::Error error = os::SetOwner(temp.fd().handle(), before->owner, before->group);
        !error.ok()) {
      return Status::SystemError("cannot give the old list's owner to", temp.path(), error);
    }
  }

  ListRewriter rewriter(plan, path, removed);
  if (Status written = WriteRewritten(in, path, rewriter, temp); !written.ok()) {
    return written;
  }
  if (!rewriter.changed()) return {};  // nothing to change after all
  if (Status committed = Commit(in, list, *before, temp); !committed.ok()) return committed;
  changes = rewriter.repairs();

  // The rename is durable once the directory is.
  if (os::Error flushed = temp.dir().Flush(); !flushed.ok()) {
    changes.push_back({RepairAction::kWarning, path, 0, std::nullopt,
                       Status::SystemError("cannot flush the directory", dir, flushed).message() +
                           ": the repair may not survive a crash"});
  }
  return {};
}

// Creates a missing each-once list holding the names to add, one per line, as a save writes
// them, for every user who saves (see CreateSharedFile). A file that stands there by now is
// never replaced.
Status CreateList(const Place& list, const RewritePlan& plan, std::vector<Repair>& changes) {
  const std::string& path = list.shown;
  std::string text;
  for (const std::string& name : plan.add) text += name + std::string(kLineEnd);
  Status created = CreateSharedFile(list, text);
  if (!created.ok()) {
    if (created.kind() == os::Kind::kExists) {
      return Status::Error("the list appeared while it was being repaired");
    }
    return created;
  }
  const std::size_t n = plan.add.size();
  changes.push_back(
      {RepairAction::kCreatedList, path, 0, std::nullopt,
       "created the missing list, holding " + std::to_string(n) + (n == 1 ? " name" : " names")});
  return {};
}

// Gives the lock file the owner and group of its directory, and read and write for each class
// that may write there, keeping every bit it has. Only root may give a file away; the lock
// file is never replaced or removed, since saves may hold it open.
Status MendLock(const Store& store, const std::string& lock, std::vector<Repair>& changes) {
  if (os::EffectiveUser() != 0) {
    return Status::Error(
        "only root can give the lock file the owner of its directory: run "
        "loomreg-check --repair as root");
  }
  const Place place = store.Locate(lock);
  os::OpenOptions options;
  options.any_type = true;
  os::Handle lock_file;
  if (os::Error error = os::OpenFile(place.directory(), place.name, options, lock_file);
      !error.ok()) {
    return Status::OpenError(place, error);
  }
  Fd fd(std::move(lock_file));
  os::Info st;
  if (Status regular = RequireRegular(fd.handle(), "cannot mend", lock, &st); !regular.ok()) {
    return regular;
  }
  const std::string dir_path = DirectoryOf(lock);
  Result<os::Info> found = FileStatus(place.Parent());
  if (!found.ok()) {
    return Status::SystemError("cannot find", dir_path, found.status().failure());
  }
  const os::Info& dir = *found;
  const std::uint32_t mode = st.mode | SharedFileMode(dir.mode, 0777);
  if (os::Error error = os::SetOwner(fd.handle(), dir.owner, dir.group); !error.ok()) {
    return Status::SystemError("cannot give the directory's owner to", lock, error);
  }
  if (os::Error error = os::SetMode(fd.handle(), mode); !error.ok()) {
    return Status::SystemError("cannot set the mode of", lock, error);
  }
  changes.push_back({RepairAction::kMendedLock, lock, 0, std::nullopt,
                     "gave the lock file the owner " + OwnerText(dir.owner, dir.group) +
                         " and mode " + ModeText(mode)});
  return {};
}

}  // namespace

void RepairList(const Store& store, const std::string& path, const RewritePlan& plan,
                std::vector<Repair>& repairs, std::vector<LoggedRepairs>* removed) {
  std::vector<Repair> changes;
  RepeatLog log(path);
  const Place list = store.Locate(path);
  Status replaced = plan.missing
                        ? CreateList(list, plan, changes)
                        : ReplaceList(list, plan, changes, removed != nullptr ? &log : nullptr);
  if (!replaced.ok()) {
    // The list stands as it was: nothing was removed after all.
    repairs.push_back({RepairAction::kNotRepaired, path, 0, std::nullopt, replaced.message()});
    return;
  }
  if (log.size() > 0) removed->push_back({repairs.size(), std::move(log)});
  for (Repair& change : changes) repairs.push_back(std::move(change));
}

std::vector<Repair> RepairStore(const Store& store, const CheckResult& check,
                                std::vector<LoggedRepairs>* removed) {
  std::vector<Repair> repairs;
  for (const std::string& path : check.leftovers) {
    const Place leftover = store.Locate(path);
    const os::Error removed_leftover = os::Remove(leftover.directory(), leftover.name);
    if (removed_leftover.ok()) {
      repairs.push_back({RepairAction::kRemovedLeftover, path, 0, std::nullopt,
                         "removed a temporary file left by an interrupted repair"});
    } else if (removed_leftover.kind != os::Kind::kNotFound) {
      repairs.push_back({RepairAction::kNotRepaired, path, 0, std::nullopt,
                         Status::SystemError("cannot remove", path, removed_leftover).message()});
    }
  }
  if (!check.mend_lock.empty()) {
    if (Status mended = MendLock(store, check.mend_lock, repairs); !mended.ok()) {
      repairs.push_back(
          {RepairAction::kNotRepaired, check.mend_lock, 0, std::nullopt, mended.message()});
    }
  }
  for (const auto& [path, plan] : check.rewrites) RepairList(store, path, plan, repairs, removed);
  return repairs;
}

}  // namespace loomreg
