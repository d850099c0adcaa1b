// What the catalogue writes do with what only POSIX systems have: the umask of created files, a
// device in place of a list, and the file-size limit that cuts a write short.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "catalog.h"
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
  mode_t old = ::umask(027);
  std::string list = Path("list");
  EXPECT_EQ(AppendListLine(list.c_str(), "a"), 0);
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(list.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(CatalogPosixTest, AddNameIfAbsentFailsOnADeviceInPlaceOfTheList) {
  ASSERT_EQ(::symlink("/dev/zero", Path("zero").c_str()), 0);
  EXPECT_EQ(AddNameIfAbsent(Path("zero").c_str(), "a"), -1);
}

// A write cut short by the file-size limit: the real error is reported and the file cut back.
TEST_F(CatalogPosixTest, AWriteCutShortReportsWhyAndIsUndone) {
  std::string list = Path("list");
  WriteFile(list, std::string(1000, 'x') + "\r\n");
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 1005;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  Status appended = AppendLine(Place::FromWorkingDirectory(list), "0123456789");
  Status listed = AddToFileList(Place::FromWorkingDirectory(list), "0123456789");
  Status history = AppendHistory(Place::FromWorkingDirectory(list), "f", "s", "b", "c", "m");
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
  std::signal(SIGXFSZ, old_handler);
  for (const Status& status : {appended, listed, history}) {
    EXPECT_NE(status.message().find("File too large"), std::string::npos) << status.message();
  }
  EXPECT_EQ(ReadFile(list), std::string(1000, 'x') + "\r\n");
}

}  // namespace
}  // namespace loomreg
