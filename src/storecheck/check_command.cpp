#include "check_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "json.h"
#include "loomreg_version.h"
#include "message_text.h"
#include "progress.h"
#include "repair.h"
#include "report.h"
#include "siteconfig.h"
#include "store_location.h"
#include "store_lock.h"

namespace loomreg {
namespace {

constexpr std::string_view kUsage =
    "usage: loomreg-check [--repair] [--json]\n"
    "       loomreg-check --hold [--] COMMAND [ARG...]\n"
    "       loomreg-check --help | --version\n"
    "\n"
    "Checks the data store of the application directory it runs in (./KVR_PATH.inf locates\n"
    "the store, as for loomreg) and reports one finding per line: problems, which a reader or\n"
    "the next save trips over, and notes, forms a reader still understands.\n"
    "Exit status: 0 no problem, 1 at least one problem, 2 the store cannot be read whole or\n"
    "the command line is wrong.\n"
    "\n"
    "  --repair   under the lock a save takes, fix what loses nothing: remove repeated names\n"
    "             from FileList, KindList and MachineList (keeping the first), end an\n"
    "             unterminated last line, and add the stored files, styles and machines\n"
    "             the lists lack; then check again and report what is left\n"
    "  --json     print the report as one JSON document\n"
    "  --hold     take the lock a save takes, run COMMAND while holding it, and exit with\n"
    "             COMMAND's exit status (125 when the lock cannot be taken): saves wait\n"
    "             meanwhile, for at most 10 seconds each. SIGTERM, SIGHUP, SIGINT and\n"
    "             SIGQUIT are passed on to COMMAND, which holds the lock itself until it\n"
    "             ends, even when loomreg-check is killed\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

struct Options {
  bool help = false;
  bool version = false;
  bool repair = false;
  bool json = false;
  const char* const* hold = nullptr;  // the command to run under the lock, with its arguments
};

// The options, or nothing when the arguments are not right: `wrong` then says why.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& wrong) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--repair") {
      options.repair = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--hold" && i == 1) {
      int first = i + 1;
      if (first < argc && argv[first] != nullptr && std::string_view(argv[first]) == "--") {
        ++first;
      }
      if (first >= argc || argv[first] == nullptr) {
        wrong = "--hold needs a command";
        return std::nullopt;
      }
      options.hold = argv + first;
      return options;
    } else {
      wrong = "unknown argument " + QuoteForMessage(arg);
      return std::nullopt;
    }
  }
  return options;
}

void Complain(std::string_view message) {
  WriteDiagnostic("loomreg-check", EscapeForLine(message));
}

// The command --hold runs, for the signal handler; 0 while there is none.
volatile std::sig_atomic_t g_command = 0;

// Passes a signal on to the command. One the terminal sent (SIGINT from Ctrl-C, SIGHUP on a
// hangup) went to the whole foreground process group, the command included, and is not sent
// twice.
extern "C" void ForwardSignal(int signal, siginfo_t* info, void*) {
  if (info != nullptr && info->si_code == SI_KERNEL) return;
  const pid_t command = g_command;
  if (command > 0) ::kill(command, signal);
}

constexpr int kForwarded[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// While it lives, the signals of kForwarded are passed on to the command rather than ending
// this process, whose end would leave the command running. One this process ignores (under
// nohup, say) stays ignored by both.
class ForwardedSignals {
 public:
  ForwardedSignals() {
    struct sigaction forward = {};
    forward.sa_sigaction = ForwardSignal;
    forward.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigemptyset(&forward.sa_mask);
    for (std::size_t i = 0; i < std::size(kForwarded); ++i) {
      ::sigaction(kForwarded[i], nullptr, &old_[i]);
      if (old_[i].sa_handler != SIG_IGN) ::sigaction(kForwarded[i], &forward, nullptr);
    }
  }
  ~ForwardedSignals() {
    for (std::size_t i = 0; i < std::size(kForwarded); ++i) {
      ::sigaction(kForwarded[i], &old_[i], nullptr);
    }
  }
  ForwardedSignals(const ForwardedSignals&) = delete;
  ForwardedSignals& operator=(const ForwardedSignals&) = delete;

 private:
  struct sigaction old_[std::size(kForwarded)] = {};
};

// Blocks the forwarded signals for its lifetime: between the command's start and the moment its
// process ID is known, or once it has ended and its ID may be reused.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (int signal : kForwarded) ::sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockedSignals() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t old_;
};

