#include "shared_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "test_support.h"

namespace loomreg {
namespace {

namespace fs = std::filesystem;

TEST(SharedFileTest, WritableForEveryClassThatMayWriteTheDirectoryWhateverTheUmask) {
  struct Row {
    mode_t dir, umask, file;
  };
  for (const Row& row : {Row{0700, 022, 0644}, Row{0770, 077, 0660}, Row{0777, 077, 0666},
                         Row{0755, 0777, 0600}, Row{0750, 027, 0640}}) {
    EXPECT_EQ(SharedFileMode(row.dir, row.umask), row.file) << std::oct << row.dir << row.umask;
  }
  testing::TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0770), 0);
  const mode_t old = ::umask(077);
  const std::string path = dir / "list";
  Status created = CreateSharedFile(path, "A\r\n");
  ::umask(old);
  ASSERT_TRUE(created.ok()) << created.message();
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  EXPECT_EQ(testing::ReadFile(path), "A\r\n");
  // Never replaces, and leaves no temporary file behind either way.
  Status again = CreateSharedFile(path, "B\r\n");
  EXPECT_EQ(again.error(), EEXIST) << again.message();
  EXPECT_EQ(testing::ReadFile(path), "A\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(CreateSharedFile(dir / "missing/list", "").error(), ENOENT);
}

TEST(SharedFileTest, MayOpenForWritingByTheClassThatApplies) {
  struct stat st = {};
  st.st_uid = 4321;
  st.st_gid = 65534;  // nogroup, nobody's own group
  struct Row {
    uid_t user;
    mode_t mode;
    bool may;
  };
  for (const Row& row :
       {Row{4321, 0600, true}, Row{4321, 0466, false}, Row{0, 0000, true}, Row{65534, 0660, true},
        Row{65534, 0606, false}, Row{1234, 0606, true}, Row{1234, 0664, false}}) {
    st.st_mode = S_IFREG | row.mode;
    EXPECT_EQ(MayOpenForWriting(row.user, st), row.may) << row.user << " " << std::oct << row.mode;
  }
  EXPECT_EQ(ModeText(S_IFREG | 0644), "0644");
}

}  // namespace
}  // namespace loomreg
