#include "findings.h"

#include <algorithm>
#include <tuple>

namespace loomreg {

Severity SeverityOf(FindingKind kind) {
  switch (kind) {
    case FindingKind::kLfLineEnds:
    case FindingKind::kSeveralWords:
    case FindingKind::kWaitingUpload:
    case FindingKind::kRefusedName:
    case FindingKind::kLeftoverTemp:
    case FindingKind::kUnlockedCheck:
      return Severity::kNote;
    default:
      return Severity::kProblem;
  }
}

std::string_view KindId(FindingKind kind) {
  switch (kind) {
    case FindingKind::kRepeatedName:
      return "repeated-name";
    case FindingKind::kUnterminatedLine:
      return "unterminated-line";
    case FindingKind::kLongWord:
      return "long-word";
    case FindingKind::kListedNotStored:
      return "listed-not-stored";
    case FindingKind::kNotInFileList:
      return "not-in-file-list";
    case FindingKind::kNotInStyleList:
      return "not-in-style-list";
    case FindingKind::kStyleNotListed:
      return "style-not-listed";
    case FindingKind::kMachineNotListed:
      return "machine-not-listed";
    case FindingKind::kMalformedStamp:
      return "malformed-stamp";
    case FindingKind::kLfLineEnds:
      return "lf-line-ends";
    case FindingKind::kSeveralWords:
      return "several-words";
    case FindingKind::kWaitingUpload:
      return "waiting-upload";
    case FindingKind::kRefusedName:
      return "refused-name";
    case FindingKind::kLeftoverTemp:
      return "leftover-temp";
    case FindingKind::kUnlockedCheck:
      return "unlocked-check";
    case FindingKind::kWrongType:
      return "wrong-type";
    case FindingKind::kMissingList:
      return "missing-list";
    case FindingKind::kUnusableLock:
      return "unusable-lock";
  }
  return "unknown";
}

void SortFindings(std::vector<Finding>& findings) {
  std::sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return std::tie(a.file, a.line, a.kind, a.name) < std::tie(b.file, b.line, b.kind, b.name);
  });
}

Repair RemovedRepeat(const std::string& file, const RepeatLog::Entry& entry) {
  return {RepairAction::kRemovedRepeat, file, entry.line, entry.name,
          "first on line " + std::to_string(entry.first_line)};
}

std::string_view ActionId(RepairAction action) {
  switch (action) {
    case RepairAction::kRemovedRepeat:
      return "removed-repeat";
    case RepairAction::kEndedLastLine:
      return "ended-last-line";
    case RepairAction::kAddedName:
      return "added-name";
    case RepairAction::kRemovedLeftover:
      return "removed-leftover";
    case RepairAction::kCreatedList:
      return "created-list";
    case RepairAction::kMendedLock:
      return "mended-lock";
    case RepairAction::kNotRepaired:
      return "not-repaired";
    case RepairAction::kWarning:
      return "warning";
  }
  return "unknown";
}

}  // namespace loomreg
