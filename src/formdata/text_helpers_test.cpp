#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formdata.h"

namespace loomreg::formdata {
namespace {

constexpr std::size_t kRecord = LOOMREG_RECORD_SIZE;

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(CompareTextTest, OrdersByUnsignedBytes) {
  EXPECT_LT(CompareTextAscending("abc", "abd"), 0);
  EXPECT_LT(CompareTextAscending("ab", "abc"), 0);
  EXPECT_LT(CompareTextAscending("B", "a"), 0);
  EXPECT_GT(CompareTextAscending("\xe9", "z"), 0);
  EXPECT_EQ(CompareTextAscending("same", "same"), 0);
  EXPECT_EQ(CompareTextAscending("", ""), 0);
  for (auto [first, second] : {std::pair{"abc", "abd"}, {"ab", "abc"}, {"B", "a"}, {"\xe9", "z"}}) {
    EXPECT_EQ(Sign(CompareTextDescending(first, second)),
              -Sign(CompareTextAscending(first, second)));
  }
  EXPECT_EQ(CompareTextDescending("same", "same"), 0);
}

TEST(CompareTextTest, SortsAndSearchesRecords) {
  char records[5][kRecord] = {"pear", "Apple", "\xe9t\xe9", "apple", "fig"};
  std::qsort(records, 5, kRecord, CompareTextAscending);
  std::vector<std::string> sorted(std::begin(records), std::end(records));
  EXPECT_EQ(sorted, (std::vector<std::string>{"Apple", "apple", "fig", "pear", "\xe9t\xe9"}));
  EXPECT_NE(std::bsearch("fig", records, 5, kRecord, CompareTextAscending), nullptr);
  EXPECT_EQ(std::bsearch("Fig", records, 5, kRecord, CompareTextAscending), nullptr);
  std::qsort(records, 5, kRecord, CompareTextDescending);
  EXPECT_STREQ(records[0], "\xe9t\xe9");
  EXPECT_STREQ(records[4], "Apple");
}

// `count` records "A", "B", ... with a different byte filling each record's tail.
std::vector<char> Block(int count) {
  std::vector<char> block(count * kRecord);
  for (int i = 0; i < count; ++i) {
    std::memset(&block[i * kRecord], 'a' + i, kRecord);
    block[i * kRecord] = static_cast<char>('A' + i);
    block[i * kRecord + 1] = '\0';
  }
  return block;
}

TEST(ReverseRecordsTest, MovesWholeRecords) {
  for (int count : {5, 4, 2}) {
    std::vector<char> block = Block(count);
    EXPECT_EQ(ReverseRecords(block.data(), count), 0);
    std::vector<char> source = Block(count);
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(std::memcmp(&block[i * kRecord], &source[(count - 1 - i) * kRecord], kRecord), 0)
          << count << " records, record " << i;
    }
  }
}

TEST(ReverseRecordsTest, FewerThanTwoRecordsStayPut) {
  std::vector<char> block = Block(3);
  for (int count : {1, 0, -3}) {
    EXPECT_EQ(ReverseRecords(block.data(), count), 0);
    EXPECT_EQ(block, Block(3)) << count;
  }
}

TEST(IsValidNameTest, AcceptsLettersDigitsAndFourMarks) {
  EXPECT_EQ(IsValidName("Style_01"), 1);
  EXPECT_EQ(IsValidName("A-(2)"), 1);
  EXPECT_EQ(IsValidName(""), 1);
  for (const char* name : {"a b", "file.txt", "x/y", "x\\y", "caf\xe9", "a\tb", "a,b", "~"}) {
    EXPECT_EQ(IsValidName(name), 0) << name;
  }
  for (int c = 1; c < 256; ++c) {
    bool wanted = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  std::strchr("-_()", c) != nullptr;
    char name[] = {'o', 'k', static_cast<char>(c), '\0'};
    EXPECT_EQ(IsValidName(name), wanted ? 1 : 0) << "byte " << c;
  }
}

struct FieldCopy {
  int result;
  std::string destination;  // all 256 bytes
};

FieldCopy CopyField(const std::string& record_bytes) {
  std::string source = record_bytes;
  source.resize(kRecord, '\0');
  std::string destination(kRecord, '*');
  int result = CopyCommaField(source.data(), destination.data());
  return {result, destination};
}

TEST(CopyCommaFieldTest, CopiesUpToTheFirstComma) {
  FieldCopy field = CopyField("abc,def");
  EXPECT_EQ(field.result, 4);
  EXPECT_EQ(field.destination, "abc" + std::string(1, '\0') + std::string(kRecord - 4, '*'));
  field = CopyField(",x");
  EXPECT_EQ(field.result, 1);
  EXPECT_EQ(field.destination, '\0' + std::string(kRecord - 1, '*'));
}

TEST(CopyCommaFieldTest, ScansTheWholeRecordPastTheText) {
  FieldCopy last = CopyField("abc");
  EXPECT_EQ(last.result, 257);
  EXPECT_EQ(last.destination, "abc" + std::string(kRecord - 3, '\0'));

  std::string stale = std::string("ab\0x,y", 6);
  FieldCopy behind = CopyField(stale);
  EXPECT_EQ(behind.result, 5);
  EXPECT_EQ(behind.destination, std::string("ab\0x\0", 5) + std::string(kRecord - 5, '*'));

  std::string full(kRecord, 'z');
  EXPECT_EQ(CopyField(full).result, 257);
  EXPECT_EQ(CopyField(full).destination, full);
  full.back() = ',';
  EXPECT_EQ(CopyField(full).result, 256);
}

}  // namespace
}  // namespace loomreg::formdata
