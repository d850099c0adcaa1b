#include "run_status.h"

#include <string>

namespace loomreg {

Status WriteRunStatus(std::string_view line) {
  std::string text(line);
  text += "\r\n";
  // The status is news for the web application, not part of the store: it is not flushed.
  return RewriteFile(Place::FromWorkingDirectory(kRunStatusFile), text, Durability::kVolatile);
}

}  // namespace loomreg
