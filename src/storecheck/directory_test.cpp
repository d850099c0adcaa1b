#include "directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
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
  std::map<std::string, EntryKind> expected = {
      {"file", EntryKind::kFile},
      {"two words", EntryKind::kFile},
      {"sub", EntryKind::kDirectory},
  };
  if (testing::MakeSymlink("file", dir / "to-file")) {
    ASSERT_TRUE(testing::MakeSymlink("sub", dir / "to-dir"));
    ASSERT_TRUE(testing::MakeSymlink("nowhere", dir / "dangling"));
    expected.insert({{"to-file", EntryKind::kLink},
                     {"to-dir", EntryKind::kLink},
                     {"dangling", EntryKind::kLink}});
  } else {
    std::cout << "not tested here: links in the directory, as this system makes none\n";
  }
  if (testing::MakeFifo(dir / "fifo")) {
    expected.emplace("fifo", EntryKind::kOther);
  } else {
    std::cout << "not tested here: a FIFO in the directory, as this system has none\n";
  }
  const Listing listing = ReadDirectory(Place::FromWorkingDirectory(dir.generic_string() + "/"));
  EXPECT_TRUE(listing.status().ok()) << listing.status().message();
  std::map<std::string, EntryKind> found;
  listing.ForEach([&](std::string_view name, EntryKind kind) {
    EXPECT_TRUE(found.emplace(std::string(name), kind).second) << name;
  });
  EXPECT_EQ(found, expected);
  ASSERT_EQ(listing.size(), expected.size());
  EXPECT_EQ(listing[0].name, found.find(std::string(listing[0].name))->first);

  // Neither a missing directory nor a file can be listed, each with the system's own text; only
  // the missing one is "not found".
  for (const fs::path& bad : {root / "missing", dir / "file"}) {
    const Listing none = ReadDirectory(Place::FromWorkingDirectory(bad.generic_string()));
    EXPECT_EQ(none.size(), 0u);
    EXPECT_FALSE(none.status().ok());
    if (bad.filename() == "missing") {
      EXPECT_EQ(none.status().kind(), os::Kind::kNotFound) << none.status().message();
    }
    EXPECT_FALSE(none.status().reason().empty());
    EXPECT_EQ(none.status().message(),
              "cannot list " + bad.generic_string() + ": " + none.status().reason());
  }
}

}  // namespace
}  // namespace loomreg
