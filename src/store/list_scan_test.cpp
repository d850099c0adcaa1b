#include "list_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace loomreg {
namespace {

// Opens `name` in directory `dir` through the seam, as the store opens its lists.
os::Handle OpenIn(const testing::TempDir& dir, const char* name, os::Access access) {
  os::Root root;
  EXPECT_TRUE(os::Root::Open(dir.path().string(), root).ok());
  os::Handle file;
  os::Error error = os::OpenFile(root, name, {access, os::Create::kIfMissing}, file);
  EXPECT_TRUE(error.ok()) << error.text;
  return file;
}

// The straightforward reading of a list: split on the six white-space bytes, compare words.
bool ReferenceHasWord(std::string_view text, std::string_view name) {
  if (name.empty() || name.size() > kMaxWord) return false;
  for (char c : name) {
    if (IsListSpace(c)) return false;
  }
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsListSpace(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !IsListSpace(text[i])) ++i;
    if (i > start && text.substr(start, i - start) == name) return true;
  }
  return false;
}

// 1 when found, 0 when not, -1 on a read error.
int ScanFile(const std::string& text, std::string_view name, std::size_t block) {
  testing::TempDir dir;
  testing::WriteFile(dir / "list", text);
  os::Handle file = OpenIn(dir, "list", os::Access::kRead);
  WordScan scan = ScanForWord(file, "list", name, block);
  return !scan.status.ok() ? -1 : scan.found ? 1 : 0;
}

TEST(ListScanTest, MatchesWholeWordsOnly) {
  const std::string list = "alpha\r\nbeta gamma\tdelta\vepsilon\fzeta\rEta\n";
  for (std::string_view name : {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "Eta"}) {
    EXPECT_TRUE(TextHasWord(list, name)) << name;
  }
  for (std::string_view name : {"alph", "lpha", "eta", "ALPHA", "beta gamma", "a", "", "\r\n"}) {
    EXPECT_FALSE(TextHasWord(list, name)) << name;
  }
  EXPECT_TRUE(TextHasWord("only", "only"));
  EXPECT_FALSE(TextHasWord("", "x"));
}

TEST(ListScanTest, OtherBytesBelongToWords) {
  // NUL, other controls and bytes >= 0x80 are not separators.
  EXPECT_FALSE(TextHasWord(std::string("ab\0cd\r\n", 7), "ab"));
  EXPECT_TRUE(TextHasWord(std::string("ab\0cd\r\n", 7), std::string("ab\0cd", 5)));
  EXPECT_FALSE(
      TextHasWord("a\x1b"
                  "b\r\n",
                  "a"));
  EXPECT_TRUE(TextHasWord("caf\xe9\r\n", "caf\xe9"));
  EXPECT_FALSE(TextHasWord("caf\xe9\r\n", "caf"));
}

TEST(ListScanTest, LongWordsNeverMatch) {
  std::string word(300, 'w');
  EXPECT_FALSE(TextHasWord(word + "\r\n", word));
  // The tail of a long word is not a word of its own.
  EXPECT_FALSE(TextHasWord(word + "\r\n", std::string(45, 'w')));
  EXPECT_TRUE(TextHasWord(std::string(255, 'w') + "\r\n", std::string(255, 'w')));
}

TEST(ListScanTest, AListWordIsOneToTwoHundredFiftyFiveBytesWithoutWhiteSpace) {
  EXPECT_TRUE(IsListWord("F1"));
  EXPECT_TRUE(IsListWord(std::string(255, 'w')));
  EXPECT_TRUE(IsListWord("a\x01/\xe9"));
  EXPECT_FALSE(IsListWord(""));
  EXPECT_FALSE(IsListWord(std::string(256, 'w')));
  for (char space : {' ', '\t', '\r', '\n', '\v', '\f'}) {
    EXPECT_FALSE(IsListWord(std::string("a") + space + "b"));
  }
}

TEST(ListScanTest, AgreesWithReferenceOnRandomLists) {
  // Small alphabets make near misses frequent; lengths past 64 bytes reach the vector loop, and
  // tiny blocks put seams everywhere.
  std::mt19937 random(12345);
  const std::string alphabet = "ab \r\n\t";
  for (int round = 0; round < 4000; ++round) {
    std::string text(random() % (round % 2 ? 40 : 300), ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    std::string name(1 + random() % 4, 'a');
    for (char& c : name) c = "ab \n"[random() % (round % 10 == 0 ? 4 : 2)];
    std::size_t block = 1 + random() % 70;
    bool expected = ReferenceHasWord(text, name);
    ASSERT_EQ(TextHasWord(text, name), expected) << '"' << text << "\" / " << name;
    ASSERT_EQ(ScanFile(text, name, block), expected ? 1 : 0)
        << '"' << text << "\" / " << name << " block " << block;
  }
}

TEST(ListScanTest, FindsNamesAnywhereInLargeLists) {
  std::string list;
  for (int i = 0; i < 50000; ++i) list += "F" + std::to_string(1000000 + i) + "\r\n";
  for (int i : {0, 1, 12345, 49999}) {
    std::string name = "F" + std::to_string(1000000 + i);
    EXPECT_TRUE(TextHasWord(list, name)) << name;
    EXPECT_EQ(ScanFile(list, name, kScanBlock), 1) << name;
    EXPECT_EQ(ScanFile(list, name, 4093), 1) << name;
    EXPECT_FALSE(TextHasWord(list, name.substr(0, 7))) << name;
    EXPECT_FALSE(TextHasWord(list, name + "0")) << name;
  }
  EXPECT_EQ(ScanFile(list, "F1050000", kScanBlock), 0);
}

TEST(ListScanTest, ReportsReadErrors) {
  testing::TempDir dir;
  // Open for writing only: every read of it fails, on each system with its own error.
  os::Handle file = OpenIn(dir, "list", os::Access::kWrite);
  WordScan scan = ScanForWord(file, "list", "x");
  EXPECT_FALSE(scan.found);
  EXPECT_NE(scan.status.error(), 0);
  EXPECT_EQ(scan.status.message(), "cannot read list: " + os::ErrorText(scan.status.error()));
}

}  // namespace
}  // namespace loomreg
