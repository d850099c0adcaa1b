#include "repair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

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

// The path as the store names it: '/'-separated on every system.
std::string At(const fs::path& path) { return path.generic_string(); }

// The file at `path` itself, a link not followed.
os::Info Stat(const fs::path& path) {
  os::Info info;
  EXPECT_TRUE(os::StatAt(os::Root(), At(path), info).ok()) << path;
  return info;
}

// Everything in `dir` but `keep`: a repair leaves no temporary file behind.
std::vector<std::string> Others(const fs::path& dir, const std::string& keep) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename() != keep) names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(RepairListTest, RewritesThroughARename) {
  testing::TempDir dir;
  const fs::path list = dir / "FileList";
  testing::WriteFile(list, "A\r\nA\r\nB");
  const os::Info before = Stat(list);

  std::vector<Repair> repairs;
  RepairList(AnyStore(), At(list), kEachOnce, repairs);
  EXPECT_EQ(testing::ReadFile(list), "A\r\nB\r\nN\r\n");
  ASSERT_EQ(repairs.size(), 3u) << repairs[0].detail;
  EXPECT_EQ(repairs[0].action, RepairAction::kRemovedRepeat);
  EXPECT_EQ(repairs[0].file, At(list));
  EXPECT_EQ(repairs[1].action, RepairAction::kEndedLastLine);
  EXPECT_EQ(repairs[2].action, RepairAction::kAddedName);
  // Another file now stands under the name: the old one was renamed over, never rewritten.
  EXPECT_NE(Stat(list).id, before.id);
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
  RepairList(AnyStore(), At(dir / "FileList"), {.each_once = true, .add = {}}, repairs);
  EXPECT_EQ(repairs.size(), 66667u);
  EXPECT_TRUE(testing::ReadFile(dir / "FileList") == expected);
}

TEST(RepairListTest, LeavesAListAloneWhenThereIsNothingToChange) {
  testing::TempDir dir;
  testing::WriteFile(dir / "KindList", "S1\r\nN\r\n");
  const os::Info before = Stat(dir / "KindList");
  std::vector<Repair> repairs;
  RepairList(AnyStore(), At(dir / "KindList"), kEachOnce, repairs);
  EXPECT_TRUE(repairs.empty());
  EXPECT_EQ(Stat(dir / "KindList").id, before.id);
  EXPECT_TRUE(Others(dir.path(), "KindList").empty());
}

TEST(RepairListTest, NeverCutsALinkNorCreatesAList) {
  testing::TempDir dir;
  testing::WriteFile(dir / "target", "A\r\nA\r\n");
  fs::create_hard_link(dir / "target", dir / "hard");
  std::vector<std::string> names = {"hard", "missing"};
  const bool linked = testing::MakeSymlink("target", dir / "linked");
  if (linked) {
    names.push_back("linked");
  } else {
    std::cout << "not tested here: a symbolic link as the list, as this system makes none\n";
  }
  for (const std::string& name : names) {
    std::vector<Repair> repairs;
    RepairList(AnyStore(), At(dir / name), kEachOnce, repairs);
    ASSERT_EQ(repairs.size(), 1u) << name;
    EXPECT_EQ(repairs[0].action, RepairAction::kNotRepaired) << name;
  }
  EXPECT_EQ(testing::ReadFile(dir / "target"), "A\r\nA\r\n");
  EXPECT_EQ(testing::ReadFile(dir / "hard"), "A\r\nA\r\n");
  if (linked) {
    EXPECT_TRUE(fs::is_symlink(dir / "linked"));
  }
  EXPECT_FALSE(testing::Exists(dir / "missing"));
}

TEST(RepairStoreTest, RemovesLeftoversAndRewritesEachPlannedList) {
  testing::TempDir dir;
  testing::WriteFile(dir / ".loomreg-check x1y2z3", "half a list");
  testing::WriteFile(dir / "StyleFile", "F1\r\nF1");
  CheckResult check;
  check.leftovers.push_back(At(dir / ".loomreg-check x1y2z3"));
  check.rewrites[At(dir / "StyleFile")] = RewritePlan{};
  std::vector<Repair> repairs = RepairStore(AnyStore(), check);
  ASSERT_EQ(repairs.size(), 2u);
  EXPECT_EQ(repairs[0].action, RepairAction::kRemovedLeftover);
  EXPECT_EQ(repairs[1].action, RepairAction::kEndedLastLine);
  EXPECT_EQ(testing::ReadFile(dir / "StyleFile"), "F1\r\nF1\r\n");
  EXPECT_TRUE(Others(dir.path(), "StyleFile").empty());
}

}  // namespace
}  // namespace loomreg
