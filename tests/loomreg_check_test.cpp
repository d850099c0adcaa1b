// Runs the built loomreg-check against data stores in temporary directories: a store damaged in
// every way it reports, the repair of it, its exit statuses, and a repair among running saves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "store_fixture.h"

namespace loomreg::testing {
namespace {

namespace fs = std::filesystem;

ProcessResult Check(const Store& store, std::vector<std::string> options = {}) {
  options.insert(options.begin(), "loomreg-check");
  return RunProcess(LOOMREG_CHECK_BINARY, options, store.app(), {"TZ=UTC"});
}

// The findings of a text report, kind -> how many, and the lines naming each kind.
struct Findings {
  std::map<std::string, int> count;
  std::map<std::string, std::string> line;
  std::string summary;
};

Findings Parse(const std::string& out) {
  static const std::regex kFinding("^.*: (problem|note): ([a-z-]+): .*$");
  Findings findings;
  std::istringstream lines(out);
  std::string text;
  while (std::getline(lines, text)) {
    std::smatch match;
    if (std::regex_match(text, match, kFinding)) {
      ++findings.count[match[2]];
      findings.line[match[2]] = text;
    } else {
      findings.summary = text;  // the summary is the last line
    }
  }
  return findings;
}

void AppendTo(const Store& store, const std::string& relative, const std::string& bytes) {
  WriteFile(store.data() / relative,
            store.Data(relative) == "<missing>" ? bytes : store.Data(relative) + bytes);
}

// Everything below the root but the files a repair may rewrite: what a repair must never touch.
std::map<std::string, std::string> Untouchable(const Store& store) {
  auto files = store.Snapshot();
  for (const char* list : {"kvrdata/SetValueFile/FileList", "kvrdata/StyleList/KindList",
                           "kvrdata/MachineList/MachineList"}) {
    files.erase(list);
  }
  return files;
}

const std::vector<std::string> kEveryKind = {
    "repeated-name",    "unterminated-line", "long-word",        "listed-not-stored",
    "not-in-file-list", "not-in-style-list", "style-not-listed", "machine-not-listed",
    "malformed-stamp",  "lf-line-ends",      "several-words",    "waiting-upload",
    "refused-name",     "leftover-temp"};

const std::set<std::string> kRepairable = {"repeated-name",      "unterminated-line",
                                           "not-in-file-list",   "style-not-listed",
                                           "machine-not-listed", "leftover-temp"};

// Three saves by loomreg itself, then one instance of every kind of damage the checker reports.
class DamagedStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const SaveArgs& args : {SaveArgs{.file = "F1", .style = "S1", .machine = "M1"},
                                 SaveArgs{.file = "F2", .style = "S1", .machine = "M1"},
                                 SaveArgs{.file = "F3", .style = "S2", .machine = "M2"}}) {
      store_.Upload("settings of " + args.file);
      ASSERT_EQ(store_.Save(args).exit_status, 1);
      ASSERT_EQ(store_.RunStatus(), "0\r\n");
    }
    ASSERT_EQ(Check(store_).exit_status, 0) << Check(store_).out;

    AppendTo(store_, "SetValueFile/FileList", "F1\r\nF7\r\n");  // repeated; listed, not stored
    AppendTo(store_, "MachineF/M2", "F9");                      // unterminated last line
    AppendTo(store_, "StyleFile/S2", std::string(300, 'w') + "\r\n");   // a word too long
    WriteFile(store_.data() / "SetValueFile/S1/F4", "settings of F4");  // not in FileList
    AppendTo(store_, "StyleFile/S1", "F4\n");                         // ... and an LF-only line end
    WriteFile(store_.data() / "SetValueFile/S2/F1", "F1 again");      // not in its style's list
    fs::create_directory(store_.data() / "SetValueFile/S3");          // a style KindList lacks
    WriteFile(store_.data() / "MachineF/M3", "F1\r\n");               // a machine MachineList lacks
    WriteFile(store_.data() / "Machine/M2", "M2,yesterday\r\n\r\n");  // a malformed stamp
    AppendTo(store_, "MachineF/M1", "F1 F2\r\n");                     // several words on a line
    store_.Upload("waiting");                                         // a waiting upload
    AppendTo(store_, "MachineList/MachineList", "M\x01x\r\n");        // a name a save refuses
    WriteFile(store_.data() / "StyleList/.loomreg-check Zz9Yy8", "S1\r\n");  // a leftover
  }

  Store store_;
};

