#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
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

// What a parse into an empty list gives, the plain way: the decoded segments ('&' a NUL, an
// escaped CR dropped) walked up to an empty one or one without '=' (then the result is 0), each
// split at its first '='; in the buffer two closing NULs (the second only where decoding
// shortened the text), then the text's own bytes.
struct Expected {
  int result = 0;
  Pairs pairs;
  std::string buffer;
};

Expected ParseThePlainWay(const std::string& text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '%') {
      out += text[i] == '+' ? ' ' : text[i] == '&' ? '\0' : text[i];
      ++i;
      continue;
    }
    int high = i + 1 < text.size() ? hex(text[i + 1]) : -1;
    int low = high >= 0 && i + 2 < text.size() ? hex(text[i + 2]) : -1;
    int value = low >= 0 ? high * 16 + low : high;
    if (value >= 0 && value != '\r') out += static_cast<char>(value);
    i += 3;
  }
  Expected expected;
  std::size_t start = 0;
  for (; start < out.size() && out[start] != '\0';) {
    std::size_t segment_end = std::min(out.find('\0', start), out.size());
    std::size_t equals = out.find('=', start);
    if (equals >= segment_end) break;
    out[equals] = '\0';
    expected.pairs.emplace_back(out.substr(start, equals - start),
                                out.substr(equals + 1, segment_end - equals - 1));
    start = segment_end + 1;
  }
  const bool no_equals = start < out.size() && out[start] != '\0';
  expected.result = no_equals ? 0 : static_cast<int>(expected.pairs.size());
  expected.buffer = text + '\0';
  expected.buffer.replace(0, out.size() + 1, out + '\0');
  if (out.size() < text.size()) expected.buffer[out.size() + 1] = '\0';
  return expected;
}

// Forms of up to some hundred pairs, some of them long, dense with escapes, so that segments
// cross the 64-byte blocks the parser counts in and the sixteen-byte decoder runs far behind its
// input; many end right after a run of escapes, where a decoder that stores whole registers in
// place would leave shifted input behind the closing NULs. The last rounds hold thousands of
// pairs, for the parse that makes its copies before the entry array and the release of a large
// list, with a segment without '=' only at their end.
TEST(ParseFormDataTest, AgreesWithTheByteByByteRules) {
  const char* pieces[] = {"a",   "Zz9", "+",   "%41", "%c3%A9", "%0D%0A", "%0d",
                          "%3D", "%26", "%4z", "%%",  "%",      "x=y",    "%0D%0D%0D%0D"};
  std::mt19937 random(22);
  for (int round = 0; round < 3006; ++round) {
    const bool large = round >= 3000;
    std::string text;
    const int segments = static_cast<int>(large ? 4000 + random() % 2000 : random() % 100);
    for (int segment = segments; segment > 0; --segment) {
      if (!text.empty() || random() % 50 == 0) text += '&';
      // Now and then a long one, as a textarea makes.
      const int length = static_cast<int>(random() % (random() % 16 == 0 ? 400 : 12));
      const bool no_equals = large ? segment == 1 && round % 2 == 0 : random() % 40 == 0;
      const int equals = no_equals ? -1 : static_cast<int>(random() % (length + 1));
      for (int i = 0; i <= length; ++i) {
        if (i == equals) text += '=';
        if (i < length) text += pieces[random() % std::size(pieces)];
      }
    }
    ScopedList list;
    ParseRun run = Parse(text, list.get());
    const Expected expected = ParseThePlainWay(text);
    ASSERT_EQ(run.result, expected.result) << text;
    ASSERT_EQ(PairsOf(list.list), expected.pairs) << text;
    ASSERT_EQ(run.buffer, expected.buffer) << text;
  }
}

}  // namespace
}  // namespace loomreg::formdata
