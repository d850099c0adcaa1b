// Readers of the two site paths that the path table is computed from.
#include "config_file.h"
#include "siteconfig.h"

extern "C" const char* ReadKvrPath(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "KVR=", "/kvr/");
}

extern "C" const char* ReadKvrDataPath(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "KVRDATA=", "/kvrdata/");
}
