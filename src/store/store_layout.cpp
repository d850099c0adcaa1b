#include "store_layout.h"

#include "path_table.h"

namespace loomreg {
namespace {

// The path table's entry of `name`, below the data root.
std::string Below(std::string_view root, std::string_view name) {
  for (const PathTableEntry& entry : PathTableEntries()) {
    if (entry.name == name) return std::string(root) + std::string(entry.below);
  }
  return {};
}

}  // namespace

std::string DirectoryOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return "./";
  return std::string(path.substr(0, slash + 1));
}

StorePaths StorePaths::FromTable(std::string_view root) {
  StorePaths p;
  p.history_dir = Below(root, "SetValueFileListDir");
  p.lock = p.history_dir + std::string(kLockFileName);
  p.history = p.history_dir + std::string(kHistoryName);
  p.machine_lists = Below(root, "MachineFDir");
  p.machine_list = Below(root, "MachineListFile");
  p.machine_list_dir = DirectoryOf(p.machine_list);
  p.values = Below(root, "SetValueFileDir");
  p.file_list = p.values + std::string(kFileListName);
  p.upload = p.values + std::string(kSharedUploadName);
  p.kind_list_dir = Below(root, "StyleListDir");
  p.kind_list = p.kind_list_dir + std::string(kKindListName);
  p.style_lists = Below(root, "StyleFileDir");
  p.stamps = Below(root, "MachineDir");
  return p;
}

}  // namespace loomreg
