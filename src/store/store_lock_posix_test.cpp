// What the store lock is on POSIX systems: an open-file-description lock that plain fcntl()
// callers see, a lock file created with the mode that open() gives under the umask, and a link
// in its place refused in the system's words.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "posix_support.h"
#include "store_lock.h"
#include "test_support.h"

namespace loomreg {
namespace {

namespace fs = std::filesystem;

TEST(StoreLockPosixTest, TheLockIsOneOfTheOpenFileDescriptionSeenByFcntl) {
  testing::TempDir dir;
  const std::string path = dir / ".lock";
  StoreLock writer;
  {
    testing::ScopedUmask umask(022);
    ASSERT_TRUE(
        writer.Acquire(Place::FromWorkingDirectory(path), std::chrono::steady_clock::now()).ok());
  }
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));
  // The lock belongs to the open file description, so a second one in the same process is
  // kept out too, and a lock taken through a plain fcntl() by another tool is seen.
  EXPECT_TRUE(testing::WriteLockSeenByFcntl(path));

  // A link in place of the lock file is refused in the system's words.
  fs::create_symlink(path, dir / "link");
  StoreLock other;
  Status failed =
      other.Acquire(Place::FromWorkingDirectory(dir / "link"), std::chrono::steady_clock::now());
  EXPECT_EQ(failed.error(), ELOOP);
  EXPECT_EQ(failed.message(),
            "cannot open " + (dir / "link").string() + ": Too many levels of symbolic links");
}

}  // namespace
}  // namespace loomreg
