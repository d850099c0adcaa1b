#include "os.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace loomreg::os {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A fresh directory, held open as a Root, removed with everything in it.
class OsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("loomreg-os-test-" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(dir_));
    ASSERT_TRUE(Root::Open(dir_.string(), root_).ok());
  }
  void TearDown() override {
    root_ = Root();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return in ? bytes.str() : "<missing>";
  }
  Handle Open(const std::string& name, Access access) {
    Handle file;
    Error error = OpenFile(root_, name, {access, Create::kNo}, file);
    EXPECT_TRUE(error.ok()) << name << ": " << error.text;
    return file;
  }

  fs::path dir_;
  Root root_;
};

// Two handles of one process exclude each other as two processes do: the second lock is
// granted, or times out, as the pair of modes says, and the first one's close frees it.
TEST_F(OsTest, LockSharedAndExclusive) {
  Put("lock", "");
  struct Case {
    LockMode first, second;
    bool granted;
  } cases[] = {
      {LockMode::kShared, LockMode::kShared, true},
      {LockMode::kShared, LockMode::kExclusive, false},
      {LockMode::kExclusive, LockMode::kShared, false},
      {LockMode::kExclusive, LockMode::kExclusive, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.first) << " then " << int(c.second));
    Handle holder = Open("lock", Access::kReadWrite);
    Handle waiter = Open("lock", Access::kReadWrite);
    ASSERT_TRUE(Lock(holder, c.first, steady_clock::now()).ok());
    const auto started = steady_clock::now();
    Error second = Lock(waiter, c.second, started + milliseconds(100));
    EXPECT_EQ(second.kind, c.granted ? Kind::kNone : Kind::kTimedOut) << second.text;
    if (c.granted) continue;
    EXPECT_GE(steady_clock::now() - started, milliseconds(100));
    ASSERT_TRUE(holder.Close().ok());
    Error freed = Lock(waiter, c.second, steady_clock::now() + milliseconds(1000));
    EXPECT_TRUE(freed.ok()) << freed.text;
  }
}

TEST_F(OsTest, MoveNeverReplaces) {
  Put("upload", "new\r\n");
  Put("taken", "old\r\n");
  Error refused = Move(root_, "upload", root_, "taken");
  EXPECT_EQ(refused.kind, Kind::kExists) << refused.text;
  EXPECT_EQ(Get("upload"), "new\r\n");
  EXPECT_EQ(Get("taken"), "old\r\n");

  ASSERT_TRUE(MakeDirectory(root_, "style").ok());
  Error moved = Move(root_, "upload", root_, "style/m1");
  EXPECT_TRUE(moved.ok()) << moved.text;
  EXPECT_EQ(Get("upload"), "<missing>");
  EXPECT_EQ(Get("style/m1"), "new\r\n");

  // The rewrite, by contrast, replaces: through a temporary file that is gone afterwards.
  ASSERT_TRUE(Rewrite(root_, "taken", "taken.tmp", "a\r\nb").ok());
  EXPECT_EQ(Get("taken"), "a\r\nb");
  EXPECT_EQ(Get("taken.tmp"), "<missing>");
}

