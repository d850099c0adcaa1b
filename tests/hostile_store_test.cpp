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

struct Hostile {
  const char* name;
  void (*plant)(const Store& store, const fs::path& outside);
  Runner runner;
  const char* status;  // TimeExec.dat's line; nullptr: the run must stop with "open error"
  std::vector<std::string> err;         // what the one line on standard error holds; {} for none
  int first_not_done;                   // ExpectStepsDone's step; 0 to leave the steps to `verify`
  std::vector<std::string> unreadable;  // for ExpectStepsDone: planted, not to be read back
  void (*verify)(const Store& store) = nullptr;
};

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

void LinkOut(const Store& store, const fs::path& outside, const char* path) {
  fs::remove_all(store.data() / path);
  fs::create_symlink(outside / "victim", store.data() / path);
}

void ExpectUploadUntouched(const Store& store) {
  EXPECT_EQ(fs::symlink_status(store.data() / "SetValueFile/FileData").type(),
            fs::file_type::symlink);
  EXPECT_FALSE(Exists(store.data() / "SetValueFile/S1/F1"));
}

const Hostile kHostile[] = {
    {"HistoryLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "SetValueFileList/SetValueList"); },
     Runner::kRoot,
     "-1",
     {"save history", "symbolic link"},
     1,
     {"SetValueFileList/SetValueList"}},
    {"HistoryLinkToDevNull",
     [](const Store& s, const fs::path&) {
       fs::create_symlink("/dev/null", s.data() / "SetValueFileList/SetValueList");
     },
     Runner::kRoot,
     "-1",
     {"symbolic link"},
     1,
     {"SetValueFileList/SetValueList"}},
    {"MachineFilesLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "MachineF/M1"); },
     Runner::kRoot,
     "-1",
     {"machine's file list", "symbolic link"},
     2,
     {"MachineF/M1"}},
    {"MachineListLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "MachineList/MachineList"); },
     Runner::kRoot,
     "-1",
     {"machine list", "symbolic link"},
     3,
     {"MachineList/MachineList"}},
    {"FileListLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "SetValueFile/FileList"); },
     Runner::kRoot,
     "-1",
     {"file list", "symbolic link"},
     4,
     {"SetValueFile/FileList"}},
    {"KindListLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "StyleList/KindList"); },
     Runner::kRoot,
     "-1",
     {"style list", "symbolic link"},
     6,
     {"StyleList/KindList"}},
    {"StyleFilesLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "StyleFile/S1"); },
     Runner::kRoot,
     "-1",
     {"style's file list", "symbolic link"},
     7,
     {"StyleFile/S1"}},
    {"StampLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "Machine/M1"); },
     Runner::kRoot,
     "-1",
     {"machine stamp", "symbolic link"},
     8,
     {"Machine/M1"}},
    {"StyleDirectoryLink",
     [](const Store& s, const fs::path& o) {
       fs::create_directory_symlink(o / "victimdir", s.data() / "SetValueFile/S1");
     },
     Runner::kRoot,
     "-1",
     {"SetValueFile/S1: a symbolic link, not a directory"},
     5,
     {"SetValueFile/S1"}},
    {"StyleDirectoryIsAFile",
     [](const Store& s, const fs::path&) { WriteFile(s.data() / "SetValueFile/S1", "x"); },
     Runner::kRoot,
     "-1",
     {"SetValueFile/S1: a regular file, not a directory"},
     5,
     {"SetValueFile/S1"}},
    {"UploadLink",
     [](const Store& s, const fs::path& o) { LinkOut(s, o, "SetValueFile/FileData"); },
     Runner::kRoot,
     "-1",
     {"FileData: a symbolic link, not a regular file"},
     5,
     {"SetValueFile/FileData"},
     ExpectUploadUntouched},
    {"UploadFifo",
     [](const Store& s, const fs::path&) {
       fs::remove(s.data() / "SetValueFile/FileData");
       ASSERT_EQ(::mkfifo((s.data() / "SetValueFile/FileData").c_str(), 0666), 0);
     },
     Runner::kRoot,
     "-1",
     {"FileData: a FIFO, not a regular file"},
     5,
     {"SetValueFile/FileData"}},
    {"UploadDirectory",
     [](const Store& s, const fs::path&) {
       fs::remove(s.data() / "SetValueFile/FileData");
       fs::create_directory(s.data() / "SetValueFile/FileData");
     },
     Runner::kRoot,
     "-1",
     {"FileData: a directory, not a regular file"},
     5,
     {"SetValueFile/FileData"}},
    {"RunStatusLink",
     [](const Store& s, const fs::path& o) {
       fs::create_symlink(o / "victim", s.app() / "TimeExec.dat");
     },
     Runner::kRoot,
     nullptr,
     {"cannot open TimeExec.dat: a symbolic link, never followed"},
     0,
     {},
     [](const Store& s) { EXPECT_EQ(s.Data("SetValueFileList/SetValueList"), "<missing>"); }},
    {"UnterminatedLastLines",
     [](const Store& s, const fs::path&) {
       WriteFile(s.data() / "MachineList/MachineList", "Loom01");
       WriteFile(s.data() / "SetValueFile/FileList", "F0\r\nF9");
       WriteFile(s.data() / "StyleFile/S1", "F0\r");
     },
     Runner::kRoot,
     "0",
     {},
     9,
     {"MachineList/MachineList", "SetValueFile/FileList", "StyleFile/S1"},
     [](const Store& s) {
       EXPECT_EQ(s.Data("MachineList/MachineList"), "Loom01\r\nM1\r\n");
       EXPECT_EQ(s.Data("SetValueFile/FileList"), "F0\r\nF9\r\nF1\r\n");
       EXPECT_EQ(s.Data("StyleFile/S1"), "F0\rF1\r\n");
     }},
    {"NoUpload",
     [](const Store& s, const fs::path&) { fs::remove(s.data() / "SetValueFile/FileData"); },
     Runner::kRoot,
     "0",
     {"upload not stored", "there is no upload", "SetValueFile/FileData"},
     0,
     {},
     [](const Store& s) {
       EXPECT_TRUE(fs::is_directory(s.data() / "SetValueFile/S1"));
       EXPECT_FALSE(Exists(s.data() / "SetValueFile/S1/F1"));
       EXPECT_TRUE(s.Data("Machine/M1").starts_with("M1,"));
     }},
    {"AlreadyStored",
     [](const Store& s, const fs::path&) {
       fs::create_directory(s.data() / "SetValueFile/S1");
       WriteFile(s.data() / "SetValueFile/S1/F1", "old");
     },
     Runner::kRoot,
     "0",
     {"already stored as \"../kvrdata/SetValueFile/S1/F1\"",
      "the upload stays as \"../kvrdata/SetValueFile/FileData\""},
     0,
     {},
     [](const Store& s) {
       EXPECT_EQ(s.Data("SetValueFile/S1/F1"), "old");
       EXPECT_EQ(s.Data("SetValueFile/FileData"), "v1");
       EXPECT_TRUE(s.Data("Machine/M1").starts_with("M1,"));
     }},
    {"StyleDirectoryNotWritable",
     [](const Store& s, const fs::path&) {
       ASSERT_EQ(::mkdir((s.data() / "SetValueFile/S1").c_str(), 0755), 0);  // root's
     },
     Runner::kNobody,
     "-1",
     {"stored settings file",
      "cannot move ../kvrdata/SetValueFile/FileData to "
      "../kvrdata/SetValueFile/S1/F1: Permission denied"},
     5,
     {}},
    {"StyleDirectoryCannotBeMade",
     [](const Store& s, const fs::path&) {
       ASSERT_EQ(::lchown((s.data() / "SetValueFile").c_str(), 0, 0), 0);
       ASSERT_EQ(::chmod((s.data() / "SetValueFile").c_str(), 0755), 0);
     },
     Runner::kNobody,
     "-1",
     {"cannot create directory ../kvrdata/SetValueFile/S1: Permission denied"},
     5,
     {"SetValueFile/S1"}},
    {"MachineListNotReadable",
     [](const Store& s, const fs::path&) {
       WriteFile(s.data() / "MachineList/MachineList", "M0\r\n");
       ASSERT_EQ(::lchown((s.data() / "MachineList/MachineList").c_str(), 65534, 65534), 0);
       ASSERT_EQ(::chmod((s.data() / "MachineList/MachineList").c_str(), 0200), 0);
     },
     Runner::kNobody,
     "-1",
     {"machine list", "cannot open ../kvrdata/MachineList/MachineList: Permission denied"},
     3,
     {"MachineList/MachineList"},
     [](const Store& s) { EXPECT_EQ(s.Data("MachineList/MachineList"), "M0\r\n"); }},
    {"FileSizeLimit",
     [](const Store& s, const fs::path&) {
       WriteFile(s.data() / "SetValueFileList/SetValueList", std::string(5000, 'h') + "\r\n");
     },
     Runner::kSizeLimit,
     "-1",
     {"save history", "File too large"},
     1,
     {"SetValueFileList/SetValueList"},
     [](const Store& s) {
       EXPECT_EQ(s.Data("SetValueFileList/SetValueList"), std::string(5000, 'h') + "\r\n");
     }},
    {"ConfigurationFifo",
     [](const Store& s, const fs::path&) {
       ASSERT_EQ(::mkfifo((s.app() / "KVR_PATH.inf").c_str(), 0666), 0);
     },
     Runner::kRoot,
     "0",
     {},
     9,
     {}},
    {"ConfigurationLinkToDevZero",
     [](const Store& s, const fs::path&) {
       fs::create_symlink("/dev/zero", s.app() / "KVR_PATH.inf");
     },
     Runner::kRoot,
     "0",
     {},
     9,
     {}},
};

