#include <gtest/gtest.h>

#include <string>

#include "siteconfig.h"
#include "test_support.h"

namespace {

using loomreg::testing::ScopedCwd;
using loomreg::testing::TempDir;
using loomreg::testing::WriteFile;

class RelativeRootsTest : public ::testing::Test {
 protected:
  void Config(const std::string& bytes) { WriteFile(dir_ / "KVR_PATH.inf", bytes); }
  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
};

// The root the path table was built on, read back from its shortest entry.
std::string PathTableRoot() {
  std::string entry = DobbyDir;
  EXPECT_TRUE(entry.ends_with("Dobby/")) << entry;
  return entry.substr(0, entry.size() - 6);
}

TEST_F(RelativeRootsTest, MakeDataRootIsThePathTablesRoot) {
  const struct {
    std::string config;
    std::string root;
  } cases[] = {
      {"", "../kvrdata/"},
      {"KVR=/kvr/cgi-bin/\r\n", "../../kvrdata/"},
      {"KVR=//kvr//\n", "../../../kvrdata/"},
      {"KVR=/kvr\n", "/kvrdata/"},
      {"KVR=kvr\n", "/kvrdata/"},  // no '/' counts as a single '/'
      {"KVR=\nKVRDATA=/d/\n", "/d/"},
      {"KVRDATA=kvrdata/\n", "..kvrdata/"},
      {"KVRDATA=/d\nKVR=/a/b/c/\n", "../../../d"},
      {"KVR=/kvr\nKVRDATA=\n", ""},
      // Too long for MachineList/MachineList, so the table is incomplete; the root still fits.
      {"KVR=/kvr\nKVRDATA=" + std::string(240, 'd') + "\n", std::string(240, 'd')},
  };
  for (const auto& c : cases) {
    Config(c.config);
    BuildPathTable();
    EXPECT_EQ(std::string(MakeDataRoot()), c.root) << c.config;
    EXPECT_EQ(PathTableRoot(), c.root) << c.config;
  }
}

TEST_F(RelativeRootsTest, MakeGlbRootClimbsToTheGlbDir) {
  EXPECT_STREQ(MakeGlbRoot(), ".../");
  const struct {
    const char* config;
    const char* root;
  } cases[] = {
      {"GLBDIR=/glb/\n", "../glb/"},         {"KVR=/kvr/cgi-bin/\nGLBDIR=/glb/\n", "../../glb/"},
      {"KVR=/kvr\nGLBDIR=/glb/\n", "/glb/"}, {"KVR=kvr\nGLBDIR=/glb/\n", "/glb/"},
      {"KVR=\r\nGLBDIR=glb\r\n", "glb"},     {"GLBDIR=\nKVRDATA=/d/\n", ".."},
  };
  for (const auto& c : cases) {
    Config(c.config);
    EXPECT_STREQ(MakeGlbRoot(), c.root) << c.config;
  }
}

TEST_F(RelativeRootsTest, RootsThatDoNotFitAreEmptyLikeThePathTable) {
  // 86 '/' climb 85 levels: 254 bytes of "../.." before the target.
  std::string climb = "KVR=" + std::string(86, '/') + "\n";
  Config(climb + "KVRDATA=d\nGLBDIR=g\n");
  EXPECT_EQ(std::string(MakeDataRoot()).size(), 255u);
  EXPECT_EQ(std::string(MakeGlbRoot()).size(), 255u);
  Config(climb + "KVRDATA=/d\nGLBDIR=/g\n");
  EXPECT_STREQ(MakeDataRoot(), "");
  EXPECT_STREQ(MakeGlbRoot(), "");
  BuildPathTable();
  EXPECT_EQ(PathTableIsComplete(), 0);
  EXPECT_STREQ(DobbyDir, "");

  // A long target: 247 bytes fit behind "../../.." but not behind "../../../..".
  std::string target(247, 't');
  Config("KVR=////\nKVRDATA=" + target + "\nGLBDIR=" + target + "\n");
  EXPECT_EQ(std::string(MakeDataRoot()), "../../.." + target);
  EXPECT_EQ(std::string(MakeGlbRoot()), "../../.." + target);
  Config("KVR=/////\nKVRDATA=" + target + "\nGLBDIR=" + target + "\n");
  EXPECT_STREQ(MakeDataRoot(), "");
  EXPECT_STREQ(MakeGlbRoot(), "");

  // Without a '/' in "KVR=" the target is taken unchanged, however long.
  Config("KVR=kvr\nKVRDATA=" + target + "\n");
  EXPECT_EQ(std::string(MakeDataRoot()), target);

  // A legitimately empty root still builds a complete table.
  Config("KVR=/kvr\nKVRDATA=\n");
  EXPECT_STREQ(MakeDataRoot(), "");
  BuildPathTable();
  EXPECT_EQ(PathTableIsComplete(), 1);
  EXPECT_STREQ(StyleFileDir, "StyleFile/");
}

TEST_F(RelativeRootsTest, EachRootHasItsOwnBufferAndReadsTheFileAnew) {
  Config("KVRDATA=/d/\nGLBDIR=/g/\n");
  const char* data = MakeDataRoot();
  const char* glb = MakeGlbRoot();
  EXPECT_STREQ(data, "../d/");
  EXPECT_STREQ(glb, "../g/");
  Config("KVR=/a/b/\nKVRDATA=/e/\nGLBDIR=/h/\n");
  EXPECT_EQ(MakeDataRoot(), data);
  EXPECT_STREQ(data, "../../e/");
  EXPECT_STREQ(glb, "../g/");
  EXPECT_EQ(MakeGlbRoot(), glb);
  EXPECT_STREQ(glb, "../../h/");
}

}  // namespace
