#include "store_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "test_support.h"

namespace loomreg {
namespace {

using Mode = StoreLock::Mode;

// A deadline already passed: Acquire tries once and does not wait.
std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

// Paths with '/' on every system, as the store names its files.
Place At(const std::filesystem::path& path) {
  return Place::FromWorkingDirectory(path.generic_string());
}

TEST(StoreLockTest, SharedLocksCoexistAndKeepAnExclusiveOneOut) {
  testing::TempDir dir;
  const std::filesystem::path path = dir / ".lock";
  {
    StoreLock first, second, writer;
    EXPECT_TRUE(first.Acquire(At(path), Now(), Mode::kShared).ok());
    EXPECT_TRUE(second.Acquire(At(path), Now(), Mode::kShared).ok());
    EXPECT_TRUE(writer.Acquire(At(path), Now()).timed_out());
  }
  StoreLock writer, reader;
  EXPECT_TRUE(writer.Acquire(At(path), Now()).ok());
  EXPECT_TRUE(reader.Acquire(At(path), Now(), Mode::kShared).timed_out());
}

TEST(StoreLockTest, CreatesTheLockFileButNeverFollowsOrUsesAnythingElse) {
  testing::TempDir dir;
  const std::filesystem::path path = dir / ".lock";
  StoreLock lock;
  EXPECT_TRUE(lock.Acquire(At(path), Now()).ok());
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
  EXPECT_EQ(testing::ReadFile(path), "");

  const std::filesystem::path missing = dir / "missing/.lock";
  Status failed = lock.Acquire(At(missing), Now());
  EXPECT_EQ(failed.kind(), os::Kind::kNotFound);
  EXPECT_EQ(failed.message(),
            "cannot open " + missing.generic_string() + ": " + os::ErrorText(failed.error()));
  EXPECT_FALSE(lock.handle().valid());
  EXPECT_FALSE(testing::Exists(dir / "missing"));

  std::filesystem::create_directory(dir / "dir");
  EXPECT_FALSE(lock.Acquire(At(dir / "dir"), Now()).ok());
  EXPECT_FALSE(lock.handle().valid());

  if (testing::MakeSymlink(path, dir / "link")) {
    failed = lock.Acquire(At(dir / "link"), Now());
    EXPECT_EQ(failed.kind(), os::Kind::kLink);
    EXPECT_FALSE(failed.timed_out());
    EXPECT_FALSE(lock.handle().valid());
  } else {
    std::cout << "not tested here: a link as the lock file, as this system makes none\n";
  }
  if (testing::MakeFifo(dir / "fifo")) {
    EXPECT_EQ(lock.Acquire(At(dir / "fifo"), Now()).message(),
              "cannot lock " + (dir / "fifo").generic_string() + ": not a regular file");
  } else {
    std::cout << "not tested here: a FIFO as the lock file, as this system has none\n";
  }
}

}  // namespace
}  // namespace loomreg
