#include <gtest/gtest.h>

#include <string>

#include "siteconfig.h"
#include "test_support.h"

namespace {

using loomreg::testing::ScopedCwd;
using loomreg::testing::TempDir;
using loomreg::testing::WriteFile;

class PathTableTest : public ::testing::Test {
 protected:
  void Config(const std::string& bytes) { WriteFile(dir_ / "KVR_PATH.inf", bytes); }
  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
};

TEST_F(PathTableTest, DefaultsWithoutConfiguration) {
  EXPECT_STREQ(ReadKvrPath(), "/kvr/");
  EXPECT_STREQ(ReadKvrDataPath(), "/kvrdata/");
  BuildPathTable();
  EXPECT_EQ(PathTableIsComplete(), 1);
  EXPECT_STREQ(StyleFileDir, "../kvrdata/StyleFile/");
  EXPECT_STREQ(SetValueFileListDir, "../kvrdata/SetValueFileList/");
  EXPECT_STREQ(MachineFDir, "../kvrdata/MachineF/");
  EXPECT_STREQ(MachineListFile, "../kvrdata/MachineList/MachineList");
  EXPECT_STREQ(SetValueFileDir, "../kvrdata/SetValueFile/");
  EXPECT_STREQ(StyleListDir, "../kvrdata/StyleList/");
  EXPECT_STREQ(HtmlFileListFile, "../kvrdata/HTMLFile.txt");
  EXPECT_STREQ(DobbyDir, "../kvrdata/Dobby/");
  EXPECT_STREQ(DobbyListDir, "../kvrdata/DobbyList/");
  EXPECT_STREQ(DobbyFileDir, "../kvrdata/DobbyFile/");
  EXPECT_STREQ(MachineDir, "../kvrdata/Machine/");
}

TEST_F(PathTableTest, ReadersTakeTheirOwnKeyAndReturnTheSameBuffer) {
  Config("KVRDATA=/d/\n");
  const char* first = ReadKvrPath();
  EXPECT_STREQ(first, "/kvr/");
  EXPECT_STREQ(ReadKvrDataPath(), "/d/");
  Config("KVR=/changed/\n");
  EXPECT_EQ(ReadKvrPath(), first);
  EXPECT_STREQ(first, "/changed/");
  EXPECT_STREQ(ReadKvrDataPath(), "/kvrdata/");
}

TEST_F(PathTableTest, EntriesFollowTheConfiguredPaths) {
  Config("KVR=/kvr/cgi-bin/\r\n");
  BuildPathTable();
  EXPECT_STREQ(StyleFileDir, "../../kvrdata/StyleFile/");
  EXPECT_STREQ(MachineListFile, "../../kvrdata/MachineList/MachineList");

  Config("KVR=/kvr\n");
  BuildPathTable();
  EXPECT_STREQ(StyleFileDir, "/kvrdata/StyleFile/");

  Config("KVRDATA=kvrdata/\n");
  BuildPathTable();
  EXPECT_STREQ(StyleFileDir, "..kvrdata/StyleFile/");

  Config("KVRDATA=/kvrdata\n");
  BuildPathTable();
  EXPECT_STREQ(StyleFileDir, "../kvrdataStyleFile/");

  Config("KVR=\nKVRDATA=/d/\n");
  BuildPathTable();
  EXPECT_STREQ(MachineDir, "/d/Machine/");
}

TEST_F(PathTableTest, EntriesThatDoNotFitAreLeftEmpty) {
  // A data root of 232 bytes still fits "MachineList/MachineList"; one more byte does not.
  std::string root = "/" + std::string(230, 'd') + "/";
  Config("KVR=/kvr\nKVRDATA=" + root + "\n");
  BuildPathTable();
  EXPECT_EQ(PathTableIsComplete(), 1);
  EXPECT_EQ(std::string(MachineListFile), root + "MachineList/MachineList");

  root = "/" + std::string(231, 'd') + "/";
  Config("KVR=/kvr\nKVRDATA=" + root + "\n");
  BuildPathTable();
  EXPECT_EQ(PathTableIsComplete(), 0);
  EXPECT_STREQ(MachineListFile, "");
  EXPECT_EQ(std::string(MachineDir), root + "Machine/");

  // Each '/' of a long site path adds a climb of three bytes.
  Config("KVR=" + std::string(90, '/') + "\n");
  BuildPathTable();
  EXPECT_EQ(PathTableIsComplete(), 0);
  EXPECT_STREQ(StyleFileDir, "");
}

}  // namespace
