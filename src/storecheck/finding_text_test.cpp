#include "finding_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace loomreg {
namespace {

// Each unit's first and last second, and a count of one against several.
TEST(FindingTextTest, WordsAgesAtEachUnitsBoundsAndCountsOfLines) {
  const std::vector<std::pair<std::int64_t, std::string>> ages = {
      {0, "0 s"},         {59, "59 s"},        {60, "1 min"},
      {3599, "59 min"},   {3600, "1 h 0 min"}, {86399, "23 h 59 min"},
      {86400, "1 d 0 h"}, {90061, "1 d 1 h"},  {864000, "10 d 0 h"},
  };
  for (const auto& [seconds, text] : ages) EXPECT_EQ(AgeText(seconds), text) << seconds;
  EXPECT_EQ(LinesText(1, "ends in LF alone", "end in LF alone", 7), "1 line ends in LF alone");
  EXPECT_EQ(LinesText(3, "holds several words", "hold several words", 7),
            "3 lines hold several words (first on line 7)");
  EXPECT_EQ(RoleText(Role::kFile), "file name");
}

}  // namespace
}  // namespace loomreg