// Starts `command`, searched on PATH, with no signal blocked and SIGINT and SIGQUIT at their
// defaults. Returns 0 or the error number.
int Spawn(pid_t* pid, const char* const* command) {
  posix_spawnattr_t attr;
  if (int err = ::posix_spawnattr_init(&attr)) return err;
  sigset_t defaults, none;
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGINT);
  ::sigaddset(&defaults, SIGQUIT);
  ::sigemptyset(&none);
  int err = ::posix_spawnattr_setsigdefault(&attr, &defaults);
  if (err == 0) err = ::posix_spawnattr_setsigmask(&attr, &none);
  if (err == 0)
    err = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (err == 0) {
    // posix_spawnp does not change the argument strings; its signature predates const.
    err =
        ::posix_spawnp(pid, command[0], nullptr, &attr, const_cast<char* const*>(command), environ);
  }
  ::posix_spawnattr_destroy(&attr);
  return err;
}

std::string LockFailure(const StorePaths& paths, const StoreLock& lock, StoreLock::Result result,
                        std::chrono::seconds lock_wait) {
  if (result == StoreLock::Result::kTimedOut) {
    return StayedLockedText("a save", lock_wait);
  }
  return lock.error() + MissingStoreHint(lock.error_number()) +
         LockAccessHint(paths.lock, lock.error_number(), "loomreg-check");
}

