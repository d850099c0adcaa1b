#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "formdata.h"
#include "pair_list.h"
#include "test_helpers.h"

namespace loomreg::formdata {
namespace {

using testing::Pairs;
using testing::PairsOf;
using testing::ScopedList;

// What `print` writes to standard output.
std::string CapturedStdout(const std::function<void()>& print) {
  ::testing::internal::CaptureStdout();
  print();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

TEST(PairListTest, EmptyListMissesEverything) {
  ScopedList list;
  EXPECT_EQ(list.list.pairCount, 0);
  EXPECT_EQ(list.list.pairs, nullptr);
  EXPECT_EQ(FindPairValue("", list.get()), nullptr);
  EXPECT_STREQ(GetPairValue("a", list.get()), "");
  EXPECT_EQ(CapturedStdout([&] { PrintPairList(list.get()); }), "");
  FreePairList(list.get());
  EXPECT_EQ(list.list.pairCount, 0);
  EXPECT_EQ(list.list.pairs, nullptr);
}

TEST(PairListTest, KeepsOrderAndTheFirstOfEqualNamesWins) {
  ScopedList list({{"a", "1"}, {"b", "2"}, {"a", "3"}});
  EXPECT_EQ(list.list.pairCount, 3);
  EXPECT_STREQ(FindPairValue("a", list.get()), "1");
  EXPECT_STREQ(GetPairValue("b", list.get()), "2");
  EXPECT_EQ(CapturedStdout([&] { PrintPairList(list.get()); }), "a:1\nb:2\na:3\n");
  // The lookups hand out the list's own text, not a copy.
  EXPECT_EQ(FindPairValue("a", list.get()), list.list.pairs[0].value);
}

TEST(PairListTest, LookupComparesWholeTextsCaseSensitively) {
  ScopedList list({{"ab", "long"}, {"a", "short"}, {"", "no name"}, {"e", ""}, {"", "later"}});
  EXPECT_STREQ(FindPairValue("a", list.get()), "short");
  EXPECT_STREQ(FindPairValue("ab", list.get()), "long");
  EXPECT_EQ(FindPairValue("A", list.get()), nullptr);
  EXPECT_EQ(FindPairValue("abc", list.get()), nullptr);
  EXPECT_EQ(FindPairValue("a ", list.get()), nullptr);
  EXPECT_STREQ(FindPairValue("", list.get()), "no name");
  EXPECT_STREQ(FindPairValue("e", list.get()), "");
  EXPECT_NE(FindPairValue("e", list.get()), nullptr);
}

TEST(PairListTest, StoresCopiesOfTheCallersTexts) {
  ScopedList list;
  char name[] = "key";
  char value[] = "value";
  AppendPair(name, value, list.get());
  std::strcpy(name, "xyz");
  std::strcpy(value, "other");
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"key", "value"}}));
  EXPECT_NE(list.list.pairs[0].name, name);
  EXPECT_NE(list.list.pairs[0].value, value);
}

TEST(PairListTest, SharedEmptyTextIsResetOnEveryMiss) {
  ScopedList list(Pairs{{"a", "1"}});
  char* empty = GetPairValue("missing", list.get());
  ASSERT_STREQ(empty, "");
  std::strcpy(empty, "dirty");
  ScopedList other;
  char* again = GetPairValue("", other.get());
  EXPECT_EQ(again, empty);  // one buffer shared by every list
  EXPECT_STREQ(again, "");
}

TEST(PairListTest, PrintsWithoutEscaping) {
  ScopedList list({{"a:b", "line\nbreak"}, {"", ""}, {"%", "+ "}});
  EXPECT_EQ(CapturedStdout([&] { PrintPairList(list.get()); }), "a:b:line\nbreak\n:\n%:+ \n");
}

TEST(PairListTest, FreedListIsEmptyAndReusable) {
  ScopedList list({{"a", "1"}, {"b", "2"}});
  FreePairList(list.get());
  EXPECT_EQ(list.list.pairCount, 0);
  EXPECT_EQ(list.list.pairs, nullptr);
  EXPECT_EQ(FindPairValue("a", list.get()), nullptr);
  AppendPair("c", "3", list.get());
  EXPECT_EQ(PairsOf(list.list), (Pairs{{"c", "3"}}));
}

// The entries a large parse or release holds for a moment come back exactly as they went in,
// both while they are held as offsets and after one lies too far from the first name for that,
// above and below it. Only the pointers' values are held; none is followed.
TEST(StagedEntriesTest, GivesBackEveryEntryAcrossTheSwitchToWholeEntries) {
  constexpr std::size_t kCount = kMappedFromPairs + 1000;
  StagedEntries staged(kCount);
  if (!staged.mapped()) GTEST_SKIP() << "no pages for staged entries on this platform";
  constexpr std::uintptr_t kBase = std::uintptr_t{1} << 40;
  auto entry = [](std::size_t i) -> NameValuePair {
    const std::uintptr_t far = i == 3000 ? std::uintptr_t{3} << 30 : 0;  // past 2 GiB
    return {reinterpret_cast<char*>(kBase + 48 * i + far),
            reinterpret_cast<char*>(kBase - 4096 + 48 * i - (i == 3500 ? far + (1u << 31) : 0))};
  };
  for (std::size_t i = 0; i < kCount; ++i) {
    ASSERT_TRUE(staged.Push(entry(i))) << i;
    if (i == 2999 || i == kCount - 1) {
      for (std::size_t j = 0; j <= i; ++j) {
        ASSERT_EQ(staged[j].name, entry(j).name) << j;
        ASSERT_EQ(staged[j].value, entry(j).value) << j;
      }
    }
  }
  ASSERT_EQ(staged.size(), kCount);
  std::vector<NameValuePair> copied(kCount);
  staged.CopyTo(copied.data());
  for (std::size_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(copied[i].name, entry(i).name) << i;
    ASSERT_EQ(copied[i].value, entry(i).value) << i;
  }
}

}  // namespace
}  // namespace loomreg::formdata
