#include "run_status.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace loomreg {
namespace {

// The status of a failed run, "-1", is longer than the "0" of the next run that succeeds: the
// rewrite cuts off what the shorter status does not cover.
TEST(RunStatusTest, AShorterStatusReplacesTheLongerOneWhole) {
  testing::TempDir dir;
  testing::ScopedCwd cwd(dir.path());
  ASSERT_TRUE(WriteRunStatus("-1").ok());
  ASSERT_TRUE(WriteRunStatus("0").ok());
  EXPECT_EQ(testing::ReadFile(dir / kRunStatusFile), "0\r\n");
}

}  // namespace
}  // namespace loomreg
