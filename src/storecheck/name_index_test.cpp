#include "name_index.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace loomreg {
namespace {

TEST(NameIndexTest, KeepsTheFirstLineOfEachName) {
  NameIndex index;
  EXPECT_FALSE(index.Contains("A"));
  EXPECT_TRUE(index.Add("A", 3).is_new);
  NameIndex::Sighting again = index.Add("A", 9);
  EXPECT_FALSE(again.is_new);
  EXPECT_EQ(again.first_line, 3u);
  EXPECT_TRUE(index.Contains("A"));
  EXPECT_FALSE(index.Contains("a"));
  EXPECT_FALSE(index.Contains("A "));
  EXPECT_FALSE(index.Contains(""));
  EXPECT_TRUE(index.Add("", 5).is_new);
  EXPECT_TRUE(index.Contains(""));
  EXPECT_TRUE(index.Add(std::string("A\0", 2), 4).is_new);  // bytes, not C strings
  EXPECT_EQ(index.size(), 3u);
}

TEST(NameIndexTest, HoldsManyNamesThroughItsGrowth) {
  NameIndex index;
  std::map<std::string, std::uint64_t> expected;
  for (std::uint64_t i = 0; i < 100000; ++i) {
    // Every name twice, the second sighting later.
    std::string name = "F" + std::to_string(i % 60000);
    NameIndex::Sighting sighting = index.Add(name, i + 1);
    auto [it, inserted] = expected.emplace(name, i + 1);
    ASSERT_EQ(sighting.is_new, inserted) << name;
    ASSERT_EQ(sighting.first_line, it->second) << name;
  }
  EXPECT_EQ(index.size(), expected.size());
  std::map<std::string, std::uint64_t> seen;
  index.ForEach([&](std::string_view name, std::uint64_t line) {
    EXPECT_TRUE(seen.emplace(std::string(name), line).second);
  });
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(index.Contains("F60000"));
}

}  // namespace
}  // namespace loomreg
