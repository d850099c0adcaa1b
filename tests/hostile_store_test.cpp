// A store and an application directory with something planted in them: a link out of the store,
// a FIFO, a device, a file where a directory belongs, a list with no last line end, a directory
// the save may not write, a file-size limit. Each save must end with the outcome the table
// gives, do exactly the steps before the one that stopped it, and leave the files outside the
// store byte for byte as they were. Every run is bounded by timeout(1), so a hang fails.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "siteconfig.h"
#include "store_fixture.h"

namespace loomreg::testing {
namespace {

namespace fs = std::filesystem;

enum class Runner {
  kRoot,       // as the test's own user
  kNobody,     // as nobody, through setpriv, over a store that nobody owns
  kSizeLimit,  // under ulimit -f 4: no file may grow past 2 KiB (512-byte blocks) or 4 KiB
};

// The start of a command line that runs the program as `runner` says, bounded in time.
std::vector<std::string> Launcher(Runner runner) {
  std::vector<std::string> argv = {"timeout", "20"};
  if (runner == Runner::kNobody) {
    argv.insert(argv.end(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  }
  if (runner == Runner::kSizeLimit) {
    argv.insert(argv.end(), {"sh", "-c", "ulimit -f 4 && exec \"$@\"", "sh"});
  }
  return argv;
}

ProcessResult RunBounded(const fs::path& cwd, Runner runner, const std::string& program,
                         const std::vector<std::string>& words) {
  std::vector<std::string> argv = Launcher(runner);
  argv.push_back(program);
  argv.insert(argv.end(), words.begin(), words.end());
  return RunProcess("/usr/bin/timeout", argv, cwd, {"TZ=UTC"});
}

// Hands the whole tree to nobody, as a store that the web server's user owns.
void GiveToNobody(const fs::path& root) {
  ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
  ASSERT_EQ(::lchown(root.c_str(), 65534, 65534), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
  }
}

// What is planted at a path below the temporary root (the parent of kvr/ and kvrdata/).
enum class Plant {
  kLinkOut,      // a symbolic link to the file outside
  kLinkOutDir,   // a symbolic link to the directory outside
  kLinkDevNull,  // a symbolic link to /dev/null
  kLinkDevZero,  // a symbolic link to /dev/zero
  kFifo,         // a FIFO
  kDirectory,    // an empty directory
  kFile,         // a file holding `content`
  kRootsDir,     // root's directory, mode 0755: nobody may not write in it
  kUnreadable,   // nobody's file holding `content`, mode 0200
  kNothing,      // the path removed
};

struct Hostile {
  const char* name;
  Plant plant;
  const char* path;
  const char* content;
  Runner runner;
  const char* status;  // TimeExec.dat's line; nullptr: the run must stop with "open error"
  const char* err;     // what the one line on standard error holds; "" for no line
  int first_not_done;  // ExpectStepsDone's step; 0 for a save whose upload stays
  const char* after;   // what `path` holds after the run, or nullptr for a link or FIFO
};

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

constexpr const char* kLink = "symbolic link";
const Hostile kHostile[] = {
    {"HistoryLink", Plant::kLinkOut, "kvrdata/SetValueFileList/SetValueList", "", Runner::kRoot,
     "-1", kLink, 1, nullptr},
    {"HistoryLinkToDevNull", Plant::kLinkDevNull, "kvrdata/SetValueFileList/SetValueList", "",
     Runner::kRoot, "-1", kLink, 1, nullptr},
    {"MachineFilesLink", Plant::kLinkOut, "kvrdata/MachineF/M1", "", Runner::kRoot, "-1", kLink, 2,
     nullptr},
    {"MachineListLink", Plant::kLinkOut, "kvrdata/MachineList/MachineList", "", Runner::kRoot, "-1",
     kLink, 3, nullptr},
    {"FileListLink", Plant::kLinkOut, "kvrdata/SetValueFile/FileList", "", Runner::kRoot, "-1",
     kLink, 4, nullptr},
    {"KindListLink", Plant::kLinkOut, "kvrdata/StyleList/KindList", "", Runner::kRoot, "-1", kLink,
     6, nullptr},
    {"StyleFilesLink", Plant::kLinkOut, "kvrdata/StyleFile/S1", "", Runner::kRoot, "-1", kLink, 7,
     nullptr},
    {"StampLink", Plant::kLinkOut, "kvrdata/Machine/M1", "", Runner::kRoot, "-1", kLink, 8,
     nullptr},
    {"StyleDirectoryLink", Plant::kLinkOutDir, "kvrdata/SetValueFile/S1", "", Runner::kRoot, "-1",
     "SetValueFile/S1: a symbolic link, not a directory", 5, nullptr},
    {"StyleDirectoryIsAFile", Plant::kFile, "kvrdata/SetValueFile/S1", "x", Runner::kRoot, "-1",
     "SetValueFile/S1: a regular file, not a directory", 5, "x"},
    {"UploadLink", Plant::kLinkOut, "kvrdata/SetValueFile/FileData", "", Runner::kRoot, "-1",
     "FileData: a symbolic link, not a regular file", 5, nullptr},
    {"UploadFifo", Plant::kFifo, "kvrdata/SetValueFile/FileData", "", Runner::kRoot, "-1",
     "FileData: a FIFO, not a regular file", 5, nullptr},
    {"UploadDirectory", Plant::kDirectory, "kvrdata/SetValueFile/FileData", "", Runner::kRoot, "-1",
     "FileData: a directory, not a regular file", 5, nullptr},
    {"RunStatusLink", Plant::kLinkOut, "kvr/TimeExec.dat", "", Runner::kRoot, nullptr,
     "cannot open TimeExec.dat: a symbolic link, never followed", 1, nullptr},
    {"UnterminatedLastLine", Plant::kFile, "kvrdata/MachineList/MachineList", "Loom01",
     Runner::kRoot, "0", "", 9, "Loom01\r\nM1\r\n"},
    {"NoUpload", Plant::kNothing, "kvrdata/SetValueFile/FileData", "", Runner::kRoot, "0",
     "upload not stored as \"../kvrdata/SetValueFile/S1/F1\": there is no upload", 0, "<missing>"},
    {"AlreadyStored", Plant::kFile, "kvrdata/SetValueFile/S1/F1", "old", Runner::kRoot, "0",
     "already stored as \"../kvrdata/SetValueFile/S1/F1\"; the upload stays as "
     "\"../kvrdata/SetValueFile/FileData\"",
     0, "old"},
    {"StyleDirectoryNotWritable", Plant::kRootsDir, "kvrdata/SetValueFile/S1", "", Runner::kNobody,
     "-1",
     "cannot move ../kvrdata/SetValueFile/FileData to ../kvrdata/SetValueFile/S1/F1: "
     "Permission denied",
     5, nullptr},
    {"StyleDirectoryCannotBeMade", Plant::kRootsDir, "kvrdata/SetValueFile", "", Runner::kNobody,
     "-1", "cannot create directory ../kvrdata/SetValueFile/S1: Permission denied", 5, nullptr},
    {"MachineListNotReadable", Plant::kUnreadable, "kvrdata/MachineList/MachineList", "M0\r\n",
     Runner::kNobody, "-1", "cannot open ../kvrdata/MachineList/MachineList: Permission denied", 3,
     "M0\r\n"},
    {"FileSizeLimit", Plant::kFile, "kvrdata/SetValueFileList/SetValueList", "5000 bytes",
     Runner::kSizeLimit, "-1",
     "save history: cannot write ../kvrdata/SetValueFileList/"
     "SetValueList: File too large",
     1, "5000 bytes"},
    {"ConfigurationFifo", Plant::kFifo, "kvr/KVR_PATH.inf", "", Runner::kRoot, "0", "", 9, nullptr},
    {"ConfigurationLinkToDevZero", Plant::kLinkDevZero, "kvr/KVR_PATH.inf", "", Runner::kRoot, "0",
     "", 9, nullptr},
};

// The planted content: "5000 bytes" stands for a file too long for the size limit.
std::string Content(const char* content) {
  return content == std::string("5000 bytes") ? std::string(5000, 'h') + "\r\n" : content;
}

void PlantAt(const Hostile& h, const fs::path& at, const fs::path& outside) {
  if (h.plant != Plant::kRootsDir) fs::remove_all(at);
  fs::create_directories(at.parent_path());
  switch (h.plant) {
    case Plant::kLinkOut:
      return fs::create_symlink(outside / "victim", at);
    case Plant::kLinkOutDir:
      return fs::create_directory_symlink(outside / "victimdir", at);
    case Plant::kLinkDevNull:
      return fs::create_symlink("/dev/null", at);
    case Plant::kLinkDevZero:
      return fs::create_symlink("/dev/zero", at);
    case Plant::kFifo:
      ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0);
      return;
    case Plant::kDirectory:
      fs::create_directory(at);
      return;
    case Plant::kFile:
      return WriteFile(at, Content(h.content));
    case Plant::kRootsDir:
      fs::create_directory(at);
      ASSERT_EQ(::lchown(at.c_str(), 0, 0), 0);
      ASSERT_EQ(::chmod(at.c_str(), 0755), 0);
      return;
    case Plant::kUnreadable:
      WriteFile(at, Content(h.content));
      ASSERT_EQ(::lchown(at.c_str(), 65534, 65534), 0);
      ASSERT_EQ(::chmod(at.c_str(), 0200), 0);
      return;
    case Plant::kNothing:
      return;
  }
}

class HostileStoreTest : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileStoreTest, TheSaveEndsAsItMustAndNothingOutsideChanges) {
  const Hostile& h = GetParam();
  TempDir outside;
  WriteFile(outside / "victim", "outside\n");
  fs::create_directory(outside / "victimdir");
  Store store;
  store.Upload("v1");
  const fs::path root = store.app().parent_path();
  if (h.runner == Runner::kNobody) GiveToNobody(root);
  PlantAt(h, root / h.path, outside.path());
  const auto outside_before = Snapshot(outside.path());

