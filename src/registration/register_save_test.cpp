#include "register_save.h"

#include <gtest/gtest.h>

#include <chrono>

#include "registration.h"
#include "store_lock.h"
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

// A whole save on a store made as loomreg-mkstore makes it, on every system: it waits for a
// lock another handle holds until its deadline and then changes nothing; once the lock is
// free it files the upload byte for byte (CR LF, a lone LF and a NUL kept), records it in
// every catalogue with CR LF, and never replaces a stored file of the name.
TEST(RegisterSaveTest, WaitsOutAHeldLockThenFilesAndRecordsTheUpload) {
  namespace fs = std::filesystem;
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  testing::TempDir root;
  fs::create_directory(root / "kvr");
  const fs::path data = root / "kvrdata";
  for (const char* dir :
       {"StyleFile", "SetValueFileList", "MachineF", "MachineList", "SetValueFile", "StyleList",
        "Dobby", "DobbyList", "DobbyFile", "Machine"}) {
    fs::create_directories(data / dir);
  }
  WriteFile(data / "SetValueFile/FileList", "");
  const std::string upload = std::string("warp density=42\r\nweft\n") + '\0' + "end";
  WriteFile(data / "SetValueFile/FileData", upload);
  testing::ScopedCwd cwd(root / "kvr");
  const Store store = Store::OpenSite();
  const SaveRequest request{"TW-0001", "Twill", "BEAM-7",    "first trial",
                            "Loom01",  "TOP-3", std::nullopt};

  StoreLock holder;
  ASSERT_TRUE(holder.Acquire(store.At(store.paths().lock), steady_clock::now()).ok());
  const auto before = testing::Snapshot(data);
  const auto started = steady_clock::now();
  SaveOutcome waited = RegisterSaveUntil(store, request, started + milliseconds(300));
  EXPECT_GE(steady_clock::now() - started, milliseconds(300));
  EXPECT_TRUE(waited.failure.message().starts_with("refused: the data store stayed locked"))
      << waited.failure.message();
  EXPECT_EQ(testing::Snapshot(data), before);

  holder = StoreLock();
  SaveOutcome saved = RegisterSaveUntil(store, request, steady_clock::now() + kLockWait);
  EXPECT_TRUE(saved.failure.ok()) << saved.failure.message();
  EXPECT_TRUE(saved.warnings.empty());
  EXPECT_EQ(ReadFile(data / "SetValueFile/Twill/TW-0001"), upload);
  EXPECT_FALSE(Exists(data / "SetValueFile/FileData"));
  EXPECT_EQ(ReadFile(data / "SetValueFile/FileList"), "TW-0001\r\n");
  EXPECT_EQ(ReadFile(data / "SetValueFileList/SetValueList"),
            "TW-0001,Twill,BEAM-7,first trial,Loom01\r\n");
  EXPECT_EQ(ReadFile(data / "MachineF/Loom01"), "TW-0001\r\n");
  EXPECT_EQ(ReadFile(data / "MachineList/MachineList"), "Loom01\r\n");
  EXPECT_EQ(ReadFile(data / "StyleList/KindList"), "Twill\r\n");
  EXPECT_EQ(ReadFile(data / "StyleFile/Twill"), "TW-0001\r\n");
  EXPECT_TRUE(ReadFile(data / "Machine/Loom01").starts_with("Loom01,"));

  WriteFile(data / "SetValueFile/FileData", "other");
  SaveOutcome again = RegisterSaveUntil(store, request, steady_clock::now() + kLockWait);
  EXPECT_TRUE(again.failure.ok()) << again.failure.message();
  ASSERT_EQ(again.warnings.size(), 1u);
  EXPECT_NE(again.warnings[0].find("is already stored"), std::string::npos) << again.warnings[0];
  EXPECT_EQ(ReadFile(data / "SetValueFile/Twill/TW-0001"), upload);
  EXPECT_EQ(ReadFile(data / "SetValueFile/FileData"), "other");
}

}  // namespace
}  // namespace loomreg
