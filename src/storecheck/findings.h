// What a store check finds, and what a repair changes.
#ifndef LOOMREG_STORECHECK_FINDINGS_H
#define LOOMREG_STORECHECK_FINDINGS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "repeat_log.h"

namespace loomreg {

enum class Severity {
  kProblem,  // damage: a reader or the next save goes wrong
  kNote,     // a form a reader still understands, or something to look at
};

enum class FindingKind {
  kRepeatedName,      // a name twice in FileList, KindList or MachineList
  kUnterminatedLine,  // a catalogue whose last line has no line end
  kLongWord,          // a list word longer than 255 bytes: it never equals a name
  kListedNotStored,   // a FileList name stored under no style
  kNotInFileList,     // a stored file whose name FileList lacks
  kNotInStyleList,    // a stored file that its style's file list does not name
  kStyleNotListed,    // a style directory or per-style list whose style KindList lacks
  kMachineNotListed,  // a per-machine list or stamp whose machine MachineList lacks
  kMalformedStamp,    // a machine stamp that is not "machine,stamp" and its line ends
  kLfLineEnds,        // lines ending in LF alone
  kSeveralWords,      // list lines holding more than one word
  kWaitingUpload,     // an upload still waiting to be filed
  kRefusedName,       // a stored name that a save would refuse today
  kLeftoverTemp,      // a temporary file left by an interrupted repair
  kWrongType,         // a catalogue, stamp, style directory or upload that is a symbolic link
                      // or not of its type: a save refuses it, the check never reads it
  kUnlockedCheck,     // the store was read without its lock
  kMissingList,       // FileList, KindList or MachineList does not exist
  kUnusableLock,      // a lock file that is not a regular file, or that the owner of
                      // SetValueFileList/ cannot open for writing: saves are refused
};

struct Finding {
  FindingKind kind;
  std::string file;                 // the path concerned, as the path table forms it
  std::uint64_t line = 0;           // 0 when the finding concerns no one line
  std::optional<std::string> name;  // the name concerned, if any
  std::string detail;               // the rest of the message, read after the name
  std::uint64_t count = 0;          // how many lines, for the kinds that sum up a file
  std::int64_t age_seconds = -1;    // how long an upload has waited
  std::int64_t size_bytes = -1;     // how big a waiting upload is
};

Severity SeverityOf(FindingKind kind);
// The kind's stable identifier, e.g. "repeated-name".
std::string_view KindId(FindingKind kind);
// In report order: by file, line and kind.
void SortFindings(std::vector<Finding>& findings);

enum class RepairAction {
  kRemovedRepeat,    // a repeated name was removed from an each-once list
  kEndedLastLine,    // a line end was added to an unterminated last line
  kAddedName,        // a missing name was added to an each-once list
  kRemovedLeftover,  // a temporary file of an interrupted repair was removed
  kCreatedList,      // a missing each-once list was created, holding the names it lacked
  kMendedLock,       // the lock file was given the owner and mode saves need
  kNotRepaired,      // the file needed a repair that was not made (detail says why)
  kWarning,          // the repair was made, with a caveat (detail says which)
};

struct Repair {
  RepairAction action;
  std::string file;
  std::uint64_t line = 0;  // the line of the original file concerned, or 0
  std::optional<std::string> name;
  std::string detail;
};

// The repeats removed from one list, logged apart from the other repairs (see RepeatLog): in
// report order they stand before the repair numbered `at`, or last when `at` is the count.
struct LoggedRepairs {
  std::size_t at;
  RepeatLog log;
};

// The repair a logged removal stands for.
Repair RemovedRepeat(const std::string& file, const RepeatLog::Entry& entry);

std::string_view ActionId(RepairAction action);

}  // namespace loomreg

#endif
