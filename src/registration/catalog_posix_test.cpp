// What the catalogue writes do with what only POSIX systems have: the umask of created files, a
// device in place of a list, and the file-size limit that cuts a write short.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "catalog.h"
#include "posix_support.h"
#include "registration.h"
#include "test_support.h"

namespace loomreg {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class CatalogPosixTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  testing::TempDir dir_;
};

TEST_F(CatalogPosixTest, CreatedFilesGetModeFromTheUmask) {
  std::string list = Path("list");
  {
    testing::ScopedUmask umask(027);
    EXPECT_EQ(AppendListLine(list.c_str(), "a"), 0);
  }
  EXPECT_EQ(std::filesystem::status(list).permissions(), std::filesystem::perms(0640));
}

TEST_F(CatalogPosixTest, AddNameIfAbsentFailsOnADeviceInPlaceOfTheList) {
  std::filesystem::create_symlink("/dev/zero", Path("zero"));
  EXPECT_EQ(AddNameIfAbsent(Path("zero").c_str(), "a"), -1);
}

// A write cut short by the file-size limit: the real error is reported and the file cut back.
TEST_F(CatalogPosixTest, AWriteCutShortReportsWhyAndIsUndone) {
  std::string list = Path("list");
  WriteFile(list, std::string(1000, 'x') + "\r\n");
  Status appended, listed, history;
  {
    testing::FileSizeLimit limit(1005);
    ASSERT_TRUE(limit.ok());
    appended = AppendLine(Place::FromWorkingDirectory(list), "0123456789");
    listed = AddToFileList(Place::FromWorkingDirectory(list), "0123456789");
    history = AppendHistory(Place::FromWorkingDirectory(list), "f", "s", "b", "c", "m");
  }
  for (const Status& status : {appended, listed, history}) {
    EXPECT_NE(status.message().find("File too large"), std::string::npos) << status.message();
  }
  EXPECT_EQ(ReadFile(list), std::string(1000, 'x') + "\r\n");
}

}  // namespace
}  // namespace loomreg
