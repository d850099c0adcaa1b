#include "list_format.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace loomreg {
namespace {

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  ForEachWord(text, [&](std::string_view word) { words.emplace_back(word); });
  return words;
}

TEST(ListFormatTest, ALineRebuildsFromItsWordsAndTheKeptOnesAreAllThatIsLeft) {
  std::mt19937 random(21);
  const std::string alphabet = "ab\xe9 \t\v\f\r";
  std::vector<LineWord> words;
  for (int round = 0; round < 2000; ++round) {
    std::string line;
    for (std::size_t i = random() % 30; i > 0; --i) line += alphabet[random() % alphabet.size()];
    const std::string_view lead = SplitLine(line, words);
    std::string rebuilt(lead);
    std::vector<std::string> kept;
    for (LineWord& word : words) {
      rebuilt += word.text;
      rebuilt += word.space_after;
      word.keep = random() % 3 != 0;
      if (word.keep) kept.emplace_back(word.text);
    }
    ASSERT_EQ(rebuilt, line);
    ASSERT_EQ(words.size(), Words(line).size()) << line;

    std::string out;
    const bool any = AppendKeptWords(lead, words, out);
    ASSERT_EQ(any, !kept.empty()) << line;
    if (!any) {
      ASSERT_TRUE(out.empty());
      continue;
    }
    // The kept words in order, the line's indent before them and its trailing space after.
    ASSERT_EQ(Words(out), kept) << line;
    ASSERT_TRUE(out.starts_with(lead)) << line;
    ASSERT_TRUE(out.ends_with(words.back().space_after)) << line;
  }
}

TEST(ListFormatTest, ARewrittenLineKeepsItsEndAndAnUnterminatedOneGetsOne) {
  const struct {
    std::string_view text;
    LineEnd end;
    std::string_view want;
  } kCases[] = {
      {"A", LineEnd::kCrLf, "\r\n"}, {"A", LineEnd::kLf, "\n"},    {"A", LineEnd::kNone, "\r\n"},
      {"A\r", LineEnd::kNone, "\n"}, {"", LineEnd::kNone, "\r\n"}, {"A \t", LineEnd::kNone, "\r\n"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(RewrittenLineEnd({1, c.text, c.end}), c.want) << c.text;
  }
}

}  // namespace
}  // namespace loomreg
