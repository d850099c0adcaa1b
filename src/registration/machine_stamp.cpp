#include "machine_stamp.h"

#include <cstdio>

namespace loomreg {

std::string FormatStamp(const std::tm& local) {
  static constexpr const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d",
                kDays[static_cast<unsigned>(local.tm_wday) % 7],
                kMonths[static_cast<unsigned>(local.tm_mon) % 12], local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec, local.tm_year + 1900);
  return text;
}

std::string MachineStampText(std::string_view machine, std::time_t when) {
  ::tzset();  // honour a TZ set since the last conversion
  std::tm local{};
  ::localtime_r(&when, &local);
  std::string text(machine);
  text += ',';
  text += FormatStamp(local);
  text += "\r\n\r\n";
  return text;
}

}  // namespace loomreg
