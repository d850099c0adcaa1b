#include "report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace loomreg {
namespace {

std::string Text(const CheckReport& report) {
  Output out;
  WriteText(report, out);
  return out.text();
}

// A repair that could not be made must not be summed up as "nothing to repair", and leaves the
// exit status at "problems" even when the check after it finds none.
TEST(ReportTest, ARepairThatCouldNotBeMadeIsReportedAsSuch) {
  CheckResult clean;
  std::vector<Repair> repairs = {
      {RepairAction::kNotRepaired, "../kvrdata/StyleList/KindList", 0, std::nullopt,
       "cannot create a temporary file in ../kvrdata/StyleList/: Permission denied"}};
  CheckReport report;
  report.check = &clean;
  report.repairs = &repairs;
  EXPECT_EQ(Text(report),
            "../kvrdata/StyleList/KindList: not repaired: cannot create a temporary file in "
            "../kvrdata/StyleList/: Permission denied\n"
            "0 repairs made, 1 repair could not be made\n"
            "0 problems, 0 notes\n");
  EXPECT_EQ(report.exit_status(), kExitProblems);

  repairs.push_back({RepairAction::kAddedName, "../kvrdata/SetValueFile/FileList", 0, "F1", ""});
  EXPECT_NE(Text(report).find("\n1 repair made, 1 repair could not be made\n"), std::string::npos);

  repairs.clear();
  EXPECT_EQ(Text(report), "nothing to repair\n0 problems, 0 notes\n");
  EXPECT_EQ(report.exit_status(), kExitClean);
}

}  // namespace
}  // namespace loomreg
