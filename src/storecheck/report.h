// The report of a check or repair, as text lines or as one JSON document.
//
// Text: one line per repair and per finding, "FILE[:LINE]: SEVERITY: KIND: [NAME ]DETAIL", then
// a summary line. Names are quoted with their control bytes, '"' and '\' escaped; in paths,
// control bytes and '\' are escaped the same way, so that every finding stays one line.
#ifndef LOOMREG_STORECHECK_REPORT_H
#define LOOMREG_STORECHECK_REPORT_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "file_io.h"
#include "findings.h"
#include "output.h"

namespace loomreg {

enum ExitStatus {
  kExitClean = 0,       // no problem found
  kExitProblems = 1,    // at least one problem
  kExitUnreadable = 2,  // the store could not be read whole, or the command line is wrong
};

struct CheckReport {
  const CheckResult* check = nullptr;                   // null when the store could not be checked
  const std::vector<Repair>* repairs = nullptr;         // null unless repairing
  const std::vector<LoggedRepairs>* removed = nullptr;  // repeats removed, logged apart, if any
  std::vector<Status> errors;                           // what could not be read
  bool repair_skipped = false;  // repairing, but the store was not read whole

  std::size_t Count(Severity severity) const;
  // How many repairs were needed but could not be made.
  std::size_t NotRepaired() const;
  int exit_status() const;
};

// Calls `visit` for every repair in order: `repairs` with the logged removals in their places.
// The repair passed is valid only during the call.
void ForEachRepair(const CheckReport& report, const std::function<void(const Repair&)>& visit);

// `text` with control bytes, DEL and '\' escaped as \xNN and \\, for one line of text.
std::string EscapeLine(std::string_view text);

void WriteText(const CheckReport& report, Output& out);

}  // namespace loomreg

#endif
