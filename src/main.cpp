#include <csignal>

#include "registration.h"

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which the step reports and
  // undoes, instead of the signal killing the run half-way with the status still at 1.
  std::signal(SIGXFSZ, SIG_IGN);
  return LoomregMain(argc, argv);
}
