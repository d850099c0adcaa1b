#include "check_command.h"

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "command_line.h"
#include "hold.h"
#include "json.h"
#include "loomreg_version.h"
#include "message_text.h"
#include "progress.h"
#include "repair.h"
#include "report.h"
#include "store.h"
#include "store_lock.h"

namespace loomreg {
namespace {

// The unlocked-check note, or nothing where the lock's directory is missing: the check's own
// error says then that there is no store here.
std::optional<Finding> UnlockedNote(const Store& store, const Status& failed) {
  const StorePaths paths = store.ShownPaths();
  if (failed.kind() == os::Kind::kNotFound) {
    Result<os::Info> st = FileStatus(store.At(store.paths().history_dir));
    if (!st.ok() || st->type != os::Type::kDirectory) return std::nullopt;
    return Finding{FindingKind::kUnlockedCheck, paths.lock, 0, std::nullopt,
                   "the store was read without its lock, as the lock file does not exist, so a "
                   "save running meanwhile may show as damage; loomreg-mkstore, loomreg-check "
                   "--repair or the next save creates it (a check never does)"};
  }
  return Finding{FindingKind::kUnlockedCheck, paths.lock, 0, std::nullopt,
                 "the store was read without its lock (" + failed.message() +
                     "), so a save running meanwhile may show as damage"};
}

// A check under a shared lock, so that it sees the store between saves. It never creates the
// lock file: a check run as root would leave one that saves cannot open. A store whose lock
// file is missing or cannot be opened (a read-only copy, say) is read without the lock, and the
// report says so.
Result<CheckResult> CheckShared(const Store& store, std::chrono::seconds lock_wait) {
  StoreLock lock;
  Status locked =
      lock.Acquire(store.At(store.paths().lock), std::chrono::steady_clock::now() + lock_wait,
                   StoreLock::Mode::kShared, StoreLock::Create::kNo);
  if (locked.timed_out()) return LockFailure(store, locked, lock_wait);
  CheckResult result = CheckStore(store, std::time(nullptr));
  if (!locked.ok()) {
    if (std::optional<Finding> note = UnlockedNote(store, locked)) {
      result.findings.push_back(std::move(*note));
      SortFindings(result.findings);
    }
  }
  return result;
}

// The whole repair, from reading to the last rename, under the lock a save takes: a save
// waiting meanwhile finds the repaired lists. Returns the check the repair rests on, which
// made no repair when it could not read the store whole: a name "missing" may only be unread.
Result<CheckResult> RepairLocked(const Store& store, std::chrono::seconds lock_wait,
                                 std::vector<Repair>& repairs,
                                 std::vector<LoggedRepairs>& removed) {
  StoreLock lock;
  if (Status locked =
          lock.Acquire(store.At(store.paths().lock), std::chrono::steady_clock::now() + lock_wait);
      !locked.ok()) {
    return LockFailure(store, locked, lock_wait);
  }
  CheckResult before = CheckStore(store, std::time(nullptr));
  if (before.errors.empty()) repairs = RepairStore(store, before, &removed);
  return before;
}

// Writes out what `out` holds; `status` when that worked, else says why and gives 2.
int Flushed(Output& out, int status) {
  if (Status flushed = out.Flush(); !flushed.ok()) {
    Complain(flushed.message());
    return kExitUnreadable;
  }
  return status;
}

int Print(std::string_view text) {
  Output out(os::Stream::kOutput);
  out << text;
  return Flushed(out, kExitClean);
}

int Finish(CheckReport& report, const Options& options) {
  ClearProgress();
  for (const Status& error : report.errors) Complain(error.message());
  Output out(os::Stream::kOutput);
  if (options.json) {
    WriteJson(report, LOOMREG_VERSION, out);
  } else {
    WriteText(report, out);
  }
  return Flushed(out, report.exit_status());
}

// Reports a check of the store; after a repair, what is left.
int CheckAndFinish(const Store& store, const Options& options, std::chrono::seconds lock_wait,
                   CheckReport& report) {
  Result<CheckResult> result = CheckShared(store, lock_wait);
  if (result.ok()) {
    report.check = &*result;
    report.errors.insert(report.errors.end(), result->errors.begin(), result->errors.end());
  } else {
    report.errors.push_back(result.status());
  }
  return Finish(report, options);
}

int RepairAndFinish(const Store& store, const Options& options, std::chrono::seconds lock_wait,
                    CheckReport& report) {
  std::vector<Repair> repairs;
  std::vector<LoggedRepairs> removed;
  report.repairs = &repairs;
  report.removed = &removed;
  Result<CheckResult> before = RepairLocked(store, lock_wait, repairs, removed);
  if (!before.ok()) {
    report.errors.push_back(before.status());
    report.repair_skipped = true;
    return Finish(report, options);
  }
  if (!before->errors.empty()) {
    report.repair_skipped = true;
    report.errors = before->errors;
    report.check = &*before;
    return Finish(report, options);
  }
  return CheckAndFinish(store, options, lock_wait, report);
}

}  // namespace

int CheckMain(int argc, const char* const* argv, std::chrono::seconds lock_wait) {
  const Result<Options> parsed = ParseOptions(argc, argv);
  if (!parsed.ok()) {
    Complain(parsed.status().message());
    (void)WriteAll(os::Stream::kError, "standard error", kCheckUsage);
    return kExitUnreadable;
  }
  const Options& options = *parsed;
  if (options.help) return Print(kCheckUsage);
  if (options.version) return Print("loomreg-check " LOOMREG_VERSION "\n");

  CheckReport report;
  const Store store = Store::OpenSite();
  if (options.hold != nullptr) {
    if (Status table = store.CheckTable(); !table.ok()) {
      Complain(table.message());
      return 125;
    }
    return Hold(store, options.hold, lock_wait);
  }
  if (Status table = store.CheckTable(); !table.ok()) {
    report.errors.push_back(std::move(table));
    return Finish(report, options);
  }
  if (!options.json) EnableProgress();  // a terminal on standard error shows what is read
  if (options.repair) return RepairAndFinish(store, options, lock_wait, report);
  return CheckAndFinish(store, options, lock_wait, report);
}

}  // namespace loomreg