TEST_F(DamagedStoreTest, ReportsEachFindingExactlyOnce) {
  ProcessResult run = Check(store_);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "");
  Findings findings = Parse(run.out);
  for (const std::string& kind : kEveryKind) {
    EXPECT_EQ(findings.count[kind], 1) << kind << "\n" << run.out;
  }
  EXPECT_EQ(findings.count.size(), kEveryKind.size()) << run.out;
  EXPECT_EQ(findings.summary, "9 problems, 5 notes");
  // Each names its file, and its line where it has one.
  EXPECT_EQ(findings.line["repeated-name"],
            "../kvrdata/SetValueFile/FileList:4: problem: repeated-name: \"F1\" is listed again "
            "(first on line 1)");
  EXPECT_EQ(findings.line["not-in-file-list"],
            "../kvrdata/SetValueFile/S1/F4: problem: not-in-file-list: \"F4\" is stored but not "
            "in FileList");
  EXPECT_EQ(findings.line["unterminated-line"],
            "../kvrdata/MachineF/M2:2: problem: unterminated-line: the last line has no line end");
  EXPECT_EQ(findings.line["refused-name"],
            "../kvrdata/MachineList/MachineList:3: note: refused-name: \"M\\x01x\" as a machine "
            "contains a space or control character: a save would refuse it today");
  // Reading changes nothing.
  auto before = store_.Snapshot();
  Check(store_, {"--json"});
  EXPECT_EQ(store_.Snapshot(), before);
}

