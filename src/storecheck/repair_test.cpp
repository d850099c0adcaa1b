#include "repair.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace loomreg {
namespace {

// A store of the working directory: the tests name their lists by absolute paths.
const Store& AnyStore() {
  static const Store store = Store::OpenRoot("");
  return store;
}

namespace fs = std::filesystem;

const RewritePlan kEachOnce{.each_once = true, .add = {"N"}};

struct stat Stat(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Everything in `dir` but `keep`: a repair leaves no temporary file behind.
std::vector<std::string> Others(const fs::path& dir, const std::string& keep) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename() != keep) names.push_back(entry.path().filename());
  }
  return names;
}

TEST(RepairListTest, RewritesThroughARenameKeepingModeAndOwner) {
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
  RepairList(AnyStore(), list, kEachOnce, repairs);
  EXPECT_EQ(testing::ReadFile(list), "A\r\nB\r\nN\r\n");
  ASSERT_EQ(repairs.size(), 3u);
  EXPECT_EQ(repairs[0].action, RepairAction::kRemovedRepeat);
  EXPECT_EQ(repairs[0].file, list.string());
  EXPECT_EQ(repairs[1].action, RepairAction::kEndedLastLine);
  EXPECT_EQ(repairs[2].action, RepairAction::kAddedName);
  const struct stat after = Stat(list);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  if (root) {
    EXPECT_EQ(after.st_uid, 4321u);
    EXPECT_EQ(after.st_gid, 4322u);
  }
  EXPECT_TRUE(Others(dir.path(), "FileList").empty());
}

TEST(RepairListTest, ALongListIsRewrittenWhole) {
  testing::TempDir dir;
  std::string text, expected;
  for (int i = 0; i < 200000; ++i) {
    std::string name = "F" + std::to_string(i);
    text += name + "\r\n";
    if (i % 3 == 0) text += name + "\r\n";
    expected += name + "\r\n";
  }
  testing::WriteFile(dir / "FileList", text);
  std::vector<Repair> repairs;
  RepairList(AnyStore(), dir / "FileList", {.each_once = true, .add = {}}, repairs);
  EXPECT_EQ(repairs.size(), 66667u);
  EXPECT_TRUE(testing::ReadFile(dir / "FileList") == expected);
}

TEST(RepairListTest, LeavesAListAloneWhenThereIsNothingToChange) {
  testing::TempDir dir;
  testing::WriteFile(dir / "KindList", "S1\r\nN\r\n");
  const struct stat before = Stat(dir / "KindList");
  std::vector<Repair> repairs;
  RepairList(AnyStore(), dir / "KindList", kEachOnce, repairs);
  EXPECT_TRUE(repairs.empty());
  EXPECT_EQ(Stat(dir / "KindList").st_ino, before.st_ino);
  EXPECT_TRUE(Others(dir.path(), "KindList").empty());
}

TEST(RepairListTest, NeverCutsALinkNorCreatesAList) {
  testing::TempDir dir;
  testing::WriteFile(dir / "target", "A\r\nA\r\n");
  fs::create_symlink("target", dir / "linked");
  ASSERT_EQ(::link((dir / "target").c_str(), (dir / "hard").c_str()), 0);
  for (const char* name : {"linked", "hard", "missing"}) {
    std::vector<Repair> repairs;
    RepairList(AnyStore(), dir / name, kEachOnce, repairs);
    ASSERT_EQ(repairs.size(), 1u) << name;
    EXPECT_EQ(repairs[0].action, RepairAction::kNotRepaired) << name;
  }
  EXPECT_EQ(testing::ReadFile(dir / "target"), "A\r\nA\r\n");
  EXPECT_TRUE(fs::is_symlink(dir / "linked"));
  EXPECT_FALSE(testing::Exists(dir / "missing"));
}

TEST(RepairStoreTest, RemovesLeftoversAndRewritesEachPlannedList) {
  testing::TempDir dir;
  testing::WriteFile(dir / ".loomreg-check x1y2z3", "half a list");
  testing::WriteFile(dir / "StyleFile", "F1\r\nF1");
  CheckResult check;
  check.leftovers.push_back(dir / ".loomreg-check x1y2z3");
  check.rewrites[dir / "StyleFile"] = RewritePlan{};
  std::vector<Repair> repairs = RepairStore(AnyStore(), check);
  ASSERT_EQ(repairs.size(), 2u);
  EXPECT_EQ(repairs[0].action, RepairAction::kRemovedLeftover);
  EXPECT_EQ(repairs[1].action, RepairAction::kEndedLastLine);
  EXPECT_EQ(testing::ReadFile(dir / "StyleFile"), "F1\r\nF1\r\n");
  EXPECT_TRUE(Others(dir.path(), "StyleFile").empty());
}

}  // namespace
}  // namespace loomreg
