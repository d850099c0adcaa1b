#ifndef LOOMREG_REGISTRATION_RUN_STATUS_H
#define LOOMREG_REGISTRATION_RUN_STATUS_H

#include <string_view>

#include "file_io.h"

namespace loomreg {

inline constexpr const char* kRunStatusFile = "TimeExec.dat";

// Rewrites the run-status file in the working directory with `line` and a line end. Fails when
// the file cannot be opened, written or closed, saying which with the system's error text.
Status WriteRunStatus(std::string_view line);

}  // namespace loomreg

#endif
