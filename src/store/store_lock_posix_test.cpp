// What the store lock is on POSIX systems: an open-file-description lock that plain fcntl()
// callers see, and a lock file created with the mode that open() gives under the umask.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "store_lock.h"
#include "test_support.h"

namespace loomreg {
namespace {

TEST(StoreLockPosixTest, TheLockIsOneOfTheOpenFileDescriptionSeenByFcntl) {
  testing::TempDir dir;
  const std::string path = dir / ".lock";
  ::umask(022);
  StoreLock writer;
  ASSERT_TRUE(
      writer.Acquire(Place::FromWorkingDirectory(path), std::chrono::steady_clock::now()).ok());
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0644u);
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

  // A link in place of the lock file is refused in the system's words.
  ASSERT_EQ(::symlink(path.c_str(), (dir / "link").c_str()), 0);
  StoreLock other;
  Status failed =
      other.Acquire(Place::FromWorkingDirectory(dir / "link"), std::chrono::steady_clock::now());
  EXPECT_EQ(failed.error(), ELOOP);
  EXPECT_EQ(failed.message(),
            "cannot open " + (dir / "link").string() + ": Too many levels of symbolic links");
}

}  // namespace
}  // namespace loomreg
