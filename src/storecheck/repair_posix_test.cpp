// The repair's care for the mode and owner of a list, which exist on POSIX systems only.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "repair.h"
#include "test_support.h"

namespace loomreg {
namespace {

namespace fs = std::filesystem;

struct stat Stat(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(RepairListPosixTest, TheRewrittenListKeepsModeAndOwner) {
  static const Store store = Store::OpenRoot("");
  testing::TempDir dir;
  const fs::path list = dir / "FileList";
  testing::WriteFile(list, "A\r\nA\r\nB");
  ASSERT_EQ(::chmod(list.c_str(), 0640), 0);
  // Tests run as root, so the list can belong to someone else, as it does to the web server.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(list.c_str(), 4321, 4322), 0);
  }
  const struct stat before = Stat(list);

  std::vector<Repair> repairs;
  RepairList(store, list, {.each_once = true, .add = {"N"}}, repairs);
  EXPECT_EQ(testing::ReadFile(list), "A\r\nB\r\nN\r\n");
  EXPECT_EQ(repairs.size(), 3u);
  const struct stat after = Stat(list);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  if (root) {
    EXPECT_EQ(after.st_uid, 4321u);
    EXPECT_EQ(after.st_gid, 4322u);
  }
}

}  // namespace
}  // namespace loomreg
