// The files and directories of the data store, named below its data root: the one place that
// says where each catalogue, list, stamp and stored file lies, and which names are reserved.
#ifndef LOOMREG_STORE_STORE_LAYOUT_H
#define LOOMREG_STORE_STORE_LAYOUT_H

#include <string>
#include <string_view>

namespace loomreg {

// The shared upload slot of SetValueFile/, and the file list beside it: names no style or
// named upload may take.
inline constexpr std::string_view kSharedUploadName = "FileData";
inline constexpr std::string_view kFileListName = "FileList";
// The lock file's name inside the history directory SetValueFileList/. It is created when
// missing (see CreateSharedFile: open for writing to everyone who may write that directory)
// and never rewritten, renamed or removed, so every process locks the same inode.
inline constexpr std::string_view kLockFileName = ".lock";
inline constexpr std::string_view kHistoryName = "SetValueList";
inline constexpr std::string_view kKindListName = "KindList";

// Temporary files of a repair begin with this: the space keeps them apart from every name a
// save can create.
inline constexpr std::string_view kRepairTempPrefix = ".loomreg-check ";

// The store's paths below its data root, as the path table places them. Directory paths end
// in '/', so a path is formed by appending a name.
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

  // The paths of one machine, style, stored file or named upload.
  std::string MachineFiles(std::string_view machine) const { return Join(machine_lists, machine); }
  std::string Stamp(std::string_view machine) const { return Join(stamps, machine); }
  std::string StyleDir(std::string_view style) const { return Join(values, style); }
  std::string StyleFiles(std::string_view style) const { return Join(style_lists, style); }
  std::string Stored(std::string_view style, std::string_view file) const {
    return Join(StyleDir(style) + "/", file);
  }
  std::string NamedUpload(std::string_view name) const { return Join(values, name); }

  // Every path, from the path table's directories, each after `root` (below the data root when
  // `root` is empty).
  static StorePaths FromTable(std::string_view root = {});

 private:
  static std::string Join(std::string_view dir, std::string_view name) {
    std::string path(dir);
    path += name;
    return path;
  }
};

// The directory part of `path`, up to and with its last '/'; "./" when it has none.
std::string DirectoryOf(std::string_view path);

}  // namespace loomreg

#endif
