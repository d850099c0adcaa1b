// Makes exactly one step's open, write or flush fail, through a preloaded library that fails
// the chosen system call, and checks that the save stops there with exactly the earlier steps
// done.
#include <gtest/gtest.h>

#include <ostream>

#include "store_fixture.h"

namespace loomreg::testing {
namespace {

struct Fault {
  const char* rule;  // LOOMREG_FAULTS
  int stop_step;     // the step whose failure ends the save
  int done_before;   // the first step not done (stop_step, or one more when the step's
                     // change was made but could not be flushed)
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.rule; }

std::vector<std::string> FaultEnv(const std::string& rule) {
  return {"LD_PRELOAD=" LOOMREG_FAULT_SHIM, "LOOMREG_FAULTS=" + rule};
}

class StepFaultTest : public ::testing::TestWithParam<Fault> {};

TEST_P(StepFaultTest, StopsTheSaveAtThatStep) {
  const Fault& fault = GetParam();
  Store store;
  store.Upload("v1");
  ProcessResult run = store.Save({}, FaultEnv(fault.rule));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(store.RunStatus(), "-1\r\n");
  EXPECT_TRUE(run.err.starts_with("loomreg: save stopped at the ")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  ExpectStepsDone(store, fault.done_before, "v1");
}

INSTANTIATE_TEST_SUITE_P(Open, StepFaultTest,
                         ::testing::Values(Fault{"open:SetValueList:0:EACCES", 1, 1},
                                           Fault{"open:MachineF/M1:0:EACCES", 2, 2},
                                           Fault{"open:MachineList/MachineList:0:EACCES", 3, 3},
                                           Fault{"open:SetValueFile/FileList:0:EACCES", 4, 4},
                                           Fault{"open:StyleList/KindList:0:EACCES", 6, 6},
                                           Fault{"open:StyleFile/S1:0:EACCES", 7, 7},
                                           Fault{"open:Machine/M1:0:EACCES", 8, 8}));

INSTANTIATE_TEST_SUITE_P(Write, StepFaultTest,
                         ::testing::Values(Fault{"write:SetValueList:0:ENOSPC", 1, 1},
                                           Fault{"write:MachineF/M1:0:ENOSPC", 2, 2},
                                           Fault{"write:MachineList/MachineList:0:ENOSPC", 3, 3},
                                           Fault{"write:SetValueFile/FileList:0:ENOSPC", 4, 4},
                                           Fault{"write:StyleList/KindList:0:ENOSPC", 6, 6},
                                           Fault{"write:StyleFile/S1:0:ENOSPC", 7, 7},
                                           Fault{"write:Machine/M1:0:ENOSPC", 8, 8}));

// Filing the upload: a style directory that cannot be made (inodes exhausted) and a move that
// fails (another file system, no permission) stop the save; the upload stays.
INSTANTIATE_TEST_SUITE_P(Store, StepFaultTest,
                         ::testing::Values(Fault{"mkdir:SetValueFile/S1:0:ENOSPC", 5, 5},
                                           Fault{"rename:SetValueFile/FileData:0:EXDEV", 5, 5},
                                           Fault{"rename:SetValueFile/FileData:0:EACCES", 5, 5}));

// A failed flush leaves the written line in place, but the save must not report success.
INSTANTIATE_TEST_SUITE_P(Flush, StepFaultTest,
                         ::testing::Values(Fault{"fsync:SetValueList:0:EIO", 1, 2},
                                           Fault{"fsync:MachineF/M1:0:EIO", 2, 3},
                                           Fault{"fsync:kvrdata/MachineF:0:EIO", 2, 3},
                                           Fault{"fsync:MachineList/MachineList:0:EIO", 3, 4},
                                           Fault{"fsync:SetValueFile/FileList:0:EIO", 4, 5},
                                           Fault{"fsync:SetValueFile/S1/F1:0:EIO", 5, 6},
                                           Fault{"fsync:SetValueFile/S1:0:EIO", 5, 6},
                                           Fault{"fsync:kvrdata/SetValueFile:0:EIO", 5, 6},
                                           Fault{"fsync:StyleList/KindList:0:EIO", 6, 7},
                                           Fault{"fsync:kvrdata/StyleFile:0:EIO", 7, 8},
                                           Fault{"fsync:Machine/M1:0:EIO", 8, 9}));

// A file system that refuses the no-replace flag of renameat2 itself: the upload is filed by
// link and unlink instead, and the save succeeds.
TEST(StoreFallbackTest, ARefusedNoReplaceRenameFilesTheUploadByLink) {
  Store store;
  store.Upload("v1");
  ProcessResult run = store.Save({}, FaultEnv("rename:SetValueFile/FileData:1:EINVAL"));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(store.RunStatus(), "0\r\n");
  ExpectStepsDone(store, 9, "v1");
}

// A failing open or write of the run-status file, and the one line that says so.
struct RunStatusFault {
  const char* rule;
  const char* err;
};

constexpr RunStatusFault kRunStatusFaultsAtStart[] = {
    {"open:TimeExec.dat:1:EACCES", "loomreg: cannot open TimeExec.dat: Permission denied\n"},
    {"write:TimeExec.dat:1:ENOSPC",
     "loomreg: cannot write TimeExec.dat: No space left on device\n"},
};

constexpr RunStatusFault kRunStatusFaultsAtEnd[] = {
    {"open:TimeExec.dat:2:EACCES", "loomreg: cannot open TimeExec.dat: Permission denied\n"},
    {"write:TimeExec.dat:2:ENOSPC",
     "loomreg: cannot write TimeExec.dat: No space left on device\n"},
};

TEST(RunStatusFaultTest, FailingAtTheStartTouchesNothing) {
  for (const auto& [rule, err] : kRunStatusFaultsAtStart) {
    Store store;
    store.Upload("v1");
    auto before = store.Snapshot();
    ProcessResult run = store.Save({}, FaultEnv(rule));
    EXPECT_EQ(run.exit_status, 255) << rule;
    EXPECT_EQ(run.out, "open error") << rule;
    EXPECT_EQ(run.err, err) << rule;
    auto after = store.Snapshot();
    after.erase("kvr/TimeExec.dat");
    EXPECT_EQ(after, before) << rule;
  }
}

TEST(RunStatusFaultTest, FailingAtTheEndKeepsTheSaveAndTheOne) {
  for (const auto& [rule, err] : kRunStatusFaultsAtEnd) {
    Store store;
    store.Upload("v1");
    // Left by an earlier run, so that the run opens it once at its start and once at its end.
    WriteFile(store.app() / "TimeExec.dat", "0\r\n");
    ProcessResult run = store.Save({}, FaultEnv(rule));
    EXPECT_EQ(run.exit_status, 255) << rule;
    EXPECT_EQ(run.out, "") << rule;
    EXPECT_EQ(run.err, err) << rule;
    EXPECT_EQ(store.RunStatus(), "1\r\n") << rule;
    ExpectStepsDone(store, 9, "v1");
  }
}

}  // namespace
}  // namespace loomreg::testing