TEST_F(DamagedStoreTest, JsonHoldsTheSameFindings) {
  ProcessResult run = Check(store_, {"--json"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(run.out.starts_with("{\"program\":\"loomreg-check\",\"version\":\"")) << run.out;
  EXPECT_NE(run.out.find("\"status\":\"problems\",\"exit_status\":1,\"problems\":9,\"notes\":5,"),
            std::string::npos)
      << run.out;
  for (const std::string& kind : kEveryKind) {
    std::string key = "\"kind\":\"" + kind + "\"";
    std::size_t first = run.out.find(key);
    EXPECT_NE(first, std::string::npos) << kind;
    EXPECT_EQ(run.out.find(key, first + 1), std::string::npos) << kind;
  }
  EXPECT_NE(run.out.find("\"name\":\"M\\u0001x\""), std::string::npos) << run.out;
  EXPECT_TRUE(run.out.ends_with("]}\n"));
}

TEST_F(DamagedStoreTest, RepairFixesWhatLosesNothingAndOnlyThat) {
  const auto untouchable = Untouchable(store_);
  const std::string history = store_.Data("SetValueFileList/SetValueList");

  ProcessResult run = Check(store_, {"--repair"});
  EXPECT_EQ(run.exit_status, 1);  // problems that no repair may fix remain
  EXPECT_EQ(run.err, "");
  for (const char* change :
       {"../kvrdata/SetValueFile/FileList:4: repaired: removed repeated \"F1\" (first on line 1)\n",
        "../kvrdata/SetValueFile/FileList: repaired: added \"F4\"\n",
        "../kvrdata/StyleList/KindList: repaired: added \"S3\"\n",
        "../kvrdata/MachineList/MachineList: repaired: added \"M3\"\n",
        "../kvrdata/MachineF/M2:2: repaired: ended the last line with a line end\n",
        "../kvrdata/StyleList/.loomreg-check Zz9Yy8: repaired: removed a temporary file left by "
        "an interrupted repair\n",
        "6 repairs made\n"}) {
    EXPECT_NE(run.out.find(change), std::string::npos) << change << run.out;
  }
  Findings left = Parse(run.out);
  std::map<std::string, int> expected_left;
  for (const std::string& kind : kEveryKind) {
    if (!kRepairable.contains(kind)) expected_left[kind] = 1;
  }
  EXPECT_EQ(left.count, expected_left) << run.out;
  EXPECT_EQ(left.summary, "4 problems, 4 notes");

  EXPECT_EQ(store_.Data("SetValueFile/FileList"), "F1\r\nF2\r\nF3\r\nF7\r\nF4\r\n");
  EXPECT_EQ(store_.Data("StyleList/KindList"), "S1\r\nS2\r\nS3\r\n");
  EXPECT_EQ(store_.Data("MachineList/MachineList"), "M1\r\nM2\r\nM\x01x\r\nM3\r\n");
  // Nothing else changed but the line end and the leftover: every stored file, the upload and
  // every history line are as they were.
  auto expected = untouchable;
  expected["kvrdata/MachineF/M2"] += "\r\n";
  expected.erase("kvrdata/StyleList/.loomreg-check Zz9Yy8");
  EXPECT_EQ(Untouchable(store_), expected);
  EXPECT_EQ(store_.Data("SetValueFileList/SetValueList"), history);

  // A second repair finds nothing to do.
  auto repaired = store_.Snapshot();
  ProcessResult again = Check(store_, {"--repair"});
  EXPECT_EQ(again.exit_status, 1);
  EXPECT_TRUE(again.out.starts_with("nothing to repair\n")) << again.out;
  EXPECT_EQ(Parse(again.out).count, left.count);
  EXPECT_EQ(store_.Snapshot(), repaired);
}

TEST_F(DamagedStoreTest, RepairKeepsTheListsUsableBySaves) {
  ASSERT_EQ(Check(store_, {"--repair"}).exit_status, 1);
  store_.Upload("settings of F5");
  ASSERT_EQ(store_.Save({.file = "F5", .style = "S3", .machine = "M3"}).exit_status, 1);
  EXPECT_EQ(store_.RunStatus(), "0\r\n");
  EXPECT_EQ(store_.Data("SetValueFile/FileList"), "F1\r\nF2\r\nF3\r\nF7\r\nF4\r\nF5\r\n");
  EXPECT_EQ(store_.Data("StyleList/KindList"), "S1\r\nS2\r\nS3\r\n");
  EXPECT_EQ(store_.Data("MachineList/MachineList"), "M1\r\nM2\r\nM\x01x\r\nM3\r\n");
}

TEST(LoomregCheckTest, AStoreAsSavesLeaveItIsClean) {
  Store store;
  ProcessResult empty = Check(store);
  EXPECT_EQ(empty.exit_status, 0);
  EXPECT_EQ(empty.out, "0 problems, 0 notes\n");
  for (int i = 0; i < 4; ++i) {
    store.Upload("v");
    ASSERT_EQ(store
                  .Save({.file = "F" + std::to_string(i % 3),
                         .style = "S" + std::to_string(i % 2),
                         .machine = "M" + std::to_string(i % 2)})
                  .exit_status,
              1);
  }
  ProcessResult run = Check(store);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "0 problems, 0 notes\n");
  EXPECT_EQ(run.err, "");
  // A note alone is no problem.
  store.Upload("pending");
  run = Check(store);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.out.ends_with("0 problems, 1 note\n")) << run.out;
  ProcessResult repair = Check(store, {"--repair", "--json"});
  EXPECT_EQ(repair.exit_status, 0);
  EXPECT_NE(repair.out.find("\"status\":\"clean\""), std::string::npos) << repair.out;
  EXPECT_NE(repair.out.find("\"repaired\":true,\"repairs\":[\n]"), std::string::npos) << repair.out;
}

