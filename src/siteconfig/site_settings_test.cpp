#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "siteconfig.h"
#include "test_support.h"

namespace {

using loomreg::testing::ScopedCwd;
using loomreg::testing::TempDir;
using loomreg::testing::WriteFile;

class SiteSettingsTest : public ::testing::Test {
 protected:
  void Config(const std::string& bytes) { WriteFile(dir_ / "KVR_PATH.inf", bytes); }
  void Info(const std::string& bytes) { WriteFile(dir_ / "vellinfo.txt", bytes); }
  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
};

struct KeyReader {
  const char* key;
  const char* (*read)();
  const char* fallback;
};

const KeyReader kKeyReaders[] = {
    {"GLBDIR=", ReadGlbDir, "./"},
    {"MAINDIR=", ReadMainDir, "/pqs/pq001/cgi-bin/"},
    {"LOOMDIR=", ReadLoomDir, "/cgi-bin/"},
};

void ExpectDefaults() {
  for (const KeyReader& reader : kKeyReaders) EXPECT_STREQ(reader.read(), reader.fallback);
  EXPECT_STREQ(ReadStyleManagerPage(), "/StyleManger.htm");
  EXPECT_STREQ(ReadPatternManagerPage(), "/PatternManager.htm");
  EXPECT_STREQ(ReadVellPath(), "/vell/");
}

TEST_F(SiteSettingsTest, DefaultsWithoutFiles) { ExpectDefaults(); }

TEST_F(SiteSettingsTest, DefaultsWhenTheFilesCannotBeRead) {
  std::filesystem::create_directory(dir_ / "KVR_PATH.inf");
  std::filesystem::create_directory(dir_ / "vellinfo.txt");
  ExpectDefaults();
}

TEST_F(SiteSettingsTest, EachReaderTakesItsOwnKey) {
  Config("KVR=/k/\nMENUDIR=/m/\nLOOMDIR=/l/\nMAINDIR=/p/\nGLBDIR=/g/\n");
  EXPECT_STREQ(ReadGlbDir(), "/g/");
  EXPECT_STREQ(ReadMainDir(), "/p/");
  EXPECT_STREQ(ReadLoomDir(), "/l/");
  EXPECT_STREQ(ReadStyleManagerPage(), "/m/StyleManger.htm");
  EXPECT_STREQ(ReadPatternManagerPage(), "/m/PatternManager.htm");
}

TEST_F(SiteSettingsTest, KeysCountOnlyAtTheFirstByteOfALine) {
  Config(" GLBDIR=/g/\n\tMAINDIR=/p/\nloomdir=/l/\n#MENUDIR=/m/\nX=1 LOOMDIR=/l/\nGLBDIRX=/x/\n");
  ExpectDefaults();
}

TEST_F(SiteSettingsTest, FirstLineWithTheKeyWins) {
  Config("GLBDIR=/g1/\nMAINDIR=\nGLBDIR=/g2/\nMAINDIR=/p/\nMENUDIR=/m1/\nMENUDIR=/m2/\n");
  EXPECT_STREQ(ReadGlbDir(), "/g1/");
  EXPECT_STREQ(ReadMainDir(), "");
  EXPECT_STREQ(ReadStyleManagerPage(), "/m1/StyleManger.htm");
}

TEST_F(SiteSettingsTest, EmptyValueIsNotTheDefault) {
  Config("GLBDIR=\nMAINDIR=\r\nLOOMDIR=\nMENUDIR=");
  for (const KeyReader& reader : kKeyReaders) EXPECT_STREQ(reader.read(), "") << reader.key;
  EXPECT_STREQ(ReadStyleManagerPage(), "StyleManger.htm");
  EXPECT_STREQ(ReadPatternManagerPage(), "PatternManager.htm");
}

TEST_F(SiteSettingsTest, CrLfEndsALineAndBlanksBelongToTheValue) {
  for (std::string end : {"\n", "\r\n"}) {
    Config("LOOMDIR= /l d/ " + end + "MAINDIR=/p/" + end + "GLBDIR=/g/");
    EXPECT_STREQ(ReadLoomDir(), " /l d/ ") << end.size();
    EXPECT_STREQ(ReadMainDir(), "/p/") << end.size();
    EXPECT_STREQ(ReadGlbDir(), "/g/") << end.size();
  }
  // Only the CR directly before the LF belongs to the line end; a lone CR ends no line.
  Config("MAINDIR=/p/\r\r\nLOOMDIR=/l/\rGLBDIR=/g/\n");
  EXPECT_STREQ(ReadMainDir(), "/p/\r");
  EXPECT_STREQ(ReadLoomDir(), "/l/\rGLBDIR=/g/");
  EXPECT_STREQ(ReadGlbDir(), "./");
}

TEST_F(SiteSettingsTest, LongLinesAreReadIn255BytePieces) {
  // Only the value bytes within the first 255 bytes of the line: 248 after "GLBDIR=".
  Config("GLBDIR=" + std::string(300, 'g') + "\n");
  EXPECT_EQ(std::string(ReadGlbDir()), std::string(248, 'g'));
  // 247 bytes after "MAINDIR=" fill the piece; the CR LF behind them is a piece of its own.
  Config("MAINDIR=" + std::string(247, 'p') + "\r\nMAINDIR=/second/\n");
  EXPECT_EQ(std::string(ReadMainDir()), std::string(247, 'p'));
  // A key just past the 255th byte of another line starts a piece, and so counts.
  Config(std::string(255, '#') + "LOOMDIR=/l/\r\n");
  EXPECT_STREQ(ReadLoomDir(), "/l/");
  Config(std::string(254, '#') + "LOOMDIR=/l/\n");
  EXPECT_STREQ(ReadLoomDir(), "/cgi-bin/");
  // CR LF counts as one byte: 253 bytes, CR LF, and the next line starts a new piece.
  Config(std::string(253, '#') + "\r\nLOOMDIR=/l/\n");
  EXPECT_STREQ(ReadLoomDir(), "/l/");
}

TEST_F(SiteSettingsTest, MenuPagesAppendTheirNameWithoutASlash) {
  Config("MENUDIR=/m\r\n");
  EXPECT_STREQ(ReadStyleManagerPage(), "/mStyleManger.htm");
  EXPECT_STREQ(ReadPatternManagerPage(), "/mPatternManager.htm");
  // Each page has its own buffer: reading one leaves the other alone.
  const char* style = ReadStyleManagerPage();
  Config("MENUDIR=/n/\n");
  EXPECT_STREQ(ReadPatternManagerPage(), "/n/PatternManager.htm");
  EXPECT_STREQ(style, "/mStyleManger.htm");
}

TEST_F(SiteSettingsTest, MenuPagesThatDoNotFitAreEmpty) {
  auto menu = [&](std::size_t length) {
    Config("MENUDIR=" + std::string(length, 'm') + "\n");
    return std::string(length, 'm');
  };
  std::string value = menu(240);
  EXPECT_EQ(std::string(ReadStyleManagerPage()), value + "StyleManger.htm");
  EXPECT_STREQ(ReadPatternManagerPage(), "");
  value = menu(237);
  EXPECT_EQ(std::string(ReadPatternManagerPage()), value + "PatternManager.htm");
  EXPECT_EQ(std::strlen(ReadPatternManagerPage()), 255u);
  menu(238);
  EXPECT_STREQ(ReadPatternManagerPage(), "");
  menu(241);
  EXPECT_STREQ(ReadStyleManagerPage(), "");
  // The longest value a setting line can hold.
  Config("MENUDIR=" + std::string(400, 'm') + "\n");
  EXPECT_STREQ(ReadStyleManagerPage(), "");
  EXPECT_STREQ(ReadPatternManagerPage(), "");
  // The next call that fits writes the whole path again.
  Config("MENUDIR=/m/\n");
  EXPECT_STREQ(ReadStyleManagerPage(), "/m/StyleManger.htm");
}

TEST_F(SiteSettingsTest, ReadersReturnTheirOwnBufferAndReadTheFileAnew) {
  Config("GLBDIR=/a/\nMAINDIR=/a/\nLOOMDIR=/a/\n");
  const char* first[3];
  for (int i = 0; i < 3; ++i) first[i] = kKeyReaders[i].read();
  EXPECT_NE(first[0], first[1]);
  EXPECT_NE(first[1], first[2]);
  EXPECT_NE(first[0], first[2]);
  Config("GLBDIR=/b/\nMAINDIR=/b/\nLOOMDIR=/b/\n");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(kKeyReaders[i].read(), first[i]);
    EXPECT_STREQ(first[i], "/b/");
  }
  EXPECT_NE(static_cast<const void*>(ReadStyleManagerPage()), ReadPatternManagerPage());
  EXPECT_EQ(ReadVellPath(), ReadVellPath());
}

