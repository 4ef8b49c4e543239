#include <gtest/gtest.h>

#include "support/process.h"

TEST(Smoke, NoArgumentsPrintsHelpAndFails) {
  ProcessResult result = RunProcess(TALVO_EXE, {});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("Find compositionally biased segments"), std::string::npos);
}
