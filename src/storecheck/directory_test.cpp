#include "directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "test_support.h"

namespace loomreg {
namespace {

namespace fs = std::filesystem;

// Every kind of entry a hostile store may hold, each listed once by what it is itself: a link
// is a link whatever it points to, and a FIFO is never opened.
TEST(DirectoryTest, ListsEveryEntryOnceByItsOwnKind) {
  testing::TempDir root;
  const fs::path dir = root / "d";
  fs::create_directory(dir);
  testing::WriteFile(dir / "file", "x");
  testing::WriteFile(dir / "two words", "");
  fs::create_directory(dir / "sub");
  fs::create_symlink("file", dir / "to-file");
  fs::create_symlink("sub", dir / "to-dir");
  fs::create_symlink("nowhere", dir / "dangling");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
  const std::map<std::string, EntryKind> expected = {
      {"file", EntryKind::kFile},     {"two words", EntryKind::kFile},
      {"sub", EntryKind::kDirectory}, {"to-file", EntryKind::kLink},
      {"to-dir", EntryKind::kLink},   {"dangling", EntryKind::kLink},
      {"fifo", EntryKind::kOther},
  };
  const Listing listing = ReadDirectory(Place::FromWorkingDirectory(dir.string() + "/"));
  EXPECT_TRUE(listing.status().ok()) << listing.status().message();
  std::map<std::string, EntryKind> found;
  listing.ForEach([&](std::string_view name, EntryKind kind) {
    EXPECT_TRUE(found.emplace(std::string(name), kind).second) << name;
  });
  EXPECT_EQ(found, expected);
  ASSERT_EQ(listing.size(), expected.size());
  EXPECT_EQ(listing[0].name, found.find(std::string(listing[0].name))->first);

  for (const fs::path& bad : {root / "missing", dir / "file"}) {
    const Listing none = ReadDirectory(Place::FromWorkingDirectory(bad.string()));
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.status().message(), Status::SystemError("cannot list", bad.string(),
                                                           bad == dir / "file" ? ENOTDIR : ENOENT)
                                           .message());
  }
}

}  // namespace
}  // namespace loomreg
