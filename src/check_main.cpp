#include <csignal>

#include "check_command.h"

int main(int argc, char** argv) {
  // Past a file-size limit a repair's write fails with EFBIG and the old list stays, instead of
  // the signal killing the repair half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  return loomreg::CheckMain(argc, argv);
}
