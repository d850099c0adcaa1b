#include "os.h"
#include "registration.h"

int main(int argc, char** argv) {
  // Past a file-size limit a write then fails, which the step reports and undoes, instead of
  // the signal killing the run half-way with the status still at 1.
  loomreg::os::IgnoreFileSizeSignal();
  // CR LF is two bytes on standard output too, and "open error" gets no added line end.
  (void)loomreg::os::BinaryStandardStreams();
  return LoomregMain(argc, argv);
}
