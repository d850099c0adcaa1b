#include "store_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "test_support.h"

namespace loomreg {
namespace {

using Result = StoreLock::Result;
using Mode = StoreLock::Mode;

// A deadline already passed: Acquire tries once and does not wait.
std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

TEST(StoreLockTest, SharedLocksCoexistAndKeepAnExclusiveOneOut) {
  testing::TempDir dir;
  const std::string path = dir / ".lock";
  {
    StoreLock first, second, writer;
    EXPECT_EQ(first.Acquire(path.c_str(), Now(), Mode::kShared), Result::kLocked);
    EXPECT_EQ(second.Acquire(path.c_str(), Now(), Mode::kShared), Result::kLocked);
    EXPECT_EQ(writer.Acquire(path.c_str(), Now()), Result::kTimedOut);
  }
  StoreLock writer, reader;
  EXPECT_EQ(writer.Acquire(path.c_str(), Now()), Result::kLocked);
  EXPECT_EQ(reader.Acquire(path.c_str(), Now(), Mode::kShared), Result::kTimedOut);
  // The lock belongs to the open file description, so a second one in the same process is
  // kept out too, and a lock taken through a plain fcntl() by another tool is seen.
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::fcntl(fd, F_OFD_GETLK, &probe), 0);
  EXPECT_EQ(probe.l_type, F_WRLCK);
  ::close(fd);
}

TEST(StoreLockTest, CreatesTheLockFileButNeverFollowsOrUsesAnythingElse) {
  testing::TempDir dir;
  const std::string path = dir / ".lock";
  StoreLock lock;
  ::umask(022);
  EXPECT_EQ(lock.Acquire(path.c_str(), Now()), Result::kLocked);
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  const std::string missing = dir / "missing/.lock";
  EXPECT_EQ(lock.Acquire(missing.c_str(), Now()), Result::kUnavailable);
  EXPECT_EQ(lock.error_number(), ENOENT);
  EXPECT_EQ(lock.error(), "cannot open " + missing + ": No such file or directory");

  std::filesystem::create_directory(dir / "dir");
  EXPECT_EQ(lock.Acquire((dir / "dir").c_str(), Now()), Result::kUnavailable);
  std::filesystem::create_symlink(path, dir / "link");
  EXPECT_EQ(lock.Acquire((dir / "link").c_str(), Now()), Result::kUnavailable);
  EXPECT_EQ(lock.error_number(), ELOOP);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
  EXPECT_EQ(lock.Acquire((dir / "fifo").c_str(), Now()), Result::kUnavailable);
  EXPECT_EQ(lock.error(), "cannot lock " + (dir / "fifo").string() + ": not a regular file");
}

}  // namespace
}  // namespace loomreg
