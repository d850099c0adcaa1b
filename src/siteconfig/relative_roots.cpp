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
