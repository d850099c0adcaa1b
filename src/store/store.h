// The data store as one value: its data root held open, every path and reserved name below
// it, the 255-byte limit, and where the root came from, for messages. The save, the check,
// the repair, --hold and --paths all work on one of these.
#ifndef LOOMREG_STORE_STORE_H
#define LOOMREG_STORE_STORE_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_io.h"
#include "store_layout.h"

namespace loomreg {

class Store {
 public:
  // The store of the site whose application directory is the working directory, at the data
  // root ./KVR_PATH.inf gives.
  static Store OpenSite();
  // The store at `root` (a path ending in '/', or empty for the working directory).
  static Store OpenRoot(std::string root);

  // Fails, saying why, when a path of the path table would be longer than 255 bytes: no
  // store path may then be formed.
  Status CheckTable() const;
  // The path table: each entry's name and path, for --paths.
  std::vector<std::pair<std::string_view, std::string>> Table() const;

  // The store's paths below the root.
  const StorePaths& paths() const { return paths_; }
  // `below` (a path of paths()) relative to the open root, shown as the path table shows it.
  Place At(std::string_view below) const;
  // The path messages show for `below`: the data root as the path table gives it, and `below`.
  std::string Shown(std::string_view below) const { return root_ + std::string(below); }
  // The store's paths as messages and reports show them: paths() with the data root before each.
  StorePaths ShownPaths() const { return StorePaths::FromTable(root_); }
  // The file a shown path names (one that Shown or ShownPaths formed), below the open root.
  Place Locate(std::string_view shown) const;

  // "the data root is /srv/kvrdata/, from /srv/www/kvr/KVR_PATH.inf", or, for a site whose
  // settings file is missing or unreadable, that the root is the default and why.
  const std::string& Origin() const;
  // The data root, absolute and freed of "." and ".." steps, ending in '/'.
  std::string AbsoluteRoot() const;
  // The working directory the store was opened from, for the commands messages suggest.
  const std::string& WorkingDirectory() const;

  // `failure`, with where the store was looked for and what to do added when its error says
  // that a file or directory of the store does not exist.
  Status ExplainMissing(const Status& failure) const;
  // "; ", where the store was looked for, and what to do: for a store found missing.
  std::string MissingHint() const;
  // `failure` of opening the lock file, with who runs (`program` and its user), the lock
  // file's owner and mode and the command that mends it added when access was refused.
  Status ExplainLockAccess(const Status& failure, std::string_view program) const;

 private:
  Store(std::string root, bool from_site);

  std::string root_;  // as the path table begins: "../kvrdata/"
  bool from_site_;    // found through ./KVR_PATH.inf, not given
  // The data root. Places name it by address, so it stays where it is when the store moves.
  std::unique_ptr<os::Root> root_dir_ = std::make_unique<os::Root>();
  bool root_open_;  // whether it could be opened
  StorePaths paths_;
  mutable std::optional<std::string> working_directory_, origin_;
};

}  // namespace loomreg

#endif
