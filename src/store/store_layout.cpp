#include "store_layout.h"

#include "message_text.h"
#include "siteconfig.h"
#include "store_lock.h"

namespace loomreg {

std::string DirectoryOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return "./";
  return std::string(path.substr(0, slash + 1));
}

Status CheckPathTable() {
  if (PathTableIsComplete()) return {};
  return Status::Error("the data store paths of ./KVR_PATH.inf are longer than " +
                       std::to_string(kMaxBytes) + " bytes");
}

StorePaths PathsFromTable() {
  StorePaths p;
  p.history_dir = SetValueFileListDir;
  p.lock = p.history_dir + std::string(kLockFileName);
  p.history = p.history_dir + "SetValueList";
  p.machine_lists = MachineFDir;
  p.machine_list = MachineListFile;
  p.machine_list_dir = DirectoryOf(p.machine_list);
  p.values = SetValueFileDir;
  p.file_list = p.values + std::string(kFileListName);
  p.upload = p.values + std::string(kSharedUploadName);
  p.kind_list_dir = StyleListDir;
  p.kind_list = p.kind_list_dir + "KindList";
  p.style_lists = StyleFileDir;
  p.stamps = MachineDir;
  return p;
}

}  // namespace loomreg
