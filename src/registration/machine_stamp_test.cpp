#include "machine_stamp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>

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
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  // 2026-03-01 00:30:00 UTC is still February five hours west.
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(MachineStampText("M1", 1772325000), "M1,Sun Mar 01 00:30:00 2026\r\n\r\n");
  setenv("TZ", "EST5", 1);  // a POSIX rule: needs no time zone database
  EXPECT_EQ(MachineStampText("M1", 1772325000), "M1,Sat Feb 28 19:30:00 2026\r\n\r\n");
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
}

}  // namespace
}  // namespace loomreg
