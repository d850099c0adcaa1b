#include "store_lock.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "test_support.h"

namespace loomreg {
namespace {

using Result = StoreLock::Result;
using Mode = StoreLock::Mode;

// A deadline already passed: Acquire tries once and does not wait.
std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

TEST(StoreLockTest, SharedLocksCoexistAndKeepAnExclusiveOneOut) {
  testing::TempDir dir;
  const char* path = dir.path().c_str();
  {
    StoreLock first, second, writer;
    EXPECT_EQ(first.Acquire(path, Now(), Mode::kShared), Result::kLocked);
    EXPECT_EQ(second.Acquire(path, Now(), Mode::kShared), Result::kLocked);
    EXPECT_EQ(writer.Acquire(path, Now()), Result::kTimedOut);
  }
  StoreLock writer, reader;
  EXPECT_EQ(writer.Acquire(path, Now()), Result::kLocked);
  EXPECT_EQ(reader.Acquire(path, Now(), Mode::kShared), Result::kTimedOut);
}

TEST(StoreLockTest, AMissingDirectoryIsUnavailable) {
  testing::TempDir dir;
  StoreLock lock;
  EXPECT_EQ(lock.Acquire((dir / "missing").c_str(), Now()), Result::kUnavailable);
  EXPECT_EQ(lock.error(), ENOENT);
  testing::WriteFile(dir / "file", "");
  EXPECT_EQ(lock.Acquire((dir / "file").c_str(), Now()), Result::kUnavailable);
  EXPECT_EQ(lock.error(), ENOTDIR);
  EXPECT_EQ(lock.Acquire(dir.path().c_str(), Now()), Result::kLocked);
  EXPECT_EQ(lock.error(), 0);
}

}  // namespace
}  // namespace loomreg