  ProcessResult run = RunBounded(store.app(), h.runner, LOOMREG_BINARY, SaveWords({}));
  EXPECT_EQ(run.exit_status, h.status ? 1 : 255) << run.err;
  EXPECT_EQ(run.out, h.status ? "" : "open error");
  if (h.status) {
    EXPECT_EQ(store.RunStatus(), std::string(h.status) + "\r\n");
  }
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), *h.err ? 1 : 0) << run.err;
  EXPECT_NE(run.err.find(h.err), std::string::npos) << run.err;
  // The planted path is checked on its own: as `after` says, or left as planted.
  std::vector<std::string> planted;
  if (std::string_view(h.path).starts_with("kvrdata/") && h.plant != Plant::kRootsDir) {
    planted.push_back(std::string(h.path).substr(8));
  }
  if (!h.status) {
    EXPECT_EQ(store.Data("SetValueFileList/SetValueList"), "<missing>");
  } else if (h.first_not_done > 0) {
    ExpectStepsDone(store, h.first_not_done, "v1", planted);
  } else {
    EXPECT_EQ(store.Data("SetValueFile/S1/F1"), h.plant == Plant::kNothing ? "<missing>" : "old");
    EXPECT_TRUE(store.Data("Machine/M1").starts_with("M1,"));
  }
  if (h.after) {
    EXPECT_EQ(ReadFile(root / h.path), Content(h.after));
  } else if (h.plant != Plant::kRootsDir) {
    EXPECT_NE(fs::symlink_status(root / h.path).type(), fs::file_type::regular);
  }
  EXPECT_EQ(Snapshot(outside.path()), outside_before);
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileStoreTest, ::testing::ValuesIn(kHostile),
                         [](const auto& test) { return std::string(test.param.name); });

