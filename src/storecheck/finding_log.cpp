#include "finding_log.h"

#include <utility>

namespace loomreg {

Finding& FindingLog::Add(FindingKind kind, const std::string& file, std::uint64_t line,
                         std::optional<std::string_view> name, std::string detail) {
  Finding finding{kind, file, line, std::nullopt, std::move(detail)};
  if (name) finding.name = std::string(*name);
  result_.findings.push_back(std::move(finding));
  return result_.findings.back();
}

std::string FindingLog::WrongType(const std::string& path, std::string_view expected) {
  Result<os::Info> st = LinkStatus(store_.Locate(path));
  std::string detail;
  if (!st.ok()) {
    detail = "not " + std::string(expected);
  } else if (st->type == os::Type::kLink) {
    detail = "a symbolic link: a save never reads or writes through it";
  } else {
    detail = std::string(FileTypeText(st->type)) + ", not " + std::string(expected);
  }
  Add(FindingKind::kWrongType, path, 0, std::nullopt, detail);
  return detail;
}

void FindingLog::NoteUnread(const std::string& path, const Status& status) {
  if (status.error() == 0) {
    WrongType(path, "a regular file");
  } else {
    Error(status);
  }
}

void FindingLog::NoteMissingList(const std::string& path, std::string_view what,
                                 std::string_view holding) {
  Add(FindingKind::kMissingList, path, 0, std::nullopt,
      std::string(what) + "; loomreg-check --repair creates it holding " + std::string(holding));
  planner_.Create(path);
}

void FindingLog::NoteLeftover(std::string path) {
  Add(FindingKind::kLeftoverTemp, path, 0, std::nullopt,
      "a temporary file left by an interrupted repair");
  result_.leftovers.push_back(std::move(path));
}

void FindingLog::Finish() {
  planner_.Finish();
  refused_.MoveTo(result_.findings);
  SortFindings(result_.findings);
}

}  // namespace loomreg
