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

using Mode = StoreLock::Mode;

// A deadline already passed: Acquire tries once and does not wait.
std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

Place At(const std::string& path) { return Place::FromWorkingDirectory(path); }

TEST(StoreLockTest, SharedLocksCoexistAndKeepAnExclusiveOneOut) {
  testing::TempDir dir;
  const std::string path = dir / ".lock";
  {
    StoreLock first, second, writer;
    EXPECT_TRUE(first.Acquire(At(path), Now(), Mode::kShared).ok());
    EXPECT_TRUE(second.Acquire(At(path), Now(), Mode::kShared).ok());
    EXPECT_TRUE(writer.Acquire(At(path), Now()).timed_out());
  }
  StoreLock writer, reader;
  EXPECT_TRUE(writer.Acquire(At(path), Now()).ok());
  EXPECT_TRUE(reader.Acquire(At(path), Now(), Mode::kShared).timed_out());
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
  EXPECT_TRUE(lock.Acquire(At(path), Now()).ok());
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  const std::string missing = dir / "missing/.lock";
  Status failed = lock.Acquire(At(missing), Now());
  EXPECT_EQ(failed.kind(), os::Kind::kNotFound);
  EXPECT_EQ(failed.message(), "cannot open " + missing + ": No such file or directory");
  EXPECT_FALSE(lock.handle().valid());

  std::filesystem::create_directory(dir / "dir");
  EXPECT_FALSE(lock.Acquire(At(dir / "dir"), Now()).ok());
  std::filesystem::create_symlink(path, dir / "link");
  failed = lock.Acquire(At(dir / "link"), Now());
  EXPECT_EQ(failed.kind(), os::Kind::kLink);
  EXPECT_EQ(failed.message(),
            "cannot open " + (dir / "link").string() + ": Too many levels of symbolic links");
  EXPECT_FALSE(failed.timed_out());
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
  EXPECT_EQ(lock.Acquire(At(dir / "fifo"), Now()).message(),
            "cannot lock " + (dir / "fifo").string() + ": not a regular file");
}

}  // namespace
}  // namespace loomreg
