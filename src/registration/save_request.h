// The command line of one run and the checks a request must pass before the data store is
// touched.
#ifndef LOOMREG_REGISTRATION_SAVE_REQUEST_H
#define LOOMREG_REGISTRATION_SAVE_REQUEST_H

#include <optional>
#include <string>
#include <string_view>

#include "file_io.h"
#include "store.h"

namespace loomreg {

// The six values of one run, in command-line order.
struct SaveRequest {
  std::string file;
  std::string style;
  std::string beam;
  std::string comment;
  std::string machine;
  std::string top_beam;
  // The upload's name in SetValueFile/, from an optional seventh word "upload_arg=NAME"; none
  // for the one shared upload slot FileData.
  std::optional<std::string> upload;
};

enum class CommandKind { kSave, kHelp, kVersion, kPaths };

struct Command {
  CommandKind kind = CommandKind::kSave;
  SaveRequest request;
  Status refusal;  // why the command line cannot be a request; ok when it can
};

// Reads the six words. The web application puts the file-name word at argv[0]; the
// conventional form, with the program's name first, is recognised when argv[0] does not begin
// with "filename_arg=" but argv[1] does and there are at least seven words. A word is assigned
// by position: its value is what follows the length of its key text. A seventh word that
// begins with "upload_arg=" names the upload; any other further word is ignored.
Command ParseCommandLine(int argc, const char* const* argv);

// Every file a save touches, below the store's open root, from the request's values.
struct SavePaths {
  Place lock;           // the store's lock file
  Place history;        // SaveHistory
  Place machine_files;  // the machine's file list
  Place machine_list;   // MachineList
  Place file_list;      // FileList
  Place style_dir;      // the style's directory of stored files
  Place upload;         // FileData, or the upload the request names
  Place stored;         // where the upload is filed
  Place kind_list;      // KindList
  Place style_files;    // the style's file list
  Place stamp;          // the machine's stamp
};
SavePaths BuildSavePaths(const Store& store, const SaveRequest& request);

// Fails, saying why, when the request must be refused. A refused request changes nothing.
Status CheckRequest(const Store& store, const SaveRequest& request);

}  // namespace loomreg

#endif
