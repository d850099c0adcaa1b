#include "run_status.h"

#include <string>

#include "file_io.h"

namespace loomreg {

bool WriteRunStatus(std::string_view line) {
  std::string text(line);
  text += "\r\n";
  return WriteFile(kRunStatusFile, OpenMode::kTruncate, text).ok();
}

}  // namespace loomreg
