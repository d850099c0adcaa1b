#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "formdata.h"
#include "test_helpers.h"

namespace loomreg::formdata {
namespace {

using testing::Pairs;
using testing::PairsOf;
using testing::ScopedList;
using testing::TakeText;

TEST(BuildQueryStringTest, EncodesEveryNameAndValue) {
  ScopedList list({{"a", "1"}, {"b", "x y"}});
  EXPECT_EQ(TakeText(BuildQueryString(list.get())), "?a=1&b=x%20y");
  ScopedList blank(Pairs{{"", ""}});
  EXPECT_EQ(TakeText(BuildQueryString(blank.get())), "?=");
  ScopedList odd({{"k=1&", "%+,\r\xe9"}, {"", "v"}});
  EXPECT_EQ(TakeText(BuildQueryString(odd.get())), "?k%3d1%26=%25%2b%2c%0d%e9&=v");
}

TEST(BuildQueryStringTest, EmptyListGivesNull) {
  ScopedList list;
  EXPECT_EQ(BuildQueryString(list.get()), nullptr);
}

// What parsing a built query gives back: carriage returns are gone, and a name that held '='
// is split at it, the rest going to the front of the value.
Pairs AfterRoundTrip(const Pairs& pairs) {
  Pairs result;
  for (auto [name, value] : pairs) {
    std::erase(name, '\r');
    std::erase(value, '\r');
    std::string segment = name + "=" + value;
    std::size_t equals = segment.find('=');
    result.emplace_back(segment.substr(0, equals), segment.substr(equals + 1));
  }
  return result;
}

Pairs ParseQuery(const PairList* list) {
  char* query = BuildQueryString(list);
  EXPECT_EQ(query[0], '?');
  ScopedList parsed;
  int result = ParseFormData(query + 1, parsed.get());
  std::free(query);
  EXPECT_EQ(result, list->pairCount);
  return PairsOf(parsed.list);
}

TEST(BuildQueryStringTest, ParsingTheQueryGivesThePairsBack) {
  Pairs pairs{{"a=b", "c"}, {"x\r", "\r\n"}, {"&", "="}, {"", ""}, {"+ %", "%0d"}};
  ScopedList list(pairs);
  EXPECT_EQ(ParseQuery(list.get()),
            (Pairs{{"a", "b=c"}, {"x", "\n"}, {"&", "="}, {"", ""}, {"+ %", "%0d"}}));

  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 12);
  auto text = [&] {
    std::string t(length(random), ' ');
    for (char& c : t) c = static_cast<char>(byte(random));
    return t;
  };
  for (int round = 0; round < 200; ++round) {
    Pairs random_pairs(1 + round % 5);
    for (auto& [name, value] : random_pairs) name = text(), value = text();
    ScopedList random_list(random_pairs);
    ASSERT_EQ(ParseQuery(random_list.get()), AfterRoundTrip(random_pairs)) << round;
  }
}

}  // namespace
}  // namespace loomreg::formdata
