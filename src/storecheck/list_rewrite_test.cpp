#include "list_rewrite.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace loomreg {
namespace {

const RewritePlan kEachOnce{.each_once = true, .add = {}};
const RewritePlan kRepeatable{};

std::string Dedup(std::string_view text) { return RewriteText(text, kEachOnce); }

TEST(ListRewriteTest, LeavesAListWithNothingToFixByteForByte) {
  for (std::string_view text :
       {"", "A\r\nB\r\n", "A\nB\n", "  A \t\r\n\r\n\v\fB C\n", "caf\xe9\r\n"}) {
    std::vector<Repair> repairs;
    EXPECT_EQ(RewriteText(text, kEachOnce, &repairs), text);
    EXPECT_TRUE(repairs.empty());
    EXPECT_EQ(RewriteText(text, kRepeatable, &repairs), text);
    EXPECT_TRUE(repairs.empty());
  }
}

TEST(ListRewriteTest, RemovesALineThatHeldOnlyARepeat) {
  std::vector<Repair> repairs;
  EXPECT_EQ(RewriteText("A\r\nB\r\nA\r\nC\n", kEachOnce, &repairs), "A\r\nB\r\nC\n");
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].action, RepairAction::kRemovedRepeat);
  EXPECT_EQ(repairs[0].line, 3u);
  EXPECT_EQ(repairs[0].name, "A");
  EXPECT_EQ(repairs[0].detail, "first on line 1");
  // Its white space goes with it; lines without words are not the rewrite's business.
  EXPECT_EQ(Dedup("A\r\n \tA \r\n\r\n  \r\n"), "A\r\n\r\n  \r\n");
}

TEST(ListRewriteTest, TakesARepeatOutOfALineOfSeveralWordsKeepingTheRest) {
  // The separator before the word goes with it; the line keeps its indent and its end.
  EXPECT_EQ(Dedup("A\r\nB A C\r\n"), "A\r\nB C\r\n");
  EXPECT_EQ(Dedup("A\r\n  A\tB \r\n"), "A\r\n  B \r\n");
  EXPECT_EQ(Dedup("A\r\nB\tA\r\n"), "A\r\nB\r\n");
  EXPECT_EQ(Dedup("A\r\nB  A   \n"), "A\r\nB   \n");
  EXPECT_EQ(Dedup("A B A B C\r\n"), "A B C\r\n");
  std::vector<Repair> repairs;
  EXPECT_EQ(RewriteText("X X X\r\n", kEachOnce, &repairs), "X\r\n");
  ASSERT_EQ(repairs.size(), 2u);
  EXPECT_EQ(repairs[1].line, 1u);
  EXPECT_EQ(repairs[1].detail, "first on line 1");
}

TEST(ListRewriteTest, ComparesWholeWordsByteForByte) {
  EXPECT_EQ(Dedup("a\r\nA\r\nab\r\na\xe9\r\na\xe9\r\n"), "a\r\nA\r\nab\r\na\xe9\r\n");
  // A word longer than 255 bytes never equals a name: repeats of it stay.
  std::string long_word(256, 'w');
  std::string text = long_word + "\r\n" + long_word + "\r\n";
  EXPECT_EQ(Dedup(text), text);
  std::string longest(255, 'w');
  EXPECT_EQ(Dedup(longest + "\r\n" + longest + "\r\n"), longest + "\r\n");
}

TEST(ListRewriteTest, EndsAnUnterminatedLastLine) {
  std::vector<Repair> repairs;
  EXPECT_EQ(RewriteText("A\r\nB", kRepeatable, &repairs), "A\r\nB\r\n");
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].action, RepairAction::kEndedLastLine);
  EXPECT_EQ(repairs[0].line, 2u);
  // A trailing CR already begins the line end.
  EXPECT_EQ(RewriteText("A\r", kRepeatable), "A\r\n");
  EXPECT_EQ(RewriteText("A \t", kRepeatable), "A \t\r\n");
  EXPECT_EQ(Dedup("A\r\nB A"), "A\r\nB\r\n");
  // A last line that held only a repeat goes whole: nothing is left to end.
  repairs.clear();
  EXPECT_EQ(RewriteText("A\r\nA", kEachOnce, &repairs), "A\r\n");
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].action, RepairAction::kRemovedRepeat);
}

TEST(ListRewriteTest, RepeatableListsKeepTheirRepeats) {
  EXPECT_EQ(RewriteText("F1\r\nF1\r\nF1", kRepeatable), "F1\r\nF1\r\nF1\r\n");
}

TEST(ListRewriteTest, AddsOnlyNamesTheListLacksAndCanHoldAsOneWord) {
  RewritePlan plan{.each_once = true, .add = {"B", "C", "C", "a b", "", std::string(256, 'x')}};
  std::vector<Repair> repairs;
  EXPECT_EQ(RewriteText("A B\r\nD", plan, &repairs), "A B\r\nD\r\nC\r\n");
  ASSERT_EQ(repairs.size(), 2u);
  EXPECT_EQ(repairs[0].action, RepairAction::kEndedLastLine);
  EXPECT_EQ(repairs[1].action, RepairAction::kAddedName);
  EXPECT_EQ(repairs[1].name, "C");
  EXPECT_EQ(RewriteText("", plan), "B\r\nC\r\n");
}

// The plain reading of a list: its words in order.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  ForEachWord(text, [&](std::string_view word) { words.emplace_back(word); });
  return words;
}

TEST(ListRewriteTest, KeepsEachNameOnceInFirstOrderAndIsIdempotent) {
  std::mt19937 random(3);
  const std::vector<std::string> pieces = {
      "A", "B", "C", "ab", " ", "\t", "\r\n", "\n", "\r", "\v", std::string(256, 'L')};
  for (int round = 0; round < 500; ++round) {
    std::string text;
    std::size_t count = random() % 24;
    for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    const std::string once = Dedup(text);

    std::vector<std::string> expected;
    for (const std::string& word : Words(text)) {
      bool name = word.size() <= kMaxWord;
      if (!name || std::find(expected.begin(), expected.end(), word) == expected.end()) {
        expected.push_back(word);
      }
    }
    ASSERT_EQ(Words(once), expected) << text;
    ASSERT_TRUE(once.empty() || once.back() == '\n') << text;
    std::vector<Repair> again;
    ASSERT_EQ(RewriteText(once, kEachOnce, &again), once) << text;
    ASSERT_TRUE(again.empty()) << text;
  }
}

}  // namespace
}  // namespace loomreg
