#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "formdata.h"
#include "test_helpers.h"

namespace loomreg::formdata {
namespace {

using testing::Pairs;
using testing::PairsOf;
using testing::ScopedList;

struct ParseRun {
  int result;
  std::string buffer;  // the whole buffer afterwards, the text's NUL included
};

// Parses from a heap buffer of exactly the text and its NUL, so that ASan sees any access
// beyond it.
ParseRun Parse(const std::string& text, PairList* list) {
  auto* buffer = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  int result = ParseFormData(buffer, list);
  ParseRun run{result, std::string(buffer, text.size() + 1)};
  std::free(buffer);
  return run;
}

TEST(ParseFormDataTest, DecodesAndSplitsSegments) {
  ScopedList list;
  ParseRun run = Parse("a=1&b=x+y%21", list.get());
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "1"}, {"b", "x y!"}}));
  // Decoded segments with their '=' replaced, the closing empty segment, the old terminator.
  EXPECT_EQ(run.buffer, std::string("a\0"
                                    "1\0"
                                    "b\0"
                                    "x y!\0"
                                    "\0"
                                    "\0",
                                    13));
}

TEST(ParseFormDataTest, DropsEscapedCarriageReturnsOnly) {
  ScopedList list;
  EXPECT_EQ(Parse("note=line1%0D%0Aline2&raw=x\ry", list.get()).result, 2);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"note", "line1\nline2"}, {"raw", "x\ry"}}));
}

TEST(ParseFormDataTest, EmptySegmentEndsTheParse) {
  ScopedList list;
  ParseRun run = Parse("a=1&&b=2", list.get());
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "1"}}));
  EXPECT_EQ(run.buffer.substr(5, 3), "b=2");  // never reached, so never split

  ScopedList trailing;
  EXPECT_EQ(Parse("a=1&", trailing.get()).result, 1);
  EXPECT_EQ(PairsOf(trailing.list), (Pairs{{"a", "1"}}));

  ScopedList held(Pairs{{"x", "y"}});
  EXPECT_EQ(Parse("&a=1", held.get()).result, 1);
  EXPECT_EQ(Parse("", held.get()).result, 1);
  EXPECT_EQ(PairsOf(held.list), (Pairs{{"x", "y"}}));
}

TEST(ParseFormDataTest, SegmentWithoutEqualsReturnsZeroAndKeepsEarlierPairs) {
  ScopedList list;
  EXPECT_EQ(Parse("a=1&b&c=3", list.get()).result, 0);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "1"}}));
  ScopedList first;
  EXPECT_EQ(Parse("b&a=1", first.get()).result, 0);
  EXPECT_EQ(first.list.pairCount, 0);
}

TEST(ParseFormDataTest, SplitsAtTheFirstEquals) {
  ScopedList list;
  EXPECT_EQ(Parse("a=b=c&=x&a=&=", list.get()).result, 4);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "b=c"}, {"", "x"}, {"a", ""}, {"", ""}}));
}

TEST(ParseFormDataTest, DecodesBeforeSplitting) {
  ScopedList list;
  EXPECT_EQ(Parse("a%3Db=1&c=x%26y&d%3d=%3d", list.get()).result, 3);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "b=1"}, {"c", "x&y"}, {"d", "=="}}));
}

TEST(ParseFormDataTest, EscapedNulEndsItsSegment) {
  ScopedList list;
  EXPECT_EQ(Parse("a=1%00x=2&b=3", list.get()).result, 3);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "1"}, {"x", "2"}, {"b", "3"}}));
  ScopedList ended;
  EXPECT_EQ(Parse("a=1%00&b=2", ended.get()).result, 1);
  ScopedList bare;
  EXPECT_EQ(Parse("a=1%00x&b=2", bare.get()).result, 0);
  EXPECT_EQ(PairsOf(bare.list), (Pairs{{"a", "1"}}));
}

TEST(ParseFormDataTest, MalformedEscapesSpanThreeBytes) {
  ScopedList list;
  EXPECT_EQ(Parse("a=%4z&b=%", list.get()).result, 2);
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"a", "\x04"}, {"b", ""}}));
  // The '&' after a bare '%' is part of the escape, so the segments run together.
  ScopedList swallowed;
  EXPECT_EQ(Parse("a=%&b=1", swallowed.get()).result, 1);
  EXPECT_EQ(PairsOf(swallowed.list), (Pairs{{"a", "=1"}}));
}

TEST(ParseFormDataTest, AppendsAfterThePairsAlreadyHeld) {
  ScopedList list({{"p", "1"}, {"q", "2"}, {"p", "3"}});
  EXPECT_EQ(Parse("p=4&r=5", list.get()).result, 5);
  EXPECT_STREQ(FindPairValue("p", list.get()), "1");
  EXPECT_STREQ(FindPairValue("r", list.get()), "5");
}

TEST(ParseFormDataTest, WritesNothingPastTheTerminator) {
  for (std::string text : {"a=1&b=2", "", "a", "&", "=", "+=+"}) {
    std::string buffer = text + '\0' + "##";
    ScopedList list;
    int result = ParseFormData(buffer.data(), list.get());
    EXPECT_EQ(buffer.substr(text.size() + 1), "##") << text;
    EXPECT_EQ(result, text == "a" ? 0 : list.list.pairCount) << text;
  }
  // A shortened text still gets its closing empty segment inside the old one.
  ScopedList list;
  EXPECT_EQ(Parse("a=%41", list.get()).buffer, std::string("a\0A\0\0\0", 6));
}

}  // namespace
}  // namespace loomreg::formdata
