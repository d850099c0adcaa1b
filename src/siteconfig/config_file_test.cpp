#include "config_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace loomreg {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Pieces(const std::string& bytes) {
  TempDir dir;
  WriteFile(dir / "f", bytes);
  PieceReader reader((dir / "f").string().c_str());
  std::vector<std::string> pieces;
  std::string piece;
  while (reader.Next(piece)) pieces.push_back(piece);
  return pieces;
}

TEST(PieceReaderTest, SplitsAtLineEndsAndAfter255Bytes) {
  EXPECT_EQ(Pieces("a\nb\r\nc"), (std::vector<std::string>{"a\n", "b\n", "c"}));
  EXPECT_TRUE(Pieces("").empty());
  std::string long_line(300, 'x');
  EXPECT_EQ(Pieces(long_line + "\n"),
            (std::vector<std::string>{std::string(255, 'x'), std::string(45, 'x') + "\n"}));
}

TEST(PieceReaderTest, OnlyCrBeforeLfIsALineEnd) {
  EXPECT_EQ(Pieces("a\rb\r\r\nc\r"), (std::vector<std::string>{"a\rb\r\n", "c\r"}));
  // CR LF counts as one byte: 254 bytes and CR LF make one full piece.
  std::string line(254, 'y');
  EXPECT_EQ(Pieces(line + "\r\nz"), (std::vector<std::string>{line + "\n", "z"}));
}

TEST(PieceReaderTest, MissingFileHasNoPieces) {
  PieceReader reader("/nonexistent/loomreg/file");
  std::string piece;
  EXPECT_FALSE(reader.is_open());
  EXPECT_FALSE(reader.Next(piece));
}

TEST(FindSettingTest, FirstPieceBeginningWithTheKeyWins) {
  TempDir dir;
  auto find = [&](const std::string& bytes, std::string_view key) {
    WriteFile(dir / "f", bytes);
    return FindSetting((dir / "f").string().c_str(), key);
  };
  EXPECT_EQ(find("KVR=/a/\r\n", "KVR="), "/a/");
  EXPECT_EQ(find("KVR= /a/ \n", "KVR="), " /a/ ");
  EXPECT_EQ(find(" KVR=/a/\nkvr=/b/\n", "KVR="), std::nullopt);
  EXPECT_EQ(find("KVR=/a/\nKVR=/b/\n", "KVR="), "/a/");
  EXPECT_EQ(find("KVRDATA=/d/\n", "KVR="), std::nullopt);
  EXPECT_EQ(find("KVRDATA=/d/\nKVR=/k/", "KVR="), "/k/");
  EXPECT_EQ(find("KVR=\nKVR=/b/\n", "KVR="), "");
  // A NUL ends the text of its piece; the LF behind it is not part of the value.
  EXPECT_EQ(find(std::string("KVR=/a\0b\n", 9), "KVR="), "/a");
  EXPECT_EQ(find(std::string("\0KVR=/a/\n", 9), "KVR="), std::nullopt);
}

TEST(FindSettingTest, LongLinesAreReadAsSeveralPieces) {
  TempDir dir;
  WriteFile(dir / "f", "KVR=" + std::string(296, 'v') + "\n");
  EXPECT_EQ(FindSetting((dir / "f").string().c_str(), "KVR="), std::string(251, 'v'));
  WriteFile(dir / "f", std::string(255, '#') + "KVR=/x/\n");
  EXPECT_EQ(FindSetting((dir / "f").string().c_str(), "KVR="), "/x/");
  WriteFile(dir / "f", std::string(254, '#') + "KVR=/x/\n");
  EXPECT_EQ(FindSetting((dir / "f").string().c_str(), "KVR="), std::nullopt);
}

TEST(StoreTextTest, RefusesTextsOver255Bytes) {
  char buffer[kTextSize];
  EXPECT_TRUE(StoreText(buffer, std::string(255, 'a')));
  EXPECT_EQ(std::string(buffer), std::string(255, 'a'));
  EXPECT_FALSE(StoreText(buffer, std::string(256, 'a')));
  EXPECT_STREQ(buffer, "");
}

TEST(RelativeFormTest, ClimbsOneLevelPerSlashLessOne) {
  EXPECT_EQ(RelativeForm("/kvr/", "/kvrdata/"), "../kvrdata/");
  EXPECT_EQ(RelativeForm("/kvr/cgi-bin/", "/kvrdata/"), "../../kvrdata/");
  EXPECT_EQ(RelativeForm("//kvr//", "/kvrdata/"), "../../../kvrdata/");
  EXPECT_EQ(RelativeForm("/kvr", "/kvrdata/"), "/kvrdata/");
  EXPECT_EQ(RelativeForm("/kvr/", "kvrdata/"), "..kvrdata/");
  EXPECT_EQ(RelativeForm("\\kvr\\x/", "/d/"), "/d/");
  // No '/' at all counts as a single one.
  EXPECT_EQ(RelativeForm("kvr", "/kvrdata/"), "/kvrdata/");
  EXPECT_EQ(RelativeForm("", "/kvrdata/"), "/kvrdata/");
  // Long climbs are computed whole; fitting them into a buffer is the caller's business.
  EXPECT_EQ(RelativeForm(std::string(100, '/'), "").size(), 3u * 99 - 1);
}

}  // namespace
}  // namespace loomreg
