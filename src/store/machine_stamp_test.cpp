#include "machine_stamp.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "test_support.h"

namespace loomreg {
namespace {

TEST(MachineStampTest, FormatsEnglishNamesAndZeroPaddedFields) {
  std::tm t{};
  t.tm_wday = 2;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 3;
  t.tm_year = 2026 - 1900;
  EXPECT_EQ(FormatStamp(t), "Tue Dec 08 07:05:03 2026");
  t.tm_wday = 0;
  t.tm_mon = 0;
  t.tm_mday = 31;
  t.tm_hour = 23;
  EXPECT_EQ(FormatStamp(t), "Sun Jan 31 23:05:03 2026");
  EXPECT_EQ(FormatStamp(t).size(), 24u);
}

TEST(MachineStampTest, UsesLocalTimeFromTz) {
  const char* old = std::getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  // 2026-03-01 00:30:00 UTC is still February five hours west.
  testing::SetEnv("TZ", "UTC");
  EXPECT_EQ(MachineStampText("M1", 1772325000), "M1,Sun Mar 01 00:30:00 2026\r\n\r\n");
  testing::SetEnv("TZ", "EST5");  // a POSIX rule: needs no time zone database
  EXPECT_EQ(MachineStampText("M1", 1772325000), "M1,Sat Feb 28 19:30:00 2026\r\n\r\n");
  testing::SetEnv("TZ", saved);
}

TEST(StampFaultTest, AcceptsWhatFormatStampWrites) {
  const char* old = std::getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  testing::SetEnv("TZ", "UTC");
  // Every day of a leap year and its neighbours, at a moment that shifts the time fields too.
  for (std::time_t when = 1704067200 - 86400; when < 1735689600 + 86400; when += 86400 + 3661) {
    std::string text = MachineStampText("M", when);
    std::string stamp = text.substr(2, 24);
    EXPECT_EQ(StampFault(stamp), std::nullopt) << stamp;
  }
  testing::SetEnv("TZ", saved);
}

TEST(StampFaultTest, RefusesMalformedAndImpossibleStamps) {
  const std::string_view form = "is not of the form Www Mmm dd hh:mm:ss yyyy";
  EXPECT_EQ(StampFault("Tue Dec 08 07:05:03 2026"), std::nullopt);
  EXPECT_EQ(StampFault("Tue Dec 08 07:05:60 2026"), std::nullopt);  // a leap second
  for (std::string_view bad :
       {"", "Tue Dec  8 07:05:03 2026", "tue Dec 08 07:05:03 2026", "Tue DEC 08 07:05:03 2026",
        "Tue Dec 08 24:05:03 2026", "Tue Dec 08 07:60:03 2026", "Tue Dec 08 07:05:61 2026",
        "Tue Dec 08 07:05:03 0999", "Tue Dec 08 07:05:03 2026 ", "Tue Dec 08 07-05-03 2026",
        "Tue Dec 0x 07:05:03 2026", "Tue Dec 08 7:05:03 20260"}) {
    EXPECT_TRUE(StampFault(bad).value_or("").starts_with(form)) << bad;
  }
  // The finding says where the stamp departs from the form, not only that it does.
  EXPECT_EQ(StampFault("Tue Dec  8 07:05:03 2026"),
            std::string(form) + ": at byte 9 the day dd reads \" 8\", not 2 digits");
  EXPECT_EQ(StampFault("Tue Dec 08 07-05-03 2026"),
            std::string(form) + ": at byte 14 \"-\" stands where the form has a colon");
  EXPECT_EQ(StampFault("Tue Dec 08 24:05:03 2026"),
            std::string(form) + ": at byte 12 the hour hh reads \"24\", out of range");
  EXPECT_EQ(StampFault("Fri Feb 30 07:05:03 2026"), "is not a date of the calendar");
  EXPECT_EQ(StampFault("Sat Dec 00 07:05:03 2026"), "is not a date of the calendar");
  EXPECT_EQ(StampFault("Sun Feb 29 07:05:03 2026"), "is not a date of the calendar");
  EXPECT_EQ(StampFault("Sun Feb 29 07:05:03 2032"), std::nullopt);
  EXPECT_EQ(StampFault("Wed Dec 08 07:05:03 2026"), "names the wrong weekday");
}

}  // namespace
}  // namespace loomreg
