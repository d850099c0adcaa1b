#include "register_save.h"

#include <gtest/gtest.h>

#include "registration.h"
#include "test_support.h"

namespace loomreg {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

class MoveTest : public ::testing::TestWithParam<Status (*)(const Place&, const Place&)> {};

// Paths with '/' on every system, as the store names its files.
Place At(const std::filesystem::path& path) {
  return Place::FromWorkingDirectory(path.generic_string());
}

TEST_P(MoveTest, MovesButNeverReplaces) {
  auto move = GetParam();
  testing::TempDir dir;
  WriteFile(dir / "upload", "new");
  ASSERT_TRUE(move(At(dir / "upload"), At(dir / "stored")).ok());
  EXPECT_FALSE(Exists(dir / "upload"));
  EXPECT_EQ(ReadFile(dir / "stored"), "new");

  WriteFile(dir / "upload", "newer");
  Status status = move(At(dir / "upload"), At(dir / "stored"));
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.kind(), os::Kind::kExists) << status.message();
  EXPECT_TRUE(status.message().ends_with(": " + os::ErrorText(status.error()))) << status.message();
  EXPECT_EQ(ReadFile(dir / "stored"), "new");
  EXPECT_EQ(ReadFile(dir / "upload"), "newer");

  EXPECT_FALSE(move(At(dir / "none"), At(dir / "other")).ok());
  EXPECT_FALSE(Exists(dir / "other"));
}

INSTANTIATE_TEST_SUITE_P(RenameAndLink, MoveTest,
                         ::testing::Values(&MoveNoReplace, &MoveByLink, &MoveLinkFirst));

// The C entry takes a null pointer for an empty value: the request is refused, nothing is
// touched, and the refusal is the one line on standard error.
TEST(RegisterSaveTest, NullArgumentsAreEmptyValues) {
  testing::TempDir dir;
  testing::ScopedCwd cwd(dir.path());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RegisterSave(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "loomreg: refused: file name is empty\n");
  EXPECT_TRUE(testing::Snapshot(dir.path()).empty());
}

}  // namespace
}  // namespace loomreg