// What OpenFile refuses, and that appends from two handles each land whole at the end.
TEST_F(OsTest, OpenRefusesAllButRegularFiles) {
  fs::create_directory(dir_ / "dir");
  Put("file", "x");
  struct Case {
    const char* name;
    Create create;
    Kind kind;
  } cases[] = {
      {"dir", Create::kNo, Kind::kNotRegular},
      {"dir", Create::kIfMissing, Kind::kNotRegular},
      {"missing", Create::kNo, Kind::kNotFound},
      {"missing/file", Create::kIfMissing, Kind::kNotFound},
      {"file", Create::kNew, Kind::kExists},
  };
  for (const Case& c : cases) {
    Handle file;
    Error error = OpenFile(root_, c.name, {Access::kReadWrite, c.create}, file);
    EXPECT_EQ(error.kind, c.kind) << c.name << ": " << error.text;
    EXPECT_FALSE(file.valid()) << c.name;
  }

  // A link, where the system can make one (Wine's CreateSymbolicLinkW reports success and
  // makes nothing): refused unless followed.
  std::error_code linked;
  fs::create_symlink("file", dir_ / "link", linked);
  Info info;
  if (!linked && StatAt(root_, "link", info).ok() && info.type == Type::kLink) {
    Handle file;
    EXPECT_EQ(OpenFile(root_, "link", {}, file).kind, Kind::kLink);
    EXPECT_TRUE(OpenFile(root_, "link", {.links = Links::kFollow}, file).ok());
  }

  bool created = false;
  Handle first, second;
  ASSERT_TRUE(OpenFile(root_, "log", {Access::kAppend, Create::kIfMissing}, first, &created).ok());
  EXPECT_TRUE(created);
  ASSERT_TRUE(OpenFile(root_, "log", {Access::kAppend, Create::kIfMissing}, second, &created).ok());
  EXPECT_FALSE(created);
  std::size_t written = 0;
  for (const Handle* file : {&first, &second, &first}) {
    ASSERT_TRUE(Write(*file, file == &first ? "one\r\n" : "two\r\n", written).ok());
  }
  EXPECT_TRUE(Flush(first).ok());
  std::string content;
  ASSERT_TRUE(ReadAll(Open("log", Access::kRead), 100, content).ok());
  EXPECT_EQ(content, "one\r\ntwo\r\none\r\n");
}

// Full paths past Windows's old 260-character limit, through every call that takes a name.
TEST_F(OsTest, NamesPastTheOldPathLimit) {
  std::string dir;
  for (char letter : std::string("abcde")) {
    dir += std::string(60, letter);
    ASSERT_TRUE(MakeDirectory(root_, dir).ok()) << dir.size();
    dir += '/';
  }
  ASSERT_GT((dir_ / dir).string().size(), 300u);
  Handle file;
  ASSERT_TRUE(OpenFile(root_, dir + "f", {Access::kAppend, Create::kIfMissing}, file).ok());
  std::size_t written = 0;
  ASSERT_TRUE(Write(file, "x\r\n", written).ok());
  Info opened;
  ASSERT_TRUE(Stat(file, opened).ok());
  ASSERT_TRUE(file.Close().ok());
  ASSERT_TRUE(Move(root_, dir + "f", root_, dir + "g").ok());

  std::vector<Entry> entries;
  ASSERT_TRUE(ListDirectory(root_, dir, entries).ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "g");
  EXPECT_EQ(entries[0].type, Type::kRegular);
  Info moved;
  ASSERT_TRUE(StatAt(root_, dir + "g", moved).ok());
  EXPECT_EQ(moved.type, Type::kRegular);
  EXPECT_EQ(moved.size, 3u);
  EXPECT_EQ(std::pair(moved.volume, moved.id), std::pair(opened.volume, opened.id));
  EXPECT_TRUE(FlushDirectory(root_, dir).ok());
  EXPECT_TRUE(Remove(root_, dir + "g").ok());
  EXPECT_EQ(StatAt(root_, dir + "g", moved).kind, Kind::kNotFound);
}

// What callers read from a file's status, against std::filesystem as the reference: the time to
// the system's step, hard links, permission bits and owner where they apply, and the types
// that a store must never read.
TEST_F(OsTest, StatReportsTimeLinksModeAndType) {
  Put("file", "12345");
  // In 100 ns steps, which both systems keep, and with some of them past the second.
  using Steps = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  const fs::file_time_type when =
      std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now()) -
      std::chrono::hours(30) + Steps(1234567);
  const auto since_1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      fs::file_time_type::clock::to_sys(when).time_since_epoch());
#ifdef _WIN32
  {
    // MinGW's std::filesystem sets whole seconds only: the system's own call sets the steps.
    Handle file = Open("file", Access::kReadWrite);
    ULARGE_INTEGER steps;
    steps.QuadPart = static_cast<ULONGLONG>(since_1970.count() / 100) + 116444736000000000ull;
    FILETIME time{steps.LowPart, steps.HighPart};
    ASSERT_TRUE(::SetFileTime(reinterpret_cast<HANDLE>(file.get()), nullptr, nullptr, &time));
  }
