// Where every part of the check puts what it finds: the findings, what could not be read, the
// names a save would refuse, and the repairs planned on the way.
#ifndef LOOMREG_STORECHECK_FINDING_LOG_H
#define LOOMREG_STORECHECK_FINDING_LOG_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "file_io.h"
#include "refused_names.h"
#include "rewrite_planner.h"
#include "store.h"

namespace loomreg {

class FindingLog {
 public:
  FindingLog(const Store& store, CheckResult& result)
      : store_(store), result_(result), planner_(result.rewrites) {}
  FindingLog(const FindingLog&) = delete;
  FindingLog& operator=(const FindingLog&) = delete;

  // Adds a finding; returns it, for the fields only some kinds have.
  Finding& Add(FindingKind kind, const std::string& file, std::uint64_t line,
               std::optional<std::string_view> name, std::string detail);
  // Something could not be read: the findings are incomplete.
  void Error(Status status) { result_.errors.push_back(std::move(status)); }
  // A catalogue, stamp, style directory or upload that a save refuses to touch: a symbolic
  // link (never followed), or not `expected` ("a regular file", "a directory"). Returns the
  // detail, for a message.
  std::string WrongType(const std::string& path, std::string_view expected);
  // A file that could not be opened for reading, as OpenForReading failed: of the wrong type
  // (a status without a system error), or unreadable.
  void NoteUnread(const std::string& path, const Status& status);
  // A missing each-once list, which a repair creates holding `holding`.
  void NoteMissingList(const std::string& path, std::string_view what, std::string_view holding);
  // A temporary file of an interrupted repair, which a repair removes.
  void NoteLeftover(std::string path);
  void NoteName(Role role, std::string_view name, const std::string& file, std::uint64_t line) {
    refused_.Note(role, name, file, line);
  }

  // The store checked; its shown paths name the files of the findings.
  const Store& store() const { return store_; }
  RewritePlanner& planner() { return planner_; }
  CheckResult& result() { return result_; }
  // Completes the plans and puts the findings in report order.
  void Finish();

 private:
  const Store& store_;
  CheckResult& result_;
  RewritePlanner planner_;
  RefusedNames refused_;
};

}  // namespace loomreg

#endif
