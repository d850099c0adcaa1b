// The repair's care for the mode and owner of a list, which exist on POSIX systems only.
#include <gtest/gtest.h>

#include <filesystem>

#include "os.h"
#include "repair.h"
#include "test_support.h"

namespace loomreg {
namespace {

namespace fs = std::filesystem;

os::Info Stat(const fs::path& path) {
  os::Info info;
  EXPECT_TRUE(os::StatAt(os::Root(), path.string(), info).ok()) << path;
  return info;
}

TEST(RepairListPosixTest, TheRewrittenListKeepsModeAndOwner) {
  static const Store store = Store::OpenRoot("");
  testing::TempDir dir;
  const fs::path list = dir / "FileList";
  testing::WriteFile(list, "A\r\nA\r\nB");
  fs::permissions(list, fs::perms(0640));
  // Tests run as root, so the list can belong to someone else, as it does to the web server.
  const bool root = os::EffectiveUser() == 0;
  if (root) {
    os::Handle file;
    ASSERT_TRUE(os::OpenFile(os::Root(), list.string(), {os::Access::kReadWrite}, file).ok());
    ASSERT_TRUE(os::SetOwner(file, 4321, 4322).ok());
  }
  const os::Info before = Stat(list);

  std::vector<Repair> repairs;
  RepairList(store, list, {.each_once = true, .add = {"N"}}, repairs);
  EXPECT_EQ(testing::ReadFile(list), "A\r\nB\r\nN\r\n");
  EXPECT_EQ(repairs.size(), 3u);
  const os::Info after = Stat(list);
  EXPECT_NE(after.id, before.id);
  EXPECT_EQ(after.mode, 0640u);
  EXPECT_EQ(after.mode, before.mode);
  if (root) {
    EXPECT_EQ(after.owner, 4321);
    EXPECT_EQ(after.group, 4322);
  }
}

}  // namespace
}  // namespace loomreg