TEST(LoomregCheckTest, AStoreThatCannotBeReadExitsTwo) {
  Store store;
  fs::remove_all(store.data() / "Machine");
  ProcessResult run = Check(store);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_TRUE(
      run.err.starts_with("loomreg-check: cannot find directory ../kvrdata/Machine/: No "
                          "such file or directory; the data root is " +
                          fs::canonical(store.data()).string() + "/, the default"))
      << run.err;
  EXPECT_TRUE(run.err.ends_with(" loomreg-mkstore " + fs::canonical(store.app()).string() + "\n"))
      << run.err;
  EXPECT_EQ(run.out, "0 problems, 0 notes; the store could not be read whole\n");
  run = Check(store, {"--json"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.out.find("\"status\":\"unreadable\",\"exit_status\":2"), std::string::npos);
  EXPECT_NE(run.out.find("\"errors\":[\"cannot find directory ../kvrdata/Machine/"),
            std::string::npos);

  // Nothing is repaired in a store that could not be read whole.
  fs::create_directory(store.data() / "Machine");
  WriteFile(store.data() / "MachineList/MachineList", "M1\r\nM1\r\n");
  fs::remove(store.data() / "SetValueFile/FileList");
  fs::create_directory(store.data() / "SetValueFile/FileList");  // a list that is a directory
  auto before = store.Snapshot();
  run = Check(store, {"--repair"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "loomreg-check: cannot read ../kvrdata/SetValueFile/FileList: a directory, not a "
            "regular file\n");
  EXPECT_TRUE(run.out.starts_with("nothing repaired: the store could not be read whole\n"))
      << run.out;
  EXPECT_EQ(store.Snapshot(), before);

  // A data root too long for the path table.
  WriteFile(store.app() / "KVR_PATH.inf", "KVR=/kvr\nKVRDATA=/" + std::string(240, 'd') + "\n");
  run = Check(store);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "loomreg-check: the data store paths of ./KVR_PATH.inf are longer than 255 bytes\n");
}

TEST(LoomregCheckTest, CommandLine) {
  Store store;
  auto before = store.Snapshot();
  ProcessResult help = Check(store, {"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: loomreg-check [--repair] [--json]\n")) << help.out;
  EXPECT_EQ(Check(store, {"--repair", "--help"}).out, help.out);
  ProcessResult version = Check(store, {"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("loomreg-check [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  for (const std::string wrong : {"--bogus", "-r", "repair", ""}) {
    ProcessResult run = Check(store, {"--json", wrong});
    EXPECT_EQ(run.exit_status, 2) << wrong;
    EXPECT_EQ(run.out, "") << wrong;
    EXPECT_EQ(run.err, "loomreg-check: unknown argument \"" + wrong + "\"\n" + help.out) << wrong;
  }
  EXPECT_EQ(store.Snapshot(), before);
}

TEST(LoomregCheckTest, AReportThatCannotBeWrittenSaysWhy) {
  Store store;
  for (const char* option : {"--json", "--version", "--help"}) {
    ProcessResult run = RunProcess(
        "/bin/sh", {"sh", "-c", "exec \"$0\" \"$1\" >/dev/full", LOOMREG_CHECK_BINARY, option},
        store.app(), {"LC_ALL=C"});
    EXPECT_EQ(run.exit_status, 2) << option;
    EXPECT_EQ(run.err, "loomreg-check: cannot write the report: No space left on device\n")
        << option;
  }
}

TEST(LoomregCheckTest, RepairWithoutTheStoreLockSaysWhy) {
  Store store;
  fs::remove_all(store.data() / "SetValueFileList");
  auto before = store.Snapshot();
  ProcessResult run = Check(store, {"--repair"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_TRUE(
      run.err.starts_with("loomreg-check: cannot open ../kvrdata/SetValueFileList/.lock: No such "
                          "file or directory; the data root is " +
                          fs::canonical(store.data()).string() + "/"))
      << run.err;
  EXPECT_EQ(store.Snapshot(), before);
}

TEST(LoomregCheckTest, RepairWaitsForTheStoreLockAndGivesUp) {
  Store store;
  WriteFile(store.data() / "SetValueFile/FileList", "F1\r\nF1\r\n");
  int fd = store.HoldLock();
  ASSERT_GE(fd, 0);
  auto before = store.Snapshot();
  ProcessResult run = Check(store, {"--repair"});
  ::close(fd);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, "loomreg-check: the data store stayed locked by a save for 10 seconds\n");
  EXPECT_EQ(store.Snapshot(), before);
}

// --hold keeps saves and repairs out while its command runs, and passes on its exit status.
TEST(LoomregCheckTest, HoldRunsACommandUnderTheStoreLock) {
  Store store;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(store.app().c_str()) != 0) ::_exit(99);
    ::execl(LOOMREG_CHECK_BINARY, "loomreg-check", "--hold", "--", "/bin/sh", "-c",
            ": >held; while [ ! -e release ]; do sleep 0.02; done; exit 7", nullptr);
    ::_exit(98);
  }
  for (int i = 0; i < 1000 && !Exists(store.app() / "held"); ++i) ::usleep(10000);
  EXPECT_TRUE(Exists(store.app() / "held"));
  int fd = store.HoldLock(false);
  EXPECT_EQ(fd, -1) << "the lock was free while the command ran";
  if (fd >= 0) ::close(fd);
  WriteFile(store.app() / "release", "");
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
  fd = store.HoldLock(false);
  EXPECT_GE(fd, 0) << "the lock was kept after the command ended";
  if (fd >= 0) ::close(fd);

  ProcessResult run = Check(store, {"--hold", "no-such-command-here"});
  EXPECT_EQ(run.exit_status, 127);
  EXPECT_EQ(run.err,
            "loomreg-check: cannot run \"no-such-command-here\": No such file or directory\n");
  run = Check(store, {"--hold", "--"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_TRUE(run.err.starts_with("loomreg-check: --hold needs a command\n")) << run.err;
}

// --hold keeps the store locked for exactly as long as its command runs: a SIGTERM sent to the
// holder is passed on to the command, and a SIGKILL of the holder leaves the command holding
// the lock. A save started meanwhile is filed only after the command has ended.
TEST(LoomregCheckTest, HoldKeepsSavesOutUntilItsCommandHasEndedWhateverEndsTheHolder) {
  for (int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGKILL");
    Store store;
    pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
      if (::chdir(store.app().c_str()) != 0) ::_exit(99);
      // On SIGTERM the command takes a second to end, by that signal; without one it ends
      // after 1.5 s.
      ::execl(LOOMREG_CHECK_BINARY, "loomreg-check", "--hold", "--", "/bin/sh", "-c",
              "trap 'sleep 1; : >ended; trap - TERM; kill -TERM $$' TERM; : >started; i=0; "
              "while [ $i -lt 30 ]; do sleep 0.05; i=$((i+1)); done; : >ended",
              nullptr);
      ::_exit(98);
    }
    for (int i = 0; i < 1000 && !Exists(store.app() / "started"); ++i) ::usleep(10000);
    ASSERT_TRUE(Exists(store.app() / "started"));
    ASSERT_EQ(::kill(holder, signal), 0);
    int status = 0;
    if (signal == SIGKILL) {
      ASSERT_EQ(::waitpid(holder, &status, 0), holder);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    }
    store.Upload("v1");
    ProcessResult save = store.Save({});
    EXPECT_TRUE(Exists(store.app() / "ended")) << "the save was filed while the command ran";
    EXPECT_EQ(save.exit_status, 1);
    EXPECT_EQ(save.err, "");
    EXPECT_EQ(store.RunStatus(), "0\r\n");
    EXPECT_EQ(store.Data("SetValueFile/S1/F1"), "v1");
    if (signal == SIGTERM) {
      ASSERT_EQ(::waitpid(holder, &status, 0), holder);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    }
  }
}

// A check reads a store whose lock it cannot take, and says so; a repair never does.
TEST(LoomregCheckTest, AStoreWithoutAUsableLockIsCheckedButNotRepaired) {
  Store store;
  WriteFile(store.data() / "SetValueFile/FileList", "F1\r\nF1\r\n");
  fs::remove(store.data() / "SetValueFileList/.lock");
  fs::create_symlink("/dev/null", store.data() / "SetValueFileList/.lock");
  auto before = store.Snapshot();
  ProcessResult run = Check(store);
  EXPECT_EQ(run.exit_status, 1);
  Findings findings = Parse(run.out);
  EXPECT_EQ(findings.count["unlocked-check"], 1) << run.out;
  EXPECT_EQ(findings.count["repeated-name"], 1) << run.out;
  run = Check(store, {"--repair"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "loomreg-check: cannot open ../kvrdata/SetValueFileList/.lock: Too many levels of "
            "symbolic links\n");
  EXPECT_EQ(store.Snapshot(), before);
}

// Damage of the kinds a repair fixes, written under the store lock as an older tool might have.
// No list a save appends to is left unterminated: the save's name would join its last word.
void Damage(const Store& store) {
  int fd = store.HoldLock();
  if (fd < 0) ::_exit(3);
  AppendTo(store, "SetValueFile/FileList", "P0 P1\r\nP0\r\n");
  AppendTo(store, "StyleList/KindList", "K0\r\n");
  AppendTo(store, "MachineList/MachineList", "N0\r\n");
  AppendTo(store, "StyleFile/Z", "P0\r\nP0");
  ::close(fd);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

// Whether `text` holds every name of `names` and each of its words once.
void ExpectEachOnce(const std::string& text, const std::set<std::string>& names) {
  std::vector<std::string> words = Words(text);
  std::set<std::string> distinct(words.begin(), words.end());
  EXPECT_EQ(distinct.size(), words.size());
  EXPECT_EQ(distinct, names);
}

SaveArgs NthSave(int saver, int n) {
  std::string id = std::to_string(saver) + "-" + std::to_string(n);
  return {.file = "F" + id, .style = "S" + id, .machine = "M" + id};
}

TEST(LoomregCheckTest, RepairBesideRunningSavesLosesNothing) {
  Store store;
  // Long lists that every save extends, so that saves come while a repair rewrites them; the
  // names need nothing stored, so the reports stay short.
  constexpr int kListed = 50000;
  std::set<std::string> files = {"P0", "P1"}, styles, machines;
  std::string kinds, machine_names;
  for (int i = 0; i < kListed; ++i) {
    styles.insert("K" + std::to_string(i));
    machines.insert("N" + std::to_string(i));
    kinds += "K" + std::to_string(i) + "\r\n";
    machine_names += "N" + std::to_string(i) + "\r\n";
  }
  WriteFile(store.data() / "SetValueFile/FileList", "P0\r\nP1\r\n");
  WriteFile(store.data() / "StyleList/KindList", kinds);
  WriteFile(store.data() / "MachineList/MachineList", machine_names);
  const fs::path repaired = store.app() / "repairs-done";

  // Savers save one after another, each save a file, a style and a machine of its own, until
  // the repairs are done; each then records how many saves it made.
  constexpr int kSavers = 3;
  std::vector<pid_t> children;
  for (int saver = 0; saver < kSavers; ++saver) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int n = 0;
      while (n < 2000 && !Exists(repaired)) {
        if (store.Save(NthSave(saver, n)).exit_status != 1) ::_exit(1);
        ++n;
      }
      WriteFile(store.app() / ("saves-" + std::to_string(saver)), std::to_string(n));
      ::_exit(0);
    }
    children.push_back(pid);
  }
  // Meanwhile the store is damaged and repaired over and over.
  pid_t repairer = ::fork();
  ASSERT_GE(repairer, 0);
  if (repairer == 0) {
    for (int round = 0; round < 5; ++round) {
      Damage(store);
      int status = Check(store, {"--repair"}).exit_status;
      if (status != 0 && status != 1) ::_exit(4);
    }
    WriteFile(repaired, "");
    ::_exit(0);
  }
  children.push_back(repairer);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid;
  }

  std::multiset<std::string> history;
  for (int saver = 0; saver < kSavers; ++saver) {
    int saves = std::stoi(ReadFile(store.app() / ("saves-" + std::to_string(saver))));
    for (int n = 0; n < saves; ++n) {
      SaveArgs args = NthSave(saver, n);
      history.insert(args.file + "," + args.style + ",B1,C1," + args.machine);
      files.insert(args.file);
      styles.insert(args.style);
      machines.insert(args.machine);
    }
  }
  // Every saved line is there, and every each-once list holds every name once.
  std::multiset<std::string> lines;
  std::istringstream saved(store.Data("SetValueFileList/SetValueList"));
  for (std::string line; std::getline(saved, line);) lines.insert(line.substr(0, line.size() - 1));
  EXPECT_EQ(lines, history);
  ExpectEachOnce(store.Data("SetValueFile/FileList"), files);
  ExpectEachOnce(store.Data("StyleList/KindList"), styles);
  ExpectEachOnce(store.Data("MachineList/MachineList"), machines);
  Findings left = Parse(Check(store).out);
  EXPECT_EQ(left.count["repeated-name"], 0);
  EXPECT_EQ(left.count["unterminated-line"], 0);
}

}  // namespace
}  // namespace loomreg::testing