TEST_F(SiteSettingsTest, VellPathIsTheFirstLineOfTheInfoFile) {
  Info("/v/\r\nsecond\n");
  EXPECT_STREQ(ReadVellPath(), "/v/");
  Info("KVR=/k/ \n");
  EXPECT_STREQ(ReadVellPath(), "KVR=/k/ ");
  Info("/v/");
  EXPECT_STREQ(ReadVellPath(), "/v/");
  Info(std::string("/v\0w/\n", 6));
  EXPECT_STREQ(ReadVellPath(), "/v");
  // Only the first piece: 255 bytes of a longer line, and nothing of a later line.
  Info(std::string(300, 'v') + "\n/w/\n");
  EXPECT_EQ(std::string(ReadVellPath()), std::string(255, 'v'));
  Info(std::string(254, 'v') + "\r\n/w/\n");
  EXPECT_EQ(std::string(ReadVellPath()), std::string(254, 'v'));
}

TEST_F(SiteSettingsTest, EmptyInfoFileGivesTheDefaultButEmptyFirstLineTheEmptyValue) {
  Info("");
  EXPECT_STREQ(ReadVellPath(), "/vell/");
  Info(std::string("\0/v/\n", 5));
  EXPECT_STREQ(ReadVellPath(), "/vell/");
  Info("\n/v/\n");
  EXPECT_STREQ(ReadVellPath(), "");
  Info("\r\n/v/\n");
  EXPECT_STREQ(ReadVellPath(), "");
}

}  // namespace
