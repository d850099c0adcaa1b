#include "machine_stamp.h"

#include <chrono>
#include <cstdio>

#include "message_text.h"
#include "os.h"

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

namespace {

// The fields of "Www Mmm dd hh:mm:ss yyyy", with their place and what each may hold.
struct StampField {
  std::size_t at;
  std::size_t size;
  std::string_view name;  // as a message names it
  int low;                // range of a number field; names have low > high
  int high;
};
constexpr StampField kFields[] = {
    {0, 3, "weekday Www", 1, 0},      {4, 3, "month Mmm", 1, 0},   {8, 2, "day dd", 0, 99},
    {11, 2, "hour hh", 0, 23},        {14, 2, "minute mm", 0, 59}, {17, 2, "second ss", 0, 60},
    {20, 4, "year yyyy", 1000, 9999},
};

// Where `s` first departs from the form, or the empty text when every separator stands in its
// place and every field holds a name or a number in its range. Bytes count from 1.
std::string FormDeparture(std::string_view s) {
  for (std::size_t i = 0; i < kStampForm.size() && i < s.size(); ++i) {
    const char want = kStampForm[i];
    if (want != ' ' && want != ':') continue;
    if (s[i] != want) {
      return "at byte " + std::to_string(i + 1) + " " + QuoteForMessage(s.substr(i, 1)) +
             " stands where the form has " + (want == ' ' ? "a space" : "a colon");
    }
  }
  if (s.empty()) return "it is empty";
  for (const StampField& field : kFields) {
    if (s.size() < field.at + field.size) {
      return "it ends after byte " + std::to_string(s.size()) + ", within the " +
             std::string(field.name);
    }
    const std::string_view text = s.substr(field.at, field.size);
    // "at byte 9 the day dd reads " 8", not 2 digits"
    auto departs = [&](std::string_view why) {
      return "at byte " + std::to_string(field.at + 1) + " the " + std::string(field.name) +
             " reads " + QuoteForMessage(text) + ", " + std::string(why);
    };
    if (field.low > field.high) {
      const bool known = field.at == 0 ? IndexOf(kDays, text) >= 0 : IndexOf(kMonths, text) >= 0;
      if (!known) return departs("not an English name");
      continue;
    }
    const int value = Digits(text);
    if (value < 0) return departs("not " + std::to_string(field.size) + " digits");
    if (value < field.low || value > field.high) return departs("out of range");
  }
  if (s.size() > kStampForm.size()) {
    return QuoteForMessage(s.substr(kStampForm.size())) + " follows the year, after byte " +
           std::to_string(kStampForm.size());
  }
  return {};
}

}  // namespace

std::optional<std::string> StampFault(std::string_view s) {
  if (std::string departure = FormDeparture(s); !departure.empty()) {
    return "is not of the form " + std::string(kStampForm) + ": " + departure;
  }
  const int wday = IndexOf(kDays, s.substr(0, 3));
  const int month = IndexOf(kMonths, s.substr(4, 3));
  const int day = Digits(s.substr(8, 2));
  const int year = Digits(s.substr(20, 4));
  static_assert(kStampLength == 24, "the fields above sit at fixed places of the form");
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month + 1)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return "is not a date of the calendar";
  if (std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding() !=
      static_cast<unsigned>(wday)) {
    return "names the wrong weekday";
  }
  return std::nullopt;
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
  const std::tm local = os::LocalTime(when);  // honours a TZ set since the last conversion
  std::string text(machine);
  text += ',';
  text += FormatStamp(local);
  text += kStampEnd;
  return text;
}

StampReading ReadStamp(std::string_view machine, std::string_view content) {
  using Form = StampReading::Form;
  auto malformed = [](std::string fault) {
    return StampReading{Form::kMalformed, std::move(fault)};
  };
  if (content.empty()) return malformed("the stamp is empty");
  if (!content.starts_with(machine) || content.substr(machine.size(), 1) != ",") {
    return malformed("the stamp does not begin with the machine's name and a comma");
  }
  const std::string_view rest = content.substr(machine.size() + 1);
  const std::string_view stamp = rest.substr(0, kStampLength);
  if (std::optional<std::string> fault = StampFault(stamp)) {
    return malformed("the time stamp " + QuoteForMessage(stamp) + " " + *fault);
  }
  const std::string_view tail = rest.substr(stamp.size());
  if (tail == kStampEnd) return {};
  if (tail == "\n\n") return {Form::kLfLineEnds, {}};
  return malformed("the stamp is not followed by exactly a line end and an empty line");
}

}  // namespace loomreg
