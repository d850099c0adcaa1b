// loomreg-check's command line: its usage text, its options, and its complaints on standard
// error.
#ifndef LOOMREG_STORECHECK_COMMAND_LINE_H
#define LOOMREG_STORECHECK_COMMAND_LINE_H

#include <string_view>

#include "file_io.h"

namespace loomreg {

extern const std::string_view kCheckUsage;

struct Options {
  bool help = false;
  bool version = false;
  bool repair = false;
  bool json = false;
  const char* const* hold = nullptr;  // the command to run under the lock, with its arguments
};

// The options, or why the arguments are not right.
Result<Options> ParseOptions(int argc, const char* const* argv);

// Writes "loomreg-check: MESSAGE" as one line to standard error.
void Complain(std::string_view message);

}  // namespace loomreg

#endif