class HostileStoreTest : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileStoreTest, TheSaveEndsAsItMustAndNothingOutsideChanges) {
  const Hostile& h = GetParam();
  TempDir outside;
  WriteFile(outside / "victim", "outside\n");
  fs::create_directory(outside / "victimdir");
  Store store;
  store.Upload("v1");
  if (h.runner == Runner::kNobody) GiveToNobody(store.app().parent_path());
  h.plant(store, outside.path());
  const auto outside_before = Snapshot(outside.path());

  ProcessResult run = RunBounded(store.app(), h.runner, LOOMREG_BINARY, SaveWords({}));
  EXPECT_EQ(run.exit_status, h.status ? 1 : 255) << run.err;
  EXPECT_EQ(run.out, h.status ? "" : "open error");
  if (h.status) {
    EXPECT_EQ(store.RunStatus(), std::string(h.status) + "\r\n");
  }
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), h.err.empty() ? 0 : 1) << run.err;
  for (const std::string& text : h.err) {
    EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
  }
  if (h.first_not_done > 0) ExpectStepsDone(store, h.first_not_done, "v1", h.unreadable);
  if (h.verify) h.verify(store);
  EXPECT_EQ(Snapshot(outside.path()), outside_before);
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileStoreTest, ::testing::ValuesIn(kHostile),
                         [](const auto& test) { return std::string(test.param.name); });

// loomreg-check reports each planted link or wrong type as a problem, reads none of them, and
// its repair writes through none.
TEST(HostileStoreCheckTest, LinksAndWrongTypesAreProblemsAndNeverFollowed) {
  TempDir outside;
  WriteFile(outside / "victim", "S1\r\nS1\r\n");
  fs::create_directory(outside / "victimdir");
  Store store;
  ASSERT_EQ(store.Save({}).exit_status, 1);
  fs::create_symlink(outside / "victim", store.data() / "StyleList/KindList.new");
  fs::rename(store.data() / "StyleList/KindList.new", store.data() / "StyleList/KindList");
  LinkOut(store, outside.path(), "Machine/M1");
  LinkOut(store, outside.path(), "SetValueFile/FileData");
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
