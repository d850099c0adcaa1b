#include "machine_stamp.h"

#include <chrono>
#include <cstdio>

namespace loomreg {
namespace {

constexpr const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The index of `name` in `names`, or -1.
template <std::size_t N>
int IndexOf(const char (&names)[N][4], std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (name == names[i]) return static_cast<int>(i);
  }
  return -1;
}

// The decimal value of the digits of `text`, or -1 when it holds anything else.
int Digits(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string_view StampFault(std::string_view s) {
  constexpr std::string_view kForm = "is not of the form Www Mmm dd hh:mm:ss yyyy";
  // "Www Mmm dd hh:mm:ss yyyy": separators at fixed places.
  if (s.size() != 24 || s[3] != ' ' || s[7] != ' ' || s[10] != ' ' || s[13] != ':' ||
      s[16] != ':' || s[19] != ' ') {
    return kForm;
  }
  const int wday = IndexOf(kDays, s.substr(0, 3));
  const int month = IndexOf(kMonths, s.substr(4, 3));
  const int day = Digits(s.substr(8, 2));
  const int hour = Digits(s.substr(11, 2));
  const int minute = Digits(s.substr(14, 2));
  const int second = Digits(s.substr(17, 2));  // 60 is a leap second
  const int year = Digits(s.substr(20, 4));
  if (wday < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 60 || year < 1000) {
    return kForm;
  }
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month + 1)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return "is not a date of the calendar";
  if (std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding() !=
      static_cast<unsigned>(wday)) {
    return "names the wrong weekday";
  }
  return {};
}

std::string FormatStamp(const std::tm& local) {
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
