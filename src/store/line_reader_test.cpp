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

struct Seen {
  std::uint64_t number;
  std::string text;
  LineEnd end;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> Lines(LineReader& reader) {
  std::vector<Seen> lines;
  LineRead read;
  while ((read = reader.Next()).line != nullptr) {
    lines.push_back({read.line->number, std::string(read.line->text), read.line->end});
  }
  EXPECT_TRUE(read.status.ok()) << read.status.message();
  return lines;
}

std::vector<Seen> FromText(std::string_view text) {
  LineReader reader(text);
  return Lines(reader);
}

std::vector<Seen> FromFile(const std::string& text, std::size_t block) {
  testing::TempDir dir;
  testing::WriteFile(dir / "list", text);
  os::Handle file = OpenIn(dir, "list", os::Access::kRead);
  EXPECT_TRUE(file.valid());
  LineReader reader(file, "list", block);
  return Lines(reader);
}

TEST(LineReaderTest, TellsEachLineEndAsItStands) {
  EXPECT_EQ(FromText("a\r\nb\nc"),
            (std::vector<Seen>{
                {1, "a", LineEnd::kCrLf}, {2, "b", LineEnd::kLf}, {3, "c", LineEnd::kNone}}));
  // A CR without its LF is no line end: it stays in the text.
  EXPECT_EQ(FromText("a\rb\r\n\r"),
            (std::vector<Seen>{{1, "a\rb", LineEnd::kCrLf}, {2, "\r", LineEnd::kNone}}));
  EXPECT_EQ(FromText("\n\r\n"),
            (std::vector<Seen>{{1, "", LineEnd::kLf}, {2, "", LineEnd::kCrLf}}));
  EXPECT_EQ(FromText(""), std::vector<Seen>{});
  EXPECT_EQ(FromText(std::string("x\0y\n", 4)),
            (std::vector<Seen>{{1, std::string("x\0y", 3), LineEnd::kLf}}));
}

TEST(LineReaderTest, ReadsAFileInAnyBlockSizeAsTheWholeText) {
  std::mt19937 random(8);
  const std::string alphabet = "ab \r\n\t";
  for (int round = 0; round < 60; ++round) {
    std::string text;
    std::size_t length = random() % 64;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    // Lines far longer than a block are returned whole.
    if (round % 10 == 0) text += std::string(1000, 'w') + "\r\n";
    for (std::size_t block : {1, 2, 3, 7, 4096}) {
      ASSERT_EQ(FromFile(text, block), FromText(text)) << "block " << block;
    }
  }
}

TEST(LineReaderTest, ReportsAReadError) {
  testing::TempDir dir;
  // Open for writing only: every read of it fails, on each system with its own error.
  os::Handle file = OpenIn(dir, "list", os::Access::kWrite);
  ASSERT_TRUE(file.valid());
  LineReader reader(file, "list");
  LineRead read = reader.Next();
  EXPECT_EQ(read.line, nullptr);
  EXPECT_NE(read.status.error(), 0);
  EXPECT_EQ(read.status.message(), "cannot read list: " + os::ErrorText(read.status.error()));
  // The error stays: the reader never reads past it.
  EXPECT_EQ(reader.Next().status.error(), read.status.error());
}

TEST(ForEachWordTest, SplitsAtTheSixWhiteSpaceBytesAsASaveReads) {
  std::mt19937 random(12);
  const std::string alphabet = "ab\xe9\x01 \t\r\n\v\f";
  for (int round = 0; round < 500; ++round) {
    std::string text;
    std::size_t length = random() % 40;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    std::vector<std::string> words;
    ForEachWord(text, [&](std::string_view word) { words.emplace_back(word); });
    std::string joined;
    for (const std::string& word : words) {
      ASSERT_FALSE(word.empty());
      // Every word found is one the save's own scan finds as a whole word.
      EXPECT_TRUE(TextHasWord(text, word)) << word;
      joined += word;
    }
    // And nothing but white space lies between them.
    std::string rest;
    for (char c : text) {
      if (!IsListSpace(static_cast<unsigned char>(c))) rest += c;
    }
    EXPECT_EQ(joined, rest);
  }
}

}  // namespace
}  // namespace loomreg
