// Readers of the further site settings: the CGI directories and menu pages of ./KVR_PATH.inf,
// and the vell path of ./vellinfo.txt.
#include <string>
#include <string_view>

#include "config_file.h"
#include "siteconfig.h"

namespace loomreg {
namespace {

// The menu page `page` in the "MENUDIR=" directory, appended directly: the value names the
// directory with its final '/', so none is inserted. A path that does not fit in 255 bytes
// leaves the buffer empty rather than cut: a cut page name would name some other page, while
// an empty path is never a real one, so a caller can tell.
const char* ReadMenuPageInto(char* buffer, std::string_view page) {
  StoreText(buffer, SiteSetting("MENUDIR=", "/") + std::string(page));
  return buffer;
}

}  // namespace
}  // namespace loomreg

extern "C" const char* ReadGlbDir(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "GLBDIR=", "./");
}

extern "C" const char* ReadMainDir(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "MAINDIR=", "/pqs/pq001/cgi-bin/");
}

extern "C" const char* ReadLoomDir(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadSettingInto(buffer, "LOOMDIR=", "/cgi-bin/");
}

// "StyleManger.htm" is the name the page has on the site.
extern "C" const char* ReadStyleManagerPage(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadMenuPageInto(buffer, "StyleManger.htm");
}

extern "C" const char* ReadPatternManagerPage(void) {
  static char buffer[loomreg::kTextSize];
  return loomreg::ReadMenuPageInto(buffer, "PatternManager.htm");
}

// The info file has no key: its first line is the value, and nothing after it is read.
extern "C" const char* ReadVellPath(void) {
  static char buffer[loomreg::kTextSize];
  loomreg::StoreText(buffer, loomreg::FirstLine("./vellinfo.txt").value_or("/vell/"));
  return buffer;
}
