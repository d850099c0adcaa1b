#include "name_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace loomreg {
namespace {

TEST(NameRulesTest, AcceptsOnePathComponentOfPrintableOrHighBytes) {
  for (std::string_view good : {"F1", ".hidden", "...", "a,b", "back\\slash", "caf\xe9", "~"}) {
    EXPECT_EQ(NameFault(good), std::nullopt) << good;
  }
}

TEST(NameRulesTest, SaysWhyANameIsRefused) {
  EXPECT_EQ(NameFault(""), "is empty");
  EXPECT_EQ(NameFault("."), "is not a name");
  EXPECT_EQ(NameFault(".."), "is not a name");
  EXPECT_EQ(NameFault("a/b"), "contains '/'");
  for (std::string bad : {std::string("a b"), std::string("a\0b", 3), std::string("\x1b[1m"),
                          std::string("x\x7f"), std::string("\x1f")}) {
    EXPECT_EQ(NameFault(bad), "contains a space or control character");
  }
}

TEST(NameRulesTest, ReservesTheUploadAndFileListNamesAsStyles) {
  EXPECT_TRUE(IsReservedStyle("FileData"));
  EXPECT_TRUE(IsReservedStyle("FileList"));
  EXPECT_FALSE(IsReservedStyle("filelist"));
  EXPECT_FALSE(IsReservedStyle("FileList "));
}

}  // namespace
}  // namespace loomreg
