#include "check_command.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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
    "             meanwhile, for at most 10 seconds each\n"
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

// While it lives, SIGINT and SIGQUIT are ignored here, as system() does while its command runs.
class ChildSignals {
 public:
  ChildSignals() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &old_int_);
    ::sigaction(SIGQUIT, &ignore, &old_quit_);
  }
  ~ChildSignals() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGQUIT, &old_quit_, nullptr);
  }
  ChildSignals(const ChildSignals&) = delete;
  ChildSignals& operator=(const ChildSignals&) = delete;

 private:
  struct sigaction old_int_ = {};
  struct sigaction old_quit_ = {};
};

// Starts `command`, searched on PATH, with SIGINT and SIGQUIT at their defaults and no signal
// blocked. Returns 0 or the error number.
int SpawnWithDefaultSignals(pid_t* pid, const char* const* command) {
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

std::string LockFailure(const StoreLock& lock, StoreLock::Result result,
                        std::chrono::seconds lock_wait) {
  if (result == StoreLock::Result::kTimedOut) {
    return StayedLockedText("a save", lock_wait);
  }
  return lock.error() + MissingStoreHint(lock.error_number());
}

// A check under a shared lock, so that it sees the store between saves. A store whose lock
// file can be neither opened nor created (a read-only copy, say) is read without the lock, and
// the report says so.
std::optional<CheckResult> CheckShared(const StorePaths& paths, std::vector<std::string>& errors,
                                       std::chrono::seconds lock_wait) {
  StoreLock lock;
  StoreLock::Result locked = lock.Acquire(
      paths.lock.c_str(), std::chrono::steady_clock::now() + lock_wait, StoreLock::Mode::kShared);
  if (locked == StoreLock::Result::kTimedOut) {
    errors.push_back(LockFailure(lock, locked, lock_wait));
    return std::nullopt;
  }
  CheckResult result = CheckStore(paths, std::time(nullptr));
  if (locked == StoreLock::Result::kUnavailable) {
    Finding note{FindingKind::kUnlockedCheck, paths.lock, 0, std::nullopt,
                 "the store was read without its lock (" + lock.error() +
                     "), so a save running meanwhile may show as damage"};
    result.findings.push_back(std::move(note));
    SortFindings(result.findings);
  }
  return result;
}

// Runs `command` under the store lock and returns its exit status: 128 + the signal when a
// signal ended it, 127 when it cannot be found, 126 when it cannot be run, 125 when the lock
// cannot be taken.
int Hold(const StorePaths& paths, const char* const* command, std::chrono::seconds lock_wait) {
  StoreLock lock;
  StoreLock::Result locked =
      lock.Acquire(paths.lock.c_str(), std::chrono::steady_clock::now() + lock_wait);
  if (locked != StoreLock::Result::kLocked) {
    Complain(LockFailure(lock, locked, lock_wait));
    return 125;
  }
  // Ctrl-C reaches the command, which ends; the lock is released only after it has.
  ChildSignals signals;
  pid_t pid;
  int err = SpawnWithDefaultSignals(&pid, command);
  if (err != 0) {
    Complain("cannot run " + QuoteForMessage(command[0]) + ": " + std::strerror(err));
    return err == ENOENT ? 127 : 126;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      Complain(std::string("cannot wait for the command: ") + std::strerror(errno));
      return 125;
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
        report.errors.push_back(LockFailure(lock, locked, lock_wait));
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
