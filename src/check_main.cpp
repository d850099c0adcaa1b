#include "check_command.h"
#include "os.h"

int main(int argc, char** argv) {
  // Past a file-size limit a repair's write fails with EFBIG and the old list stays, instead of
  // the signal killing the repair half-way.
  loomreg::os::IgnoreFileSizeSignal();
  // Reports are bytes: "\n" never gains a CR on Windows.
  (void)loomreg::os::BinaryStandardStreams();
  return loomreg::CheckMain(argc, argv);
}
