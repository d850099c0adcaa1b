// Runs the built loomreg against data stores in temporary directories, started the way the web
// application starts it: the file-name word as argv[0].
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "catalogue_checks.h"
#include "store_fixture.h"

namespace loomreg::testing {
namespace {

namespace fs = std::filesystem;

void ExpectStamp(const std::string& content, const std::string& machine) {
  static const std::regex kStamp(
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\r\n\r\n");
  ASSERT_TRUE(content.starts_with(machine + ",")) << content;
  EXPECT_TRUE(std::regex_match(content.substr(machine.size() + 1), kStamp)) << content;
}

TEST(LoomregProcessTest, FirstSaveIntoAnEmptyStore) {
  Store store;
  store.Upload("settings v1");
  ProcessResult run = store.Save({});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(store.RunStatus(), "0\r\n");
  EXPECT_EQ(store.Data("SetValueFileList/SetValueList"), "F1,S1,B1,C1,M1\r\n");
  EXPECT_EQ(store.Data("MachineF/M1"), "F1\r\n");
  EXPECT_EQ(store.Data("MachineList/MachineList"), "M1\r\n");
  EXPECT_EQ(store.Data("SetValueFile/FileList"), "F1\r\n");
  EXPECT_EQ(store.Data("SetValueFile/S1/F1"), "settings v1");
  EXPECT_FALSE(Exists(store.data() / "SetValueFile/FileData"));
  EXPECT_EQ(store.Data("StyleList/KindList"), "S1\r\n");
  EXPECT_EQ(store.Data("StyleFile/S1"), "F1\r\n");
  ExpectStamp(store.Data("Machine/M1"), "M1");
  // The top beam is stored nowhere.
  for (const auto& [name, content] : store.Snapshot()) {
    EXPECT_EQ(content.find("T1"), std::string::npos) << name;
  }
}

TEST(LoomregProcessTest, ResaveKeepsTheStoredFileAndListsEachNameOnce) {
  Store store;
  store.Upload("v1");
  ASSERT_EQ(store.Save({}).exit_status, 1);
  store.Upload("v2");
  ProcessResult run = store.Save({.beam = "B2"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(store.RunStatus(), "0\r\n");
  EXPECT_EQ(store.Data("SetValueFileList/SetValueList"), "F1,S1,B1,C1,M1\r\nF1,S1,B2,C1,M1\r\n");
  EXPECT_EQ(store.Data("MachineF/M1"), "F1\r\nF1\r\n");
  EXPECT_EQ(store.Data("StyleFile/S1"), "F1\r\nF1\r\n");
  EXPECT_EQ(store.Data("MachineList/MachineList"), "M1\r\n");
  EXPECT_EQ(store.Data("StyleList/KindList"), "S1\r\n");
  EXPECT_EQ(store.Data("SetValueFile/FileList"), "F1\r\n");
  EXPECT_EQ(store.Data("SetValueFile/S1/F1"), "v1");
  EXPECT_EQ(store.Data("SetValueFile/FileData"), "v2");
  // The upload that could not be filed is the one thing worth a word on standard error.
  EXPECT_TRUE(run.err.starts_with("loomreg: upload not stored")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

TEST(LoomregProcessTest, OneNameUnderTwoStylesIsStoredTwiceAndListedOnce) {
  Store store;
  store.Upload("a");
  ASSERT_EQ(store.Save({.style = "S1"}).exit_status, 1);
  store.Upload("b");
  ASSERT_EQ(store.Save({.style = "S2", .machine = "M2"}).exit_status, 1);
  EXPECT_EQ(store.RunStatus(), "0\r\n");
  EXPECT_EQ(store.Data("SetValueFile/S1/F1"), "a");
  EXPECT_EQ(store.Data("SetValueFile/S2/F1"), "b");
  EXPECT_EQ(store.Data("SetValueFile/FileList"), "F1\r\n");
  EXPECT_EQ(store.Data("StyleList/KindList"), "S1\r\nS2\r\n");
  EXPECT_EQ(store.Data("MachineList/MachineList"), "M1\r\nM2\r\n");
}

TEST(LoomregProcessTest, MissingUploadStillUpdatesEveryCatalogue) {
  Store store;
  ProcessResult run = store.Save({});
  EXPECT_EQ(store.RunStatus(), "0\r\n");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(run.err.starts_with("loomreg: upload not stored")) << run.err;
  EXPECT_EQ(store.Data("StyleFile/S1"), "F1\r\n");
  EXPECT_TRUE(fs::is_directory(store.data() / "SetValueFile/S1"));
  EXPECT_FALSE(Exists(store.data() / "SetValueFile/S1/F1"));
}

TEST(LoomregProcessTest, ConventionalCommandLineWithProgramNameFirst) {
  Store store;
  store.Upload("x");
  std::vector<std::string> argv = SaveWords({});
  argv.insert(argv.begin(), "loomreg");
  ProcessResult run = store.Run(argv);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(store.RunStatus(), "0\r\n");
  EXPECT_EQ(store.Data("SetValueFile/S1/F1"), "x");
}

TEST(LoomregProcessTest, ConfiguredSitePathsLocateTheStore) {
  Store store;
  // Run one level deeper: /kvr/cgi/ climbs two levels to reach the store's parent.
  fs::create_directory(store.app() / "cgi");
  WriteFile(store.app() / "cgi/KVR_PATH.inf", "KVR=/kvr/cgi/\r\nKVRDATA=/kvrdata/\r\n");
  store.Upload("x");
  ProcessResult run = RunProcess(LOOMREG_BINARY, SaveWords({}), store.app() / "cgi");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFile(store.app() / "cgi/TimeExec.dat"), "0\r\n");
  EXPECT_EQ(store.Data("SetValueFile/S1/F1"), "x");
}

// A store that is not where the save looks, from a wrong KVR_PATH.inf or a wrong directory:
// the one line says where it looked, why there, and how to create the store.
TEST(LoomregProcessTest, AMissingStoreSaysWhereItWasLookedFor) {
  Store store;
  const std::string app = fs::canonical(store.app()).string();
  const std::string root = fs::canonical(store.data()).parent_path().string();
  WriteFile(store.app() / "KVR_PATH.inf", "KVR=/kvr/\r\nKVRDATA=/elsewhere/\r\n");
  ProcessResult run = store.Save({});
  EXPECT_EQ(store.RunStatus(), "-1\r\n");
  EXPECT_EQ(run.err,
            "loomreg: refused: cannot take the store lock: cannot open "
            "../elsewhere/SetValueFileList/.lock: No such file or directory; the data root "
            "is " +
                root + "/elsewhere/, from " + app +
                "/KVR_PATH.inf: run in the application directory, or create the store with "
                "loomreg-mkstore " +
                app + "\n");

  fs::create_directory(store.app() / "cgi");
  run = RunProcess(LOOMREG_BINARY, SaveWords({}), store.app() / "cgi");
  EXPECT_EQ(run.err,
            "loomreg: refused: cannot take the store lock: cannot open "
            "../kvrdata/SetValueFileList/.lock: No such file or directory; the data root "
            "is " +
                app + "/kvrdata/, the default, as " + app +
                "/cgi has no KVR_PATH.inf: run in the application directory, or create the store "
                "with loomreg-mkstore " +
                app + "/cgi\n");
}

TEST(LoomregProcessTest, InformationalOptionsTouchNothing) {
  Store store;
  auto before = store.Snapshot();
  ProcessResult help = store.Run({"loomreg", "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: loomreg")) << help.out;
  ProcessResult version = store.Run({"loomreg", "--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("loomreg [0-9]+\\.[0-9]+\\.[0-9]+\n")));
  ProcessResult paths = store.Run({"loomreg", "--paths"});
  EXPECT_EQ(paths.exit_status, 0);
  EXPECT_NE(paths.out.find("MachineListFile=../kvrdata/MachineList/MachineList\n"),
            std::string::npos);
  EXPECT_EQ(store.Snapshot(), before);
}

// A data root that cannot fit in the path table: --paths shows no paths, only why.
TEST(LoomregProcessTest, PathsOfADataRootOver255BytesAreRefused) {
  Store store;
  std::string kvr = "/";
  for (int i = 0; i < 120; ++i) kvr += "k/";
  // The data root, relative to KVR, climbs 120 levels: 362 bytes.
  WriteFile(store.app() / "KVR_PATH.inf", "KVR=" + kvr + "\nKVRDATA=/d/\n");
  ProcessResult paths = store.Run({"loomreg", "--paths"});
  EXPECT_EQ(paths.exit_status, 1);
  EXPECT_EQ(paths.out, "");
  EXPECT_EQ(paths.err,
            "loomreg: the data store paths of ./KVR_PATH.inf are longer than 255 bytes\n");
}

// How a step is made to fail: a directory the step writes into is missing or is a file, or the
// file it writes is a directory.
enum class Break { kRemoved, kFile, kDirectory };
struct StopCase {
  const char* name;
  const char* break_path;  // removed, and replaced as `replaced` says
  Break replaced;
  int stopping_step;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopAtStepTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopAtStepTest, EarlierStepsStayDoneAndNothingLaterHappens) {
  const StopCase& c = GetParam();
  Store store;
  store.Upload("v1");
  fs::remove_all(store.data() / c.break_path);
  if (c.replaced == Break::kFile) WriteFile(store.data() / c.break_path, "not a directory");
  if (c.replaced == Break::kDirectory) fs::create_directory(store.data() / c.break_path);
  ProcessResult run = store.Save({});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(store.RunStatus(), "-1\r\n");
  EXPECT_TRUE(run.err.starts_with("loomreg: save stopped at the")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

  // What lies in or below the broken path cannot be read back.
  std::string broken = c.break_path;
  if (c.replaced == Break::kRemoved && broken != "SetValueFile/FileList") broken += "/";
  ExpectStepsDone(store, c.stopping_step, "v1", {broken});
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, StopAtStepTest,
    ::testing::Values(StopCase{"History", "SetValueFileList/SetValueList", Break::kDirectory, 1},
                      StopCase{"MachineFiles", "MachineF", Break::kRemoved, 2},
                      StopCase{"MachineList", "MachineList", Break::kFile, 3},
                      StopCase{"FileList", "SetValueFile/FileList", Break::kRemoved, 4},
                      StopCase{"KindList", "StyleList", Break::kRemoved, 6},
                      StopCase{"StyleFiles", "StyleFile", Break::kFile, 7},
                      StopCase{"Stamp", "Machine", Break::kRemoved, 8}),
    [](const auto& test) { return std::string(test.param.name); });

// A full disk, as the file system reports it to the write, through the fault library: the
// step fails, says why, and leaves the catalogue as it was.
TEST(LoomregProcessTest, DiskFullIsAFailure) {
  for (const char* catalogue : {"SetValueFileList/SetValueList", "StyleFile/S1", "Machine/M1"}) {
    Store store;
    store.Upload("v1");
    WriteFile(store.data() / catalogue, "old\r\n");
    ProcessResult run =
        store.Save({}, {"LD_PRELOAD=" LOOMREG_FAULT_SHIM,
                        "LOOMREG_FAULTS=write:" + std::string(catalogue) + ":0:ENOSPC"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(store.RunStatus(), "-1\r\n") << catalogue;
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    EXPECT_EQ(store.Data(catalogue), "old\r\n") << catalogue;
  }
}

TEST(LoomregProcessTest, UnwritableRunStatusStopsBeforeAnything) {
  Store store;
  store.Upload("v1");
  fs::create_directory(store.app() / "TimeExec.dat");
  auto before = store.Snapshot();
  ProcessResult run = store.Save({});
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.out, "open error");
  EXPECT_EQ(run.err, "loomreg: cannot open TimeExec.dat: Is a directory\n");
  EXPECT_EQ(store.Snapshot(), before);

  // A link in its place is never followed, not even to a device.
  fs::remove(store.app() / "TimeExec.dat");
  fs::create_symlink("/dev/full", store.app() / "TimeExec.dat");
  before = store.Snapshot();
  run = store.Save({});
  EXPECT_EQ(run.exit_status, 255);
  EXPECT_EQ(run.out, "open error");
  EXPECT_EQ(run.err, "loomreg: cannot open TimeExec.dat: a symbolic link, never followed\n");
  EXPECT_EQ(store.Snapshot(), before);
}

std::vector<std::vector<std::string>> RefusedCommandLines() {
  auto with = [](int position, const std::string& word) {
    std::vector<std::string> argv = SaveWords({});
    argv[position] = word;
    return argv;
  };
  std::vector<std::string> five = SaveWords({});
  five.pop_back();
  return {
      five,
      with(2, "beam_ar"),
      with(0, "filename_arg="),
      with(0, "filename_arg=.."),
      with(0, "filename_arg=../../escape"),
      with(0, "filename_arg=a b"),
      with(1, "style_arg="),
      with(1, "style_arg=FileData"),
      with(1, "style_arg=FileList"),
      with(1, "style_arg=a/b"),
      with(1, "style_arg=\x1b[31m"),
      with(4, "machine_arg="),
      with(4, "machine_arg=."),
      with(4, "machine_arg=m\x7f"),
      with(2, "beam_arg=a\nb"),
      with(3, "koment_arg=a\rb"),
      with(5, "top_beam_arg=" + std::string(256, 't')),
      with(0, "filename_arg=" + std::string(230, 'f')),
  };
}

TEST(LoomregProcessTest, RefusedRequestsLeaveTheStoreUntouched) {
  for (const auto& argv : RefusedCommandLines()) {
    Store store;
    store.Upload("v1");
    WriteFile(store.data() / "SetValueFile/FileList", "Old\r\n");
    auto before = store.Snapshot();
    ProcessResult run = store.Run(argv);
    SCOPED_TRACE(argv[0] + " " + argv[1] + " ...");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("loomreg: refused: ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.err.ends_with("\n"));
    EXPECT_EQ(store.RunStatus(), "-1\r\n");
    auto after = store.Snapshot();
    after.erase("kvr/TimeExec.dat");
    EXPECT_EQ(after, before);
  }
}

TEST(LoomregProcessTest, OverlappingSavesLoseNothingAndListEachNameOnce) {
  Store store;
  constexpr int kSaves = 24;
  std::vector<pid_t> children;
  std::multiset<std::string> history, machine_files;
  for (int i = 0; i < kSaves; ++i) {
    SaveArgs args{.file = "F" + std::to_string(i % 5),
                  .style = "S" + std::to_string(i % 3),
                  .beam = "B" + std::to_string(i),
                  .machine = "M" + std::to_string(i % 4)};
    history.insert(args.file + "," + args.style + "," + args.beam + ",C1," + args.machine);
    machine_files.insert(args.machine + ":" + args.file);
    std::vector<std::string> argv = SaveWords(args);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ProcessResult r = store.Run(argv);
      ::_exit(r.exit_status == 1 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto lines = CrLfLines(store.Data("SetValueFileList/SetValueList"));
  EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()), history);
  std::multiset<std::string> stored_machine_files;
  for (int m = 0; m < 4; ++m) {
    std::string machine = "M" + std::to_string(m);
    for (const auto& file : CrLfLines(store.Data("MachineF/" + machine))) {
      stored_machine_files.insert(machine + ":" + file);
    }
  }
  EXPECT_EQ(stored_machine_files, machine_files);
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(CrLfLines(store.Data("SetValueFile/FileList"))),
            (std::vector<std::string>{"F0", "F1", "F2", "F3", "F4"}));
  EXPECT_EQ(sorted(CrLfLines(store.Data("StyleList/KindList"))),
            (std::vector<std::string>{"S0", "S1", "S2"}));
  EXPECT_EQ(sorted(CrLfLines(store.Data("MachineList/MachineList"))),
            (std::vector<std::string>{"M0", "M1", "M2", "M3"}));
}

// No save goes on without the lock: one that cannot take it refuses before touching anything.
TEST(LoomregProcessTest, ALockThatCannotBeTakenRefusesTheSave) {
  for (bool missing_directory : {true, false}) {
    Store store;
    store.Upload("v1");
    fs::path lock = store.data() / "SetValueFileList/.lock";
    fs::remove(lock);
    if (missing_directory) {
      fs::remove_all(store.data() / "SetValueFileList");
    } else {
      fs::create_symlink("/dev/null", lock);
    }
    auto before = store.Snapshot();
    ProcessResult run = store.Save({});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(store.RunStatus(), "-1\r\n");
    // A store that is not there also says where it was looked for.
    EXPECT_EQ(run.err, std::string("loomreg: refused: cannot take the store lock: cannot open "
                                   "../kvrdata/SetValueFileList/.lock: ") +
                           (missing_directory
                                ? "No such file or directory; the data root is " +
                                      fs::canonical(store.data()).string() + "/, the default, as " +
                                      fs::canonical(store.app()).string() +
                                      " has no KVR_PATH.inf: run in the "
                                      "application directory, or create the store "
                                      "with loomreg-mkstore " +
                                      fs::canonical(store.app()).string()
                                : std::string("Too many levels of symbolic links")) +
                           "\n");
    auto after = store.Snapshot();
    after.erase("kvr/TimeExec.dat");
    before.erase("kvr/TimeExec.dat");
    EXPECT_EQ(after, before);
  }
}

TEST(LoomregProcessTest, ALockHeldTooLongRefusesTheSave) {
  Store store;
  store.Upload("v1");
  int fd = store.HoldLock();
  ASSERT_GE(fd, 0);
  auto before = store.Snapshot();
  auto start = std::chrono::steady_clock::now();
  ProcessResult run = store.Save({});
  auto waited = std::chrono::steady_clock::now() - start;
  ::close(fd);
  EXPECT_GE(waited, std::chrono::seconds(8));
  EXPECT_LE(waited, std::chrono::seconds(14));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(run.err.starts_with("loomreg: refused: the data store stayed locked")) << run.err;
  EXPECT_EQ(store.RunStatus(), "-1\r\n");
  auto after = store.Snapshot();
  after.erase("kvr/TimeExec.dat");
  before.erase("kvr/TimeExec.dat");
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace loomreg::testing