#else
  fs::last_write_time(dir_ / "file", when);
#endif
  fs::create_hard_link(dir_ / "file", dir_ / "second");
  Info info;
  ASSERT_TRUE(StatAt(root_, "file", info).ok());
  EXPECT_EQ(info.type, Type::kRegular);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.links, 2u);
  EXPECT_EQ(info.modified * 1000000000 + info.modified_ns, since_1970.count());
  Info found;
  ASSERT_TRUE(StatAt(root_, "file", found, Links::kRefuse, Attributes::kAsFound).ok());
  EXPECT_EQ(std::tuple(found.id, found.modified_ns, found.links),
            std::tuple(info.id, info.modified_ns, info.links));

  // Flushed by name, whether this process may write it or not; a missing file is not found.
  Put("readonly", "x");
  fs::permissions(dir_ / "readonly", fs::perms::owner_read);
  Error flushed = FlushFile(root_, "readonly");
  EXPECT_TRUE(flushed.ok()) << flushed.text;
  EXPECT_TRUE(FlushFile(root_, "file").ok());
  EXPECT_EQ(FlushFile(root_, "missing").kind, Kind::kNotFound);
  fs::permissions(dir_ / "readonly", fs::perms::owner_all);

  Handle file = Open("file", Access::kReadWrite);
  Error moded = SetMode(file, 0640);
  EXPECT_TRUE(moded.ok()) << moded.text;
  EXPECT_TRUE(SetOwner(file, kNoId, kNoId).ok());
  ASSERT_TRUE(Stat(file, info).ok());
#ifdef _WIN32
  // Owners and modes do not apply: nothing is reported, and anyone may write.
  EXPECT_EQ(std::tuple(info.mode, info.owner, info.group), std::tuple(0u, kNoId, kNoId));
  EXPECT_TRUE(MayOpenForWriting(EffectiveUser(), info));
#else
  EXPECT_EQ(info.mode, 0640u);
  EXPECT_EQ(static_cast<unsigned>(fs::status(dir_ / "file").permissions()), 0640u);
  EXPECT_EQ(std::pair(info.owner, info.group), std::pair(EffectiveUser(), EffectiveGroup()));
  // Owner read and write is what the owner needs; others need their own bits, root nothing.
  EXPECT_TRUE(MayOpenForWriting(info.owner, info));
  EXPECT_TRUE(MayOpenForWriting(0, Info{.mode = 0}));
  EXPECT_FALSE(MayOpenForWriting(
      info.owner + 12345, Info{.mode = 0664, .owner = info.owner, .group = info.group + 12345}));
  EXPECT_TRUE(MayOpenForWriting(
      info.owner + 12345, Info{.mode = 0606, .owner = info.owner, .group = info.group + 12345}));
  EXPECT_EQ(UserName(0), "root");
  EXPECT_EQ(GroupName(0), "root");
  EXPECT_EQ(UserName(987654), "987654");

  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0666), 0);
  ASSERT_TRUE(StatAt(root_, "fifo", info).ok());
  EXPECT_EQ(info.type, Type::kFifo);
  ASSERT_TRUE(StatAt(Root(), "/dev/null", info).ok());
  EXPECT_EQ(info.type, Type::kDevice);
  fs::create_symlink("file", dir_ / "link");
  ASSERT_TRUE(StatAt(root_, "link", info).ok());
  EXPECT_EQ(info.type, Type::kLink);
  ASSERT_TRUE(StatAt(root_, "link", info, Links::kFollow).ok());
  EXPECT_EQ(std::pair(info.type, info.size), std::pair(Type::kRegular, std::uint64_t{5}));
  std::vector<Entry> entries;
  ASSERT_TRUE(ListDirectory(root_, "", entries).ok());
  auto fifo = std::find_if(entries.begin(), entries.end(),
                           [](const Entry& entry) { return entry.name == "fifo"; });
  ASSERT_NE(fifo, entries.end());
  EXPECT_EQ(fifo->type, Type::kFifo);
#endif
}

}  // namespace
}  // namespace loomreg::os