void LinkOut(const Store& store, const fs::path& outside, const char* path) {
  fs::remove_all(store.data() / path);
  fs::create_symlink(outside / "victim", store.data() / path);
}

// loomreg-check reports each planted link or wrong type as a problem, reads none of them, and
// its repair writes through none.
TEST(HostileStoreCheckTest, LinksAndWrongTypesAreProblemsAndNeverFollowed) {
  TempDir outside;
  WriteFile(outside / "victim", "S1\r\nS1\r\n");
  fs::create_directory(outside / "victimdir");
  Store store;
  ASSERT_EQ(store.Save({}).exit_status, 1);
  for (const char* path : {"StyleList/KindList", "Machine/M1", "SetValueFile/FileData"}) {
    LinkOut(store, outside.path(), path);
  }
  fs::create_directory_symlink(outside / "victimdir", store.data() / "SetValueFile/S2");
  fs::remove(store.data() / "MachineF/M1");
  ASSERT_EQ(::mkfifo((store.data() / "MachineF/M1").c_str(), 0666), 0);
  const auto outside_before = Snapshot(outside.path());

  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, std::vector<std::string>{"--repair"}}) {
    ProcessResult run = RunBounded(store.app(), Runner::kRoot, LOOMREG_CHECK_BINARY, options);
    EXPECT_EQ(run.exit_status, 1) << run.err;
    const std::string link =
        "problem: wrong-type: a symbolic link: a save never reads or "
        "writes through it\n";
    for (const std::string& line :
         {"../kvrdata/StyleList/KindList: " + link, "../kvrdata/Machine/M1: " + link,
          "../kvrdata/SetValueFile/FileData: " + link, "../kvrdata/SetValueFile/S2: " + link,
          std::string("../kvrdata/MachineF/M1: problem: wrong-type: a FIFO, not a regular "
                      "file\n")}) {
      EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    }
    EXPECT_EQ(run.out.find(".lock"), std::string::npos) << run.out;
  }
  EXPECT_EQ(Snapshot(outside.path()), outside_before);
  EXPECT_TRUE(fs::is_symlink(store.data() / "StyleList/KindList"));
}

