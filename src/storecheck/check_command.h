#ifndef LOOMREG_STORECHECK_CHECK_COMMAND_H
#define LOOMREG_STORECHECK_CHECK_COMMAND_H

namespace loomreg {

// The whole loomreg-check program: command line, lock, check, repair, report. Returns the exit
// status.
int CheckMain(int argc, const char* const* argv);

}  // namespace loomreg

#endif
