// The recipes of examples/, as the build made them, started through their
// own callers: each caller must start notice.exe, which shows what the
// recipe meant, and wait for it; once OK is pressed, the caller's own check
// of notice.exe must pass and the caller end with status 0.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "e2e/e2e_support.h"

namespace {

struct Caller {
    // cppcheck-suppress unusedStructMember ; it names the test, through gtest
    const char* name;
    const char* folder;  // under examples\ beside this program
    const char* file;
    const char* before;  // the command line up to the recipe's path
    const char* after;   // and after it
    const char* text;
    const char* caption;
    const char* removal;  // what undoes the caller's run, if anything: run before and after
    const char* repair;   // added after the recipe's path, makes the caller repair what it did, if anything
};

const char NSIS_TEXT[] = "Setup needs $20 of disk space.\nFree it on C:\\Temp, then retry.\nSee setup.log";
// The programs that start notice.exe themselves; they sit, with it, in a
// folder whose name has a blank.
const char RUNTIME_TEXT[] = "Setup needs 20 MB more, free it on C:\\Temp.\nSee setup.log";

const Caller CALLERS[] = {
    {"NsisAnsi", "nsis-ansi", "notice-setup.exe", "", " /S", NSIS_TEXT, "Notice Example Setup", nullptr, nullptr},
    {"NsisUnicode", "nsis-unicode", "notice-setup.exe", "", " /S", NSIS_TEXT, "Notice Example Setup", nullptr, nullptr},
    {"Msi", "msi", "notice.msi", "msiexec /i ", " /qn", "Notice Example needs [20 MB] more.\nSee setup.log",
     "Notice Example Setup", "msiexec /x ",
     " REINSTALL=ALL REINSTALLMODE=omus"},
    {"Batch", "batch", "notice.cmd", "cmd.exe /c ", "", "Tom & Jerry: 100% done.\nSee C:\\Temp\\setup.log",
     "Notice Example Batch", nullptr, nullptr},
    {"Go", "go caller", "notice-caller.exe", "", "", RUNTIME_TEXT, "Notice Example Go", nullptr, nullptr},
    {"Rust", "rust caller", "notice-caller.exe", "", "", RUNTIME_TEXT, "Notice Example Rust", nullptr, nullptr},
};

// How long a caller that does not wait would take to end on its own.
constexpr DWORD CALLER_END_MS = 1000;

// Where the build put the recipe, quoted.
std::string RecipePath(const Caller& caller) {
    return "\"" + ProgramFolder() + "examples\\" + caller.folder + "\\" + caller.file + "\"";
}

// Runs a caller to its end and returns its status.
DWORD RunToEnd(const std::string& commandLine) {
    const NoticeProcess caller("", commandLine);
    DWORD exitCode = 1;
    EXPECT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << commandLine << ": still running";
    return exitCode;
}

class RecipeTest : public testing::TestWithParam<Caller> {};

TEST_P(RecipeTest, ShowsTheNoticeAndEndsWithStatusZero) {
    const Caller& recipe = GetParam();
    const std::string commandLine = recipe.before + RecipePath(recipe) + recipe.after;
    SCOPED_TRACE(commandLine);
    const std::string removal = recipe.removal != nullptr ? recipe.removal + RecipePath(recipe) + " /qn" : "";
    const std::string repair =
        recipe.repair != nullptr ? recipe.before + RecipePath(recipe) + recipe.repair + recipe.after : "";
    if (!removal.empty()) {
        RunToEnd(removal);  // left over from a run that failed
    }
    const NoticeProcess caller("", commandLine);
    ASSERT_TRUE(caller.Started()) << "cannot start the caller, error " << GetLastError();
    const std::unique_ptr<NoticeProcess> notice = caller.WaitForNoticeStarted(CALLER_TIMEOUT_MS);
    ASSERT_NE(notice, nullptr) << "the caller started no notice.exe";
    const HWND box = notice->WaitForBox(BOX_TIMEOUT_MS);
    ASSERT_NE(box, nullptr) << "no box appeared";
    ExpectBoxMatches(box, {commandLine, recipe.text, recipe.caption});
    DWORD exitCode = 1;
    EXPECT_FALSE(caller.WaitForExit(CALLER_END_MS, &exitCode)) << "the caller did not wait for notice.exe";
    EXPECT_TRUE(DismissBox(box, Dismissal::OkButton));
    ASSERT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << "the caller is still running";
    EXPECT_EQ(exitCode, 0u) << "the caller's check of notice.exe failed";
    if (!repair.empty()) {
        // A notice shown again would wait for a click and keep the repair running.
        EXPECT_EQ(RunToEnd(repair), 0u) << "the repair showed the notice again or failed";
    }
    if (!removal.empty()) {
        EXPECT_EQ(RunToEnd(removal), 0u) << "cannot undo the caller's run";
    }
}

std::string CallerName(const testing::TestParamInfo<Caller>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Callers, RecipeTest, testing::ValuesIn(CALLERS), CallerName);

}  // namespace
