// Readers of the two site paths that the path table is computed from.
#include "config_file.h"
#include "siteconfig.h"

namespace loomreg {
namespace {

// Fills `buffer` with the value of `key`, or with `fallback` when the file or key is missing.
// Setting values always fit: a setting line is read as one piece of at most 255 bytes.
const char* ReadSettingInto(char* buffer, std::string_view key, std::string_view fallback) {
  StoreText(buffer, fallback);
  if (auto value = FindSetting(kSiteConfigFile, key)) StoreText(buffer, *value);
  return buffer;
}

}  // namespace
}  // namespace loomreg

extern "C" const char* ReadKvrPath(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "KVR=", "/kvr/");
}

extern "C" const char* ReadKvrDataPath(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "KVRDATA=", "/kvrdata/");
}
