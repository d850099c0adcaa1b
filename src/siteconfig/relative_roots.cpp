#include "relative_roots.h"

#include "config_file.h"
#include "siteconfig.h"

namespace loomreg {

std::string RelativeRoot(const char* (*read_target)()) {
  // Copied before the second read, so no reader's buffer is relied on across another call.
  std::string site = ReadKvrPath();
  return RelativeForm(site, read_target());
}

std::string DataRoot() { return RelativeRoot(ReadKvrDataPath); }

}  // namespace loomreg

// A relative root that does not fit in 255 bytes leaves the buffer empty, as the path table
// leaves an entry empty: a cut-off path would lead somewhere else.
extern "C" const char* MakeDataRoot(void) {
  static char buffer[loomreg::kTextSize];
  loomreg::StoreText(buffer, loomreg::DataRoot());
  return buffer;
}

extern "C" const char* MakeGlbRoot(void) {
  static char buffer[loomreg::kTextSize];
  loomreg::StoreText(buffer, loomreg::RelativeRoot(ReadGlbDir));
  return buffer;
}
