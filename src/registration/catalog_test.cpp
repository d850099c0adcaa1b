#include "catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "list_format.h"
#include "registration.h"
#include "test_support.h"

namespace loomreg {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class CatalogTest : public ::testing::Test {
 protected:
  // With '/' on every system, as the store names its files.
  std::string Path(const char* name) const { return (dir_ / name).generic_string(); }
  TempDir dir_;
};

TEST_F(CatalogTest, AppendListLineCreatesAndAppendsWithCrLf) {
  std::string list = Path("list");
  EXPECT_EQ(AppendListLine(list.c_str(), "a"), 0);
  EXPECT_EQ(AppendListLine(list.c_str(), "a"), 0);
  EXPECT_EQ(AppendListLine(list.c_str(), ""), 0);
  EXPECT_EQ(ReadFile(list), "a\r\na\r\n\r\n");
  // An unterminated last line is ended first, in the same write, so that no two names are
  // glued together; a last line ending in a CR or an LF alone counts as ended.
  WriteFile(list, "x");
  EXPECT_EQ(AppendListLine(list.c_str(), "y"), 0);
  EXPECT_EQ(ReadFile(list), "x\r\ny\r\n");
  WriteFile(list, "x\r");
  EXPECT_EQ(AppendListLine(list.c_str(), "y"), 0);
  EXPECT_EQ(ReadFile(list), "x\ry\r\n");
  WriteFile(list, "x\n");
  EXPECT_EQ(AppendListLine(list.c_str(), "y"), 0);
  EXPECT_EQ(ReadFile(list), "x\ny\r\n");
  EXPECT_EQ(AppendListLine(Path("missing/list").c_str(), "a"), -1);
}

TEST_F(CatalogTest, AddNameIfAbsentAppendsOnlyNewNames) {
  std::string list = Path("list");
  EXPECT_EQ(AddNameIfAbsent(list.c_str(), "M1"), 0);
  EXPECT_EQ(ReadFile(list), "M1\r\n");
  WriteFile(list, "");
  EXPECT_EQ(AddNameIfAbsent(list.c_str(), "M1"), 0);
  EXPECT_EQ(ReadFile(list), "M1\r\n");

  // LF-only ends and several names on a line read like one name per line.
  WriteFile(list, "M1 M2\nM3\tM4\n");
  for (const char* name : {"M1", "M2", "M3", "M4"}) {
    EXPECT_EQ(AddNameIfAbsent(list.c_str(), name), 0);
  }
  EXPECT_EQ(ReadFile(list), "M1 M2\nM3\tM4\n");
  EXPECT_EQ(AddNameIfAbsent(list.c_str(), "m1"), 0);
  EXPECT_EQ(AddNameIfAbsent(list.c_str(), "M"), 0);
  EXPECT_EQ(ReadFile(list), "M1 M2\nM3\tM4\nm1\r\nM\r\n");
}

TEST_F(CatalogTest, AddNameIfAbsentWithEmptyNameAppendsAnEmptyLineEveryTime) {
  std::string list = Path("list");
  EXPECT_EQ(AddNameIfAbsent(list.c_str(), ""), 0);
  EXPECT_EQ(AddNameIfAbsent(list.c_str(), ""), 0);
  EXPECT_EQ(ReadFile(list), "\r\n\r\n");
}

TEST_F(CatalogTest, AddNameIfAbsentFailsWhenTheListCannotBeOpenedAtAll) {
  EXPECT_EQ(AddNameIfAbsent(Path("missing/list").c_str(), "a"), -1);
  EXPECT_FALSE(Exists(dir_ / "missing"));
  // A directory in place of the list is not read as one (a device: catalog_posix_test.cpp).
  ASSERT_TRUE(std::filesystem::create_directory(dir_ / "dir"));
  EXPECT_EQ(AddNameIfAbsent(Path("dir").c_str(), "a"), -1);
}

TEST_F(CatalogTest, AddNameToFileListNeedsAnExistingList) {
  std::string list = Path("FileList");
  EXPECT_EQ(AddNameToFileList(list.c_str(), "f1"), -1);
  EXPECT_FALSE(Exists(list));
  WriteFile(list, "");
  EXPECT_EQ(AddNameToFileList(list.c_str(), "f1"), 0);
  EXPECT_EQ(AddNameToFileList(list.c_str(), "f2"), 0);
  EXPECT_EQ(AddNameToFileList(list.c_str(), "f1"), 0);
  EXPECT_EQ(ReadFile(list), "f1\r\nf2\r\n");
  WriteFile(list, "f1\r\nf2");
  EXPECT_EQ(AddNameToFileList(list.c_str(), "f"), 0);
  EXPECT_EQ(ReadFile(list), "f1\r\nf2\r\nf\r\n");
}

// Both ways a list is read (whole, up to one scan block; streamed, beyond it) and both ways
// the name is then appended, against an oracle: the list is left as it is when it holds the
// name as a word, else the name follows on a line of its own, with CR LF first when the last
// line was not ended.
TEST_F(CatalogTest, ListsOfEverySizeAndEndingGainANameOnlyWhenItIsMissing) {
  const std::string big(kScanBlock + 1000, 'x');
  const std::string bodies[] = {"",         "f1\r\n",        "f1",         "f1\r",
                                "f1\n",     "f0 f1\tf2\r\n", big + "\r\n", big + "\r\nf1",
                                big + "f1", "f1\r\n" + big};
  int case_number = 0;
  for (const std::string& body : bodies) {
    for (const char* name : {"f1", "f2", "x"}) {
      for (bool file_list : {true, false}) {
        const std::string list = Path(("list" + std::to_string(++case_number)).c_str());
        WriteFile(list, body);
        std::string expected = body;
        if (!TextHasWord(body, name)) {
          if (!body.empty() && body.back() != '\n' && body.back() != '\r') expected += "\r\n";
          expected += std::string(name) + "\r\n";
        }
        EXPECT_EQ(
            file_list ? AddNameToFileList(list.c_str(), name) : AddNameIfAbsent(list.c_str(), name),
            0);
        EXPECT_EQ(ReadFile(list), expected) << "list of " << body.size() << " bytes, name " << name
                                            << (file_list ? ", FileList" : "");
      }
    }
  }
}

TEST_F(CatalogTest, WriteHistoryLineJoinsFiveValues) {
  std::string history = Path("SetValueList");
  EXPECT_EQ(WriteHistoryLine(history.c_str(), "f", "s", "b", "c", "m"), 0);
  EXPECT_EQ(WriteHistoryLine(history.c_str(), "", "", "", "", ""), 0);
  EXPECT_EQ(WriteHistoryLine(history.c_str(), "f", "s", "b,1", "c", "m"), 0);
  EXPECT_EQ(ReadFile(history), "f,s,b,c,m\r\n,,,,\r\nf,s,b,1,c,m\r\n");
  EXPECT_EQ(WriteHistoryLine(Path("missing/h").c_str(), "f", "s", "b", "c", "m"), -1);
}

TEST_F(CatalogTest, MachineStampIsRewrittenWhole) {
  std::string stamp = Path("M1");
  testing::SetEnv("TZ", "UTC");
  EXPECT_TRUE(WriteStamp(Place::FromWorkingDirectory(stamp), "M1", 0).ok());
  EXPECT_TRUE(WriteStamp(Place::FromWorkingDirectory(stamp), "M1", 86400 * 365).ok());
  EXPECT_EQ(ReadFile(stamp), "M1,Fri Jan 01 00:00:00 1971\r\n\r\n");
  EXPECT_EQ(WriteMachineStamp(stamp.c_str(), "M1"), 0);
  EXPECT_EQ(ReadFile(stamp).size(), 3 + 24 + 4u);
}

}  // namespace
}  // namespace loomreg