// Run as root under umask 077 against a store that nobody owns, whatever creates the lock file
// gives it nobody's owner and group and read and write for each class that may write
// SetValueFileList/ (here owner and group), so that nobody's saves can take the lock; a plain
// check creates none. A lock file root took nevertheless is reported, named in the refusal of
// nobody's save, and mended by a repair run as root.
TEST(HostileStoreLockTest, WhatRootRunsNeverLocksOutTheStoresOwner) {
  const std::vector<std::vector<std::string>> creators = {
      {LOOMREG_CHECK_BINARY, "--hold", "--", "true"},
      {LOOMREG_CHECK_BINARY, "--repair"},
      {LOOMREG_SCRIPT_DIR "/loomreg-mkstore"},
  };
  auto as_root_under_umask_077 = [](const Store& store, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"-c", "umask 077 && exec \"$@\"", "sh"});
    return RunBounded(store.app(), Runner::kRoot, "/bin/sh", argv);
  };
  for (const std::vector<std::string>& creator : creators) {
    SCOPED_TRACE(creator[0] + (creator.size() > 1 ? " " + creator[1] : ""));
    Store store;
    store.Upload("v1");
    GiveToNobody(store.app().parent_path());
    const fs::path dir = store.data() / "SetValueFileList";
    const fs::path lock = dir / ".lock";
    ASSERT_EQ(::chmod(dir.c_str(), 0770), 0);
    fs::remove(lock);

    ProcessResult check = as_root_under_umask_077(store, {LOOMREG_CHECK_BINARY});
    EXPECT_EQ(check.exit_status, 0) << check.err;
    EXPECT_NE(check.out.find(".lock: note: unlocked-check: the store was read without its lock, as "
                             "the lock file does not exist"),
              std::string::npos)
        << check.out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(lock)));

    ProcessResult created = as_root_under_umask_077(store, creator);
    EXPECT_EQ(created.exit_status, 0) << created.err << created.out;
    struct stat st;
    ASSERT_EQ(::lstat(lock.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0660u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    ProcessResult save =
        RunBounded(store.app(), Runner::kNobody, LOOMREG_BINARY, SaveWords({.file = "F1"}));
    EXPECT_EQ(save.err, "");
    EXPECT_EQ(store.RunStatus(), "0\r\n");
  }

  // A lock file of root's: nobody's save says why it is refused and how to mend it, and a repair
  // run as root mends it without replacing it.
  Store store;
  store.Upload("v1");
  GiveToNobody(store.app().parent_path());
  const fs::path lock = store.data() / "SetValueFileList/.lock";
  ASSERT_EQ(::lchown(lock.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(lock.c_str(), 0644), 0);
  struct stat before;
  ASSERT_EQ(::lstat(lock.c_str(), &before), 0);
  ProcessResult save = RunBounded(store.app(), Runner::kNobody, LOOMREG_BINARY, SaveWords({}));
  EXPECT_EQ(store.RunStatus(), "-1\r\n");
  EXPECT_EQ(save.err,
            "loomreg: refused: cannot take the store lock: cannot open "
            "../kvrdata/SetValueFileList/.lock: Permission denied; the save runs as nobody, and "
            "the lock file is owned by root:root with mode 0644: mend it with loomreg-check "
            "--repair, run as root in " +
                fs::canonical(store.app()).string() + "\n");
  ProcessResult repair = RunBounded(store.app(), Runner::kRoot, LOOMREG_CHECK_BINARY, {"--repair"});
  EXPECT_TRUE(
      repair.out.starts_with("../kvrdata/SetValueFileList/.lock: repaired: gave the lock "
                             "file the owner nobody:nogroup and mode 0644\n1 repair made\n"))
      << repair.out;
  struct stat after;
  ASSERT_EQ(::lstat(lock.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, 65534u);
  save = RunBounded(store.app(), Runner::kNobody, LOOMREG_BINARY, SaveWords({}));
  EXPECT_EQ(save.err, "");
  EXPECT_EQ(store.RunStatus(), "0\r\n");
}

// A configuration file that is not a regular file counts as missing and is never read: every
// tool goes on with the defaults instead of blocking on a FIFO or reading /dev/zero for ever.
TEST(HostileStoreCheckTest, AConfigurationFileThatIsNoRegularFileCountsAsMissing) {
  for (bool fifo : {true, false}) {
    Store store;
    for (const char* file : {"KVR_PATH.inf", "vellinfo.txt"}) {
      if (fifo) {
        ASSERT_EQ(::mkfifo((store.app() / file).c_str(), 0666), 0);
      } else {
        fs::create_symlink("/dev/zero", store.app() / file);
      }
    }
    ProcessResult paths = RunBounded(store.app(), Runner::kRoot, LOOMREG_BINARY, {"--paths"});
    EXPECT_EQ(paths.exit_status, 0);
    EXPECT_NE(paths.out.find("MachineListFile=../kvrdata/MachineList/MachineList\n"),
              std::string::npos)
        << paths.out;
    ProcessResult check = RunBounded(store.app(), Runner::kRoot, LOOMREG_CHECK_BINARY, {});
    EXPECT_EQ(check.exit_status, 0) << check.err;
    EXPECT_EQ(check.out, "0 problems, 0 notes\n");
    ScopedCwd cwd(store.app());
    EXPECT_STREQ(ReadVellPath(), "/vell/");
    EXPECT_STREQ(ReadKvrPath(), "/kvr/");
  }
}

}  // namespace
}  // namespace loomreg::testing
