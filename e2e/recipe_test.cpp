// The recipes of examples/, as the build made them, started through their
// own callers, and the quoting advice of the README, as rows of the same
// table: each caller must start notice.exe, which shows what the row meant,
// and wait for it; once OK is pressed, the caller's own check of notice.exe
// must pass and the caller end with status 0.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "e2e/e2e_support.h"

namespace {

// In a command line of the table, {recipe} stands for the recipe's path,
// quoted, and {folder} for its folder, ending in a backslash.
struct Caller {
    // cppcheck-suppress unusedStructMember ; it names the test, through gtest
    const char* name;
    const char* folder;  // under examples\ beside this program
    const char* file;    // the recipe in it
    const char* script;  // if set, the test writes it as the file first: a recipe of a README line
    const char* run;     // the command line that runs the recipe
    const char* text;
    const char* caption;
    const char* repair;   // if set, repairs what the run did: it must not show the notice again
    const char* removal;  // if set, undoes the run: run before and after
};

// In code page 1252; what the recipe gives as "café Ω ✓" ends the text.
#define NSIS_TEXT "Setup needs $20 of disk space.\nFree it on C:\\Temp, then retry.\nSee setup.log"
// The programs that start notice.exe themselves; they sit, with it, in a
// folder whose name has a blank.
const char RUNTIME_TEXT[] = "Setup needs 20 MB more, free it on C:\\Temp.\nSee setup.log";
const char BATCH[] = "Notice Example Batch";
// A batch file of one README line, between the lines that every batch file has.
#define BATCH_FILE(line) "@echo off\r\n" line "\r\nexit /b %errorlevel%\r\n"

const Caller CALLERS[] = {
    {"NsisAnsi", "nsis-ansi", "notice-setup.exe", nullptr, "{recipe} /S", NSIS_TEXT " (caf\xE9 ? ?)",
     "Notice Example Setup", nullptr, nullptr},
    {"NsisUnicode", "nsis-unicode", "notice-setup.exe", nullptr, "{recipe} /S", NSIS_TEXT " (caf\xE9 O ?)",
     "Notice Example Setup", nullptr, nullptr},
    {"Msi", "msi", "notice.msi", nullptr, "msiexec /i {recipe} /qn",
     "Notice Example needs [20 MB] more, free it on C:\\Temp.\nSee setup.log", "Notice Example Setup",
     "msiexec /i {recipe} REINSTALL=ALL REINSTALLMODE=omus /qn", "msiexec /x {recipe} /qn"},
    {"InnoSetup", "inno", "notice-setup.exe", nullptr,
     "{recipe} /VERYSILENT /SUPPRESSMSGBOXES \"/DIR={folder}installed\"",
     "Setup needs {20 MB} more.\nFree it on C:\\Temp, then retry.", "Notice Example Setup", nullptr,
     "\"{folder}installed\\unins000.exe\" /VERYSILENT /SUPPRESSMSGBOXES"},
    {"Batch", "batch", "notice.cmd", nullptr, "cmd.exe /c {recipe}",
     "Tom & Jerry: 100% done.\nSee C:\\Temp\\setup.log", BATCH, nullptr, nullptr},
    // A batch file waits for a GUI program without start, too.
    {"BatchPlainCall", "batch", "plain-call.cmd",
     BATCH_FILE("\"%~dp0notice.exe\" Cannot continue\\nSee setup.log,Notice Example Batch"),
     "cmd.exe /c {recipe}", "Cannot continue\nSee setup.log", BATCH, nullptr, nullptr},
    {"BatchCarets", "batch", "carets.cmd",
     BATCH_FILE("\"%~dp0notice.exe\" a ^| b ^< c ^> d ^^ e,Notice Example Batch"), "cmd.exe /c {recipe}",
     "a | b < c > d ^ e", BATCH, nullptr, nullptr},
    // The first bare comma ends the text, and the rest lands in the caption.
    {"BatchBareComma", "batch", "bare-comma.cmd",
     BATCH_FILE("\"%~dp0notice.exe\" Disk 95%% full, free space in C:"), "cmd.exe /c {recipe}",
     "Disk 95% full", " free space in C:", nullptr, nullptr},
    // start rebuilds the command line; the plain call keeps every blank and tab.
    {"BatchStartSqueezesBlanks", "batch", "start-blanks.cmd",
     BATCH_FILE("start \"\" /wait \"%~dp0notice.exe\" a  b   c\t\td,Notice Example Batch"),
     "cmd.exe /c {recipe}", "a b c d", BATCH, nullptr, nullptr},
    // Under delayed expansion a ! pairs with the next one, and Wine's cmd.exe
    // takes no escape for it: the call goes where delayed expansion is off.
    {"BatchDelayedExpansion", "batch", "delayed-expansion.cmd",
     BATCH_FILE("setlocal EnableDelayedExpansion\r\nsetlocal DisableDelayedExpansion\r\n"
                "\"%~dp0notice.exe\" Hello! World! 100%% done,Notice Example Batch\r\nendlocal"),
     "cmd.exe /c {recipe}", "Hello! World! 100% done", BATCH, nullptr, nullptr},
    // At cmd.exe /c a lone % pairs with the next one, and a variable's
    // backslashes are read as escapes.
    {"BatchCmdLonePercent", "batch", "notice.exe", nullptr,
     "cmd.exe /c \"{folder}notice.exe\" 100% done %windir%,Notice Example Batch", "100% done %windir%", BATCH,
     nullptr, nullptr},
    {"BatchCmdPathVariable", "batch", "notice.exe", nullptr,
     "cmd.exe /c \"{folder}notice.exe\" %windir%,Notice Example Batch", "C:windows", BATCH, nullptr, nullptr},
    {"Go", "go caller", "notice-caller.exe", nullptr, "{recipe}", RUNTIME_TEXT, "Notice Example Go", nullptr,
     nullptr},
    {"Rust", "rust caller", "notice-caller.exe", nullptr, "{recipe}", RUNTIME_TEXT, "Notice Example Rust",
     nullptr, nullptr},
    {"NodeJs", "node caller", "notice.js", nullptr, "\"{folder}node.exe\" {recipe}", RUNTIME_TEXT,
     "Notice Example Node.js", nullptr, nullptr},
};

// How long a caller that does not wait would take to end on its own.
constexpr DWORD CALLER_END_MS = 1000;

std::string FolderOf(const Caller& caller) {
    return ProgramFolder() + "examples\\" + caller.folder + "\\";
}

void Replace(std::string& text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

// One of the row's command lines, its {recipe} and {folder} filled in.
std::string CommandLine(const Caller& caller, const char* pattern) {
    std::string line = pattern;
    Replace(line, "{recipe}", "\"" + FolderOf(caller) + caller.file + "\"");
    Replace(line, "{folder}", FolderOf(caller));
    return line;
}

// Runs a caller to its end and returns its status; a notice.exe that it
// starts would wait for a click, and so fails the run.
DWORD RunToEnd(const std::string& commandLine) {
    const NoticeProcess caller("", commandLine);
    EXPECT_TRUE(caller.Started()) << commandLine << ": cannot start, error " << GetLastError();
    EXPECT_EQ(caller.WaitForNoticeStarted(CALLER_TIMEOUT_MS), nullptr)
        << commandLine << ": showed the notice";
    DWORD exitCode = 1;
    EXPECT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << commandLine << ": still running";
    return exitCode;
}

// What a run that failed before may have left behind: undone if it can be.
void UndoLeftovers(const std::string& removal) {
    const NoticeProcess undo("", removal);
    DWORD exitCode = 1;
    undo.WaitForExit(CALLER_TIMEOUT_MS, &exitCode);
}

void WriteScript(const Caller& caller) {
    std::ofstream file(FolderOf(caller) + caller.file, std::ios::binary);
    file << caller.script;
    ASSERT_TRUE(file.good()) << "cannot write " << caller.file;
}

class RecipeTest : public testing::TestWithParam<Caller> {};

TEST_P(RecipeTest, ShowsTheNoticeAndEndsWithStatusZero) {
    const Caller& recipe = GetParam();
    const std::string commandLine = CommandLine(recipe, recipe.run);
    SCOPED_TRACE(commandLine);
    if (recipe.script != nullptr) {
        WriteScript(recipe);
    }
    if (recipe.removal != nullptr) {
        UndoLeftovers(CommandLine(recipe, recipe.removal));
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
    if (recipe.repair != nullptr) {
        EXPECT_EQ(RunToEnd(CommandLine(recipe, recipe.repair)), 0u) << "the repair failed";
    }
    if (recipe.removal != nullptr) {
        EXPECT_EQ(RunToEnd(CommandLine(recipe, recipe.removal)), 0u) << "cannot undo the caller's run";
    }
}

std::string CallerName(const testing::TestParamInfo<Caller>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Callers, RecipeTest, testing::ValuesIn(CALLERS), CallerName);

}  // namespace