// The unlocked-check note, or nothing where the lock's directory is missing: the check's own
// error says then that there is no store here.
std::optional<Finding> UnlockedNote(const StorePaths& paths, const StoreLock& lock) {
  struct stat st;
  if (lock.error_number() == ENOENT) {
    if (::stat(paths.history_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return Finding{FindingKind::kUnlockedCheck, paths.lock, 0, std::nullopt,
                   "the store was read without its lock, as the lock file does not exist, so a "
                   "save running meanwhile may show as damage; loomreg-mkstore, loomreg-check "
                   "--repair or the next save creates it (a check never does)"};
  }
  return Finding{FindingKind::kUnlockedCheck, paths.lock, 0, std::nullopt,
                 "the store was read without its lock (" + lock.error() +
                     "), so a save running meanwhile may show as damage"};
}

// A check under a shared lock, so that it sees the store between saves. It never creates the
// lock file: a check run as root would leave one that saves cannot open. A store whose lock
// file is missing or cannot be opened (a read-only copy, say) is read without the lock, and the
// report says so.
std::optional<CheckResult> CheckShared(const StorePaths& paths, std::vector<std::string>& errors,
                                       std::chrono::seconds lock_wait) {
  StoreLock lock;
  StoreLock::Result locked =
      lock.Acquire(paths.lock.c_str(), std::chrono::steady_clock::now() + lock_wait,
                   StoreLock::Mode::kShared, StoreLock::Create::kNo);
  if (locked == StoreLock::Result::kTimedOut) {
    errors.push_back(LockFailure(paths, lock, locked, lock_wait));
    return std::nullopt;
  }
  CheckResult result = CheckStore(paths, std::time(nullptr));
  if (locked == StoreLock::Result::kUnavailable) {
    if (std::optional<Finding> note = UnlockedNote(paths, lock)) {
      result.findings.push_back(std::move(*note));
      SortFindings(result.findings);
    }
  }
  return result;
}

// Runs `command` under the store lock and returns its exit status: 128 + the signal when a
// signal ended it, 127 when it cannot be found, 126 when it cannot be run, 125 when the lock
// cannot be taken.
//
// The command inherits the open file description that holds the lock (an OFD lock belongs to
// it, not to a process), so the lock is held for as long as the command, or anything it
// started that kept the descriptor, runs: however this process ends, SIGKILL included, no save
// goes on while the command does. The signals that would end this process are passed on to the
// command instead, and the lock is released only after the command has ended.
int Hold(const StorePaths& paths, const char* const* command, std::chrono::seconds lock_wait) {
  StoreLock lock;
  StoreLock::Result locked =
      lock.Acquire(paths.lock.c_str(), std::chrono::steady_clock::now() + lock_wait);
  if (locked != StoreLock::Result::kLocked) {
    Complain(LockFailure(paths, lock, locked, lock_wait));
    return 125;
  }
  // A duplicate without close-on-exec: the command's copy of the lock.
  Fd inherited(::fcntl(lock.fd(), F_DUPFD, 3));
  if (!inherited.valid()) {
    Complain(std::string("cannot pass the lock on to the command: ") + std::strerror(errno));
    return 125;
  }
  ForwardedSignals forwarded;
  pid_t pid;
  {
    BlockedSignals blocked;
    int err = Spawn(&pid, command);
    if (err != 0) {
      Complain("cannot run " + QuoteForMessage(command[0]) + ": " + std::strerror(err));
      return err == ENOENT ? 127 : 126;
    }
    g_command = pid;
  }
  inherited = Fd();
  // Wait for the end without reaping, so that no signal is passed on to a reused ID.
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) {
      Complain(std::string("cannot wait for the command: ") + std::strerror(errno));
      return 125;
    }
  }
  int status = 0;
  {
    BlockedSignals blocked;
    g_command = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

// Writes out what `out` holds; `status` when that worked, else says why and gives 2.
int Flushed(Output& out, int status) {
  if (out.Flush()) return status;
  Complain(std::string("cannot write the report: ") + std::strerror(out.error()));
  return kExitUnreadable;
}

int Finish(CheckReport& report, const Options& options) {
  ClearProgress();
  for (const std::string& error : report.errors) Complain(error);
  Output out(STDOUT_FILENO);
  if (options.json) {
    WriteJson(report, LOOMREG_VERSION, out);
  } else {
    WriteText(report, out);
  }
  return Flushed(out, report.exit_status());
}

}  // namespace

int CheckMain(int argc, const char* const* argv, std::chrono::seconds lock_wait) {
  std::string wrong;
  const std::optional<Options> parsed = ParseOptions(argc, argv, wrong);
  if (!parsed) {
    Complain(wrong);
    (void)WriteAll(STDERR_FILENO, kUsage);
    return kExitUnreadable;
  }
  const Options& options = *parsed;
  if (options.help) {
    Output out(STDOUT_FILENO);
    out << kUsage;
    return Flushed(out, kExitClean);
  }
  if (options.version) {
    Output out(STDOUT_FILENO);
    out << "loomreg-check " LOOMREG_VERSION "\n";
    return Flushed(out, kExitClean);
  }

  CheckReport report;
  BuildPathTable();
  if (options.hold != nullptr) {
    if (Status table = CheckPathTable(); !table.ok()) {
      Complain(table.message());
      return 125;
    }
    return Hold(PathsFromTable(), options.hold, lock_wait);
  }
  if (Status table = CheckPathTable(); !table.ok()) {
    report.errors.push_back(table.message());
    return Finish(report, options);
  }
  const StorePaths paths = PathsFromTable();
  if (!options.json) EnableProgress();  // a terminal on standard error shows what is read

  std::vector<Repair> repairs;
  std::vector<LoggedRepairs> removed;
  if (options.repair) {
    report.repairs = &repairs;
    report.removed = &removed;
    std::optional<CheckResult> unread;  // the first check, when it could not read the store whole
    {
      // The whole repair, from reading to the last rename, under the lock a save takes: a save
      // waiting meanwhile finds the repaired lists.
      StoreLock lock;
      StoreLock::Result locked =
          lock.Acquire(paths.lock.c_str(), std::chrono::steady_clock::now() + lock_wait);
      if (locked != StoreLock::Result::kLocked) {
        report.errors.push_back(LockFailure(paths, lock, locked, lock_wait));
        report.repair_skipped = true;
        return Finish(report, options);
      }
      CheckResult before = CheckStore(paths, std::time(nullptr));
      if (before.errors.empty()) {
        repairs = RepairStore(before, &removed);
      } else {
        unread = std::move(before);
      }
    }
    if (unread) {
      // Repairs rest on the whole store: without it, a name "missing" may only be unread.
      report.repair_skipped = true;
      report.errors = unread->errors;
      report.check = &*unread;
      return Finish(report, options);
    }
  }

  // After a repair, what is left is reported from a fresh check.
  std::optional<CheckResult> result = CheckShared(paths, report.errors, lock_wait);
  if (result) {
    report.check = &*result;
    report.errors.insert(report.errors.end(), result->errors.begin(), result->errors.end());
  }
  return Finish(report, options);
}

}  // namespace loomreg
