#ifndef LOOMREG_REGISTRATION_RUN_STATUS_H
#define LOOMREG_REGISTRATION_RUN_STATUS_H

#include <string_view>

namespace loomreg {

inline constexpr const char* kRunStatusFile = "TimeExec.dat";

// Rewrites the run-status file in the working directory with `line` and a line end. Returns
// false when the file cannot be opened, written or closed.
bool WriteRunStatus(std::string_view line);

}  // namespace loomreg

#endif
