#include "check_command.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "json.h"
#include "loomreg_version.h"
#include "register_save.h"
#include "repair.h"
#include "report.h"
#include "save_request.h"
#include "siteconfig.h"
#include "store_lock.h"

namespace loomreg {
namespace {

constexpr std::string_view kUsage =
    "usage: loomreg-check [--repair] [--json]\n"
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
    "  --help     show this text\n"
    "  --version  show the version\n";

struct Options {
  bool help = false;
  bool version = false;
  bool repair = false;
  bool json = false;
};

// The options, or nothing when an argument is not one of them: `wrong` then holds it.
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
    } else {
      wrong = arg;
      return std::nullopt;
    }
  }
  return options;
}

void Complain(std::string_view message) {
  std::string line = "loomreg-check: " + EscapeLine(message) + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

std::string LockFailure(const StoreLock& lock, StoreLock::Result result, const std::string& dir) {
  if (result == StoreLock::Result::kTimedOut) {
    return "the data store stayed locked by a save for " + std::to_string(kLockWait.count()) +
           " seconds";
  }
  return Status::SystemError("cannot lock the data store at", dir, lock.error()).message();
}

// A check under a shared lock, so that it sees the store between saves. Without the lock (the
// directory cannot be opened) it reads anyway, as a save would write anyway.
std::optional<CheckResult> CheckShared(const StorePaths& paths, std::vector<std::string>& errors) {
  StoreLock lock;
  StoreLock::Result locked =
      lock.Acquire(paths.history_dir.c_str(), std::chrono::steady_clock::now() + kLockWait,
                   StoreLock::Mode::kShared);
  if (locked == StoreLock::Result::kTimedOut) {
    errors.push_back(LockFailure(lock, locked, paths.history_dir));
    return std::nullopt;
  }
  return CheckStore(paths, std::time(nullptr));
}

// Writes out what `out` holds; `status` when that worked, else says why and gives 2.
int Flushed(Output& out, int status) {
  if (out.Flush()) return status;
  Complain(std::string("cannot write the report: ") + std::strerror(out.error()));
  return kExitUnreadable;
}

int Finish(CheckReport& report, const Options& options) {
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

int CheckMain(int argc, const char* const* argv) {
  std::string wrong;
  const std::optional<Options> parsed = ParseOptions(argc, argv, wrong);
  if (!parsed) {
    Complain("unknown argument " + QuoteForMessage(wrong));
    (void)!::write(STDERR_FILENO, kUsage.data(), kUsage.size());
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
  if (!PathTableIsComplete()) {
    report.errors.push_back("the data store paths of ./KVR_PATH.inf are longer than 255 bytes");
    return Finish(report, options);
  }
  const StorePaths paths = PathsFromTable();

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
          lock.Acquire(paths.history_dir.c_str(), std::chrono::steady_clock::now() + kLockWait);
      if (locked != StoreLock::Result::kLocked) {
        report.errors.push_back(LockFailure(lock, locked, paths.history_dir));
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
  std::optional<CheckResult> result = CheckShared(paths, report.errors);
  if (result) {
    report.check = &*result;
    report.errors.insert(report.errors.end(), result->errors.begin(), result->errors.end());
  }
  return Finish(report, options);
}

}  // namespace loomreg
