// The files and directories of the data store that the checker reads, named from the path
// table as a save names them.
#ifndef LOOMREG_STORECHECK_STORE_PATHS_H
#define LOOMREG_STORECHECK_STORE_PATHS_H

#include <string>
#include <string_view>

namespace loomreg {

struct StorePaths {
  std::string history_dir;       // SetValueFileList/: the store lock and the save history
  std::string lock;              // SetValueFileList/.lock
  std::string history;           // SetValueFileList/SetValueList
  std::string machine_lists;     // MachineF/: one file list per machine
  std::string machine_list_dir;  // MachineList/
  std::string machine_list;      // MachineList/MachineList
  std::string values;            // SetValueFile/: FileList, the upload, one directory per style
  std::string file_list;         // SetValueFile/FileList
  std::string upload;            // SetValueFile/FileData
  std::string kind_list_dir;     // StyleList/
  std::string kind_list;         // StyleList/KindList
  std::string style_lists;       // StyleFile/: one file list per style
  std::string stamps;            // Machine/: one stamp per machine
};

// Needs BuildPathTable to have filled a complete table.
StorePaths PathsFromTable();

// The directory part of `path`, up to and with its last '/'; "./" when it has none.
std::string DirectoryOf(std::string_view path);

// Temporary files of a repair begin with this: the space keeps them apart from every name a
// save can create.
inline constexpr std::string_view kRepairTempPrefix = ".loomreg-check ";

}  // namespace loomreg

#endif
