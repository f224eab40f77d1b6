// Without a display no box can be made at all: notice.exe must still end
// promptly with status 0. Run with no DISPLAY.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

TEST(NoDisplay, EndsPromptlyWithStatusZero) {
    ProgramRun process(NoticeProgramPath(), "notice.exe Cannot,Show");
    ASSERT_TRUE(process.Started());
    DWORD exitCode = 1;
    ASSERT_TRUE(process.WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << "waited for a box nobody can see";
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
