#include "store_fixture.h"

namespace loomreg::testing {

namespace fs = std::filesystem;

std::vector<std::string> SaveWords(const SaveArgs& a) {
  return {"filename_arg=" + a.file,  "style_arg=" + a.style,     "beam_arg=" + a.beam,
          "koment_arg=" + a.comment, "machine_arg=" + a.machine, "top_beam_arg=" + a.top_beam};
}

Store::Store() : app_(root_ / "kvr"), data_(root_ / "kvrdata") {
  fs::create_directory(app_);
  for (const char* dir : {"StyleFile", "SetValueFileList", "MachineF", "MachineList",
                          "SetValueFile", "StyleList", "Machine"}) {
    fs::create_directories(data_ / dir);
  }
  WriteFile(data_ / "SetValueFile/FileList", "");
}

void Store::Upload(const std::string& content) const {
  WriteFile(data_ / "SetValueFile/FileData", content);
}

ProcessResult Store::Run(const std::vector<std::string>& argv) const {
  return RunProcess(LOOMREG_BINARY, argv, app_, {"TZ=UTC"});
}

}  // namespace loomreg::testing
