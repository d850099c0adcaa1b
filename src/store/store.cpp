#include "store.h"

#include <cstring>
#include <vector>

#include "config_file.h"
#include "message_text.h"
#include "path_table.h"
#include "relative_roots.h"
#include "shared_file.h"

namespace loomreg {
namespace {

// `path`, absolute, with "." and ".." steps and repeated slashes taken out, as the kernel would
// read it were no step a symbolic link. Its root ("/", or a drive or share) is kept as it is.
std::string Normal(std::string_view path) {
  const std::size_t root_length = os::RootLength(path);
  std::string text(path.substr(0, root_length));
  path.remove_prefix(root_length);
  std::vector<std::string_view> steps;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view step = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
      continue;
    }
    steps.push_back(step);
  }
  for (std::string_view step : steps) {
    if (!text.empty() && !text.ends_with('/')) text += '/';
    text += step;
  }
  return text;
}

}  // namespace

Store::Store(std::string root, bool from_site)
    : root_(std::move(root)), from_site_(from_site), paths_(StorePaths::FromTable()) {
  // Looking below the root needs only search permission on it, as a path would. The root and
  // the path table's directories may be symbolic links, and are followed.
  root_open_ = os::Root::Open(root_.empty() ? "." : root_, *root_dir_).ok();
}

Store Store::OpenSite() { return Store(DataRoot(), true); }

Store Store::OpenRoot(std::string root) { return Store(std::move(root), false); }

Status Store::CheckTable() const {
  for (const PathTableEntry& entry : PathTableEntries()) {
    if (root_.size() + entry.below.size() > kMaxBytes) {
      return Status::Error("the data store paths of ./" + std::string(kSiteConfigFile) +
                           " are longer than " + std::to_string(kMaxBytes) + " bytes");
    }
  }
  return {};
}

std::vector<std::pair<std::string_view, std::string>> Store::Table() const {
  std::vector<std::pair<std::string_view, std::string>> table;
  for (const PathTableEntry& entry : PathTableEntries())
    table.emplace_back(entry.name, Shown(entry.below));
  return table;
}

Place Store::At(std::string_view below) const {
  // A root that could not be opened leaves each path to be looked up as it is shown: the
  // operation then fails, naming the file, with the system's reason for the root.
  if (!root_open_) return Place::FromWorkingDirectory(Shown(below));
  std::string name(below.empty() ? "." : below);
  // A directory path's last '/' would make a look-up of a file there follow a link.
  if (name.size() > 1 && name.back() == '/') name.pop_back();
  return {root_dir_.get(), std::move(name), Shown(below)};
}

Place Store::Locate(std::string_view shown) const {
  if (!shown.starts_with(root_)) return Place::FromWorkingDirectory(std::string(shown));
  shown.remove_prefix(root_.size());
  return At(shown);
}

const std::string& Store::WorkingDirectory() const {
  if (!working_directory_) {
    // (std::filesystem would do, but it brings the locale machinery into the program and with
    // it a slower start of every save.)
    std::string found;
    working_directory_ = os::WorkingDirectory(found).ok() ? found : std::string(".");
  }
  return *working_directory_;
}

std::string Store::AbsoluteRoot() const {
  std::string root = root_.size() <= kMaxBytes ? root_ : std::string();
  if (os::RootLength(root) == 0) root = WorkingDirectory() + "/" + root;
  std::string normal = Normal(root);
  if (!normal.ends_with('/')) normal += '/';
  return normal;
}

const std::string& Store::Origin() const {
  if (origin_) return *origin_;
  std::string text = "the data root is " + EscapeForLine(AbsoluteRoot());
  if (!from_site_) return *(origin_ = text + ", as given");
  const std::string here = WorkingDirectory();
  const std::string settings_path = here + "/" + kSiteConfigFile;
  // The site readers take the defaults for a file they cannot open or that is no regular file;
  // say which case this is. The open never waits on a FIFO in its place.
  os::Handle settings;
  const os::Error opened =
      os::OpenFile(os::Root(), kSiteConfigFile,
                   {os::Access::kRead, os::Create::kNo, os::Links::kFollow}, settings);
  if (opened.ok()) {
    text += ", from " + EscapeForLine(settings_path);
  } else if (opened.kind == os::Kind::kNotFound) {
    text += ", the default, as " + EscapeForLine(here) + " has no " + kSiteConfigFile;
  } else if (opened.kind == os::Kind::kNotRegular) {
    text += ", the default, as " + EscapeForLine(settings_path) + " is not a regular file";
  } else {
    text += ", the default, as " + EscapeForLine(settings_path) + " cannot be read (" +
            opened.text + ")";
  }
  return *(origin_ = text);
}

std::string Store::MissingHint() const {
  return "; " + Origin() +
         ": run in the application directory, or create the store with loomreg-mkstore " +
         EscapeForLine(WorkingDirectory());
}

Status Store::ExplainMissing(const Status& failure) const {
  if (failure.kind() != os::Kind::kNotFound) return failure;
  return failure.With(MissingHint());
}

Status Store::ExplainLockAccess(const Status& failure, std::string_view program) const {
  if (failure.kind() != os::Kind::kAccess) return failure;
  // Explained only when the lock file's owner and mode keep this user out: not where they do
  // not apply (Windows), nor where something else refused the open (a read-only file system).
  const Place lock = At(paths_.lock);
  os::Info st;
  const os::Id user = os::EffectiveUser();
  if (!os::StatAt(lock.directory(), lock.name, st).ok() || st.type != os::Type::kRegular ||
      st.owner == os::kNoId || os::MayOpenForWriting(user, st)) {
    return failure;
  }
  return failure.With("; " + std::string(program) + " runs as " + EscapeForLine(UserText(user)) +
                      ", and the lock file is owned by " +
                      EscapeForLine(OwnerText(st.owner, st.group)) + " with mode " +
                      ModeText(st.mode) + ": mend it with loomreg-check --repair, run as root in " +
                      EscapeForLine(WorkingDirectory()));
}

}  // namespace loomreg
