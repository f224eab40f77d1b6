// The recipes of examples/, as the build made them, started through their
// own callers, and the quoting advice of the README, as rows of the same
// table: each caller must start notice.exe, which shows what the row meant,
// and wait for it; once OK is pressed, the caller's own check of notice.exe
// must pass and the caller end with status 0. A row of advice against a
// mistake shows what the mistake does: no notice, and the status it ends with.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

// A code block of the README that shows a recipe: each of its lines must be
// a line of the recipe's source, in the same order.
struct ReadmeBlock {
    const char* language;  // the block's, after its ```
    const char* source;    // the recipe's source in the row's folder
};

// In a command line of the table, {recipe} stands for the recipe's path,
// quoted, and {folder} for its folder, ending in a backslash.
struct Caller {
    // cppcheck-suppress unusedStructMember ; it names the test, through gtest
    const char* name;
    const char* folder;  // under examples\ beside this program
    const char* file;    // the recipe in it
    // If set, the test first writes the recipe as a batch file of these
    // lines, as the README gives them, between the lines that every batch
    // file has.
    const char* batchLines = nullptr;
    const char* run;  // the command line that runs the recipe
    const char* text = nullptr;  // what the box shows; nullptr where the caller shows no notice
    const char* caption = nullptr;
    DWORD status = 0;  // how a caller that shows no notice ends
    const char* repair = nullptr;   // if set, repairs what the run did: it must not show the notice again
    const char* removal = nullptr;  // if set, undoes the run: run before and after
    ReadmeBlock readme = {};        // if set, the README's block of the recipe
};

// The programs that start notice.exe themselves; they sit, with it, in a
// folder whose name has a blank.
const char RUNTIME_TEXT[] = "Setup needs 20 MB more, free it on C:\\Temp.\nSee setup.log";
const char BATCH[] = "Notice Example Batch";

const Caller CALLERS[] = {
    // In code page 1252; what the recipe gives as "café Ω ✓" ends the text.
    {.name = "NsisAnsi", .folder = "nsis-ansi", .file = "notice-setup.exe", .run = "{recipe} /S",
     .text = "Setup needs $20 of disk space.\nFree it on C:\\Temp, then retry.\nSee setup.log (caf\xE9 ? ?)",
     .caption = "Notice Example Setup", .readme = {"nsis", "notice.nsi"}},
    {.name = "NsisUnicode", .folder = "nsis-unicode", .file = "notice-setup.exe", .run = "{recipe} /S",
     .text = "Setup needs $20 of disk space.\nFree it on C:\\Temp, then retry.\nSee setup.log (caf\xE9 O ?)",
     .caption = "Notice Example Setup"},
    {.name = "Msi", .folder = "msi", .file = "notice.msi", .run = "msiexec /i {recipe} /qn",
     .text = "Notice Example needs [20 MB] more, free it on C:\\Temp.\nSee setup.log",
     .caption = "Notice Example Setup",
     .repair = "msiexec /i {recipe} REINSTALL=ALL REINSTALLMODE=omus /qn",
     .removal = "msiexec /x {recipe} /qn"},
    {.name = "InnoSetup", .folder = "inno", .file = "notice-setup.exe",
     .run = "{recipe} /VERYSILENT /SUPPRESSMSGBOXES \"/DIR={folder}installed\"",
     .text = "Setup needs {20 MB} more.\nFree it on C:\\Temp, then retry.", .caption = "Notice Example Setup",
     .removal = "\"{folder}installed\\unins000.exe\" /VERYSILENT /SUPPRESSMSGBOXES",
     .readme = {"pascal", "notice.iss"}},
    {.name = "Batch", .folder = "batch", .file = "notice.cmd", .run = "cmd.exe /c {recipe}",
     .text = "Tom & Jerry: 100% done.\nSee C:\\Temp\\setup.log", .caption = BATCH},
    // A batch file waits for a GUI program without start, too.
    {.name = "BatchPlainCall", .folder = "batch", .file = "plain-call.cmd",
     .batchLines = "\"%~dp0notice.exe\" Cannot continue\\nSee setup.log,Notice Example Batch",
     .run = "cmd.exe /c {recipe}", .text = "Cannot continue\nSee setup.log", .caption = BATCH},
    {.name = "BatchPlainCallKeepsBlanks", .folder = "batch", .file = "plain-blanks.cmd",
     .batchLines = "\"%~dp0notice.exe\" a  b   c\t\td,Notice Example Batch", .run = "cmd.exe /c {recipe}",
     .text = "a  b   c\t\td", .caption = BATCH},
    // Double quotes around the tail are shown in the box.
    {.name = "BatchQuotedTail", .folder = "batch", .file = "quoted-tail.cmd",
     .batchLines = "\"%~dp0notice.exe\" \"Disk full,Setup\"", .run = "cmd.exe /c {recipe}",
     .text = "\"Disk full", .caption = "Setup\""},
    // Without the "" title, start takes the quoted program path for the title
    // and fails to find the program "Cannot": no notice, and the batch file
    // ends with status 1.
    {.name = "BatchStartWithoutTitle", .folder = "batch", .file = "start-without-title.cmd",
     .batchLines = "start /wait \"%~dp0notice.exe\" Cannot continue,Notice Example Batch",
     .run = "cmd.exe /c {recipe}", .status = 1},
    {.name = "BatchCarets", .folder = "batch", .file = "carets.cmd",
     .batchLines = "\"%~dp0notice.exe\" a ^| b ^< c ^> d ^^ e,Notice Example Batch",
     .run = "cmd.exe /c {recipe}", .text = "a | b < c > d ^ e", .caption = BATCH},
    // The first bare comma ends the text, and the rest lands in the caption.
    {.name = "BatchBareComma", .folder = "batch", .file = "bare-comma.cmd",
     .batchLines = "\"%~dp0notice.exe\" Disk 95%% full, free space in C:", .run = "cmd.exe /c {recipe}",
     .text = "Disk 95% full", .caption = " free space in C:"},
    // start rebuilds the command line; the plain call keeps every blank and tab.
    {.name = "BatchStartSqueezesBlanks", .folder = "batch", .file = "start-blanks.cmd",
     .batchLines = "start \"\" /wait \"%~dp0notice.exe\" a  b   c\t\td,Notice Example Batch",
     .run = "cmd.exe /c {recipe}", .text = "a b c d", .caption = BATCH},
    // Under delayed expansion a ! pairs with the next one, and Wine's cmd.exe
    // takes no escape for it: the call goes where delayed expansion is off.
    {.name = "BatchDelayedExpansion", .folder = "batch", .file = "delayed-expansion.cmd",
     .batchLines = "setlocal EnableDelayedExpansion\r\nsetlocal DisableDelayedExpansion\r\n"
                   "\"%~dp0notice.exe\" Hello! World! 100%% done,Notice Example Batch\r\nendlocal",
     .run = "cmd.exe /c {recipe}", .text = "Hello! World! 100% done", .caption = BATCH},
    // Where delayed expansion is on, neither ^! nor ^^! escapes a ! in Wine's
    // cmd.exe: each pair of them vanishes with what lies between.
    {.name = "BatchDelayedExpansionTakesNoCaret", .folder = "batch", .file = "delayed-carets.cmd",
     .batchLines = "setlocal EnableDelayedExpansion\r\n"
                   "\"%~dp0notice.exe\" One^! Two^^! Three^! Four^^! Five,Notice Example Batch\r\nendlocal",
     .run = "cmd.exe /c {recipe}", .text = "One Three Five", .caption = BATCH},
    // At cmd.exe /c a lone % pairs with the next one, and a variable's
    // backslashes are read as escapes.
    {.name = "BatchCmdLonePercent", .folder = "batch", .file = "notice.exe",
     .run = "cmd.exe /c \"{folder}notice.exe\" 100% done %windir%,Notice Example Batch",
     .text = "100% done %windir%", .caption = BATCH},
    {.name = "BatchCmdPathVariable", .folder = "batch", .file = "notice.exe",
     .run = "cmd.exe /c \"{folder}notice.exe\" %windir%,Notice Example Batch", .text = "C:windows",
     .caption = BATCH},
    {.name = "Go", .folder = "go caller", .file = "notice-caller.exe", .run = "{recipe}", .text = RUNTIME_TEXT,
     .caption = "Notice Example Go"},
    {.name = "Rust", .folder = "rust caller", .file = "notice-caller.exe", .run = "{recipe}",
     .text = RUNTIME_TEXT, .caption = "Notice Example Rust"},
    {.name = "NodeJs", .folder = "node caller", .file = "notice.js", .run = "\"{folder}node.exe\" {recipe}",
     .text = RUNTIME_TEXT, .caption = "Notice Example Node.js"},
};

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
    const ProgramRun caller("", commandLine);
    EXPECT_TRUE(caller.Started()) << commandLine << ": cannot start, error " << GetLastError();
    EXPECT_EQ(caller.WaitForNoticeStarted(CALLER_TIMEOUT_MS), nullptr)
        << commandLine << ": showed the notice";
    DWORD exitCode = 1;
    EXPECT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << commandLine << ": still running";
    return exitCode;
}

// What a run that failed before may have left behind: undone if it can be.
void UndoLeftovers(const std::string& removal) {
    const ProgramRun undo("", removal);
    DWORD exitCode = 1;
    undo.WaitForExit(CALLER_TIMEOUT_MS, &exitCode);
}

std::string Trimmed(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    const std::size_t last = line.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : line.substr(first, last - first + 1);
}

// The lines of the file, trimmed; nothing if it cannot be read.
std::vector<std::string> TrimmedLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(Trimmed(line));
    }
    return lines;
}

// The lines of the README's first code block in the language, trimmed.
std::vector<std::string> ReadmeBlockLines(const char* language) {
    const std::vector<std::string> readme = TrimmedLines(ProgramFolder() + "examples\\README.md");
    const auto start = std::find(readme.begin(), readme.end(), std::string("```") + language);
    const auto end = std::find(start, readme.end(), "```");
    return start == readme.end() ? std::vector<std::string>{} : std::vector<std::string>(start + 1, end);
}

// The README shows the recipe's own lines, so that what a reader copies is what the tests run.
void ExpectReadmeShowsTheRecipe(const Caller& caller) {
    const std::vector<std::string> block = ReadmeBlockLines(caller.readme.language);
    ASSERT_FALSE(block.empty()) << "the README has no " << caller.readme.language << " block";
    const std::vector<std::string> recipe = TrimmedLines(FolderOf(caller) + caller.readme.source);
    auto next = recipe.begin();
    for (const std::string& line : block) {
        if (line.empty()) {
            continue;
        }
        const auto found = std::find(next, recipe.end(), line);
        ASSERT_TRUE(found != recipe.end())
            << "the README's line <" << line << "> is no later line of " << caller.readme.source;
        next = found + 1;
    }
}

void WriteBatchFile(const Caller& caller) {
    const std::string script = std::string("@echo off\r\n") + caller.batchLines + "\r\nexit /b %errorlevel%\r\n";
    ASSERT_TRUE(WriteWholeFile(FolderOf(caller) + caller.file, script)) << "cannot write " << caller.file;
}

class RecipeTest : public testing::TestWithParam<Caller> {};

TEST_P(RecipeTest, EndsAsTheRowSays) {
    const Caller& recipe = GetParam();
    const std::string commandLine = CommandLine(recipe, recipe.run);
    SCOPED_TRACE(commandLine);
    if (recipe.readme.language != nullptr) {
        ExpectReadmeShowsTheRecipe(recipe);
    }
    if (recipe.batchLines != nullptr) {
        WriteBatchFile(recipe);
    }
    if (recipe.removal != nullptr) {
        UndoLeftovers(CommandLine(recipe, recipe.removal));
    }
    if (recipe.text == nullptr) {
        EXPECT_EQ(RunToEnd(commandLine), recipe.status);
        return;
    }
    const ProgramRun caller("", commandLine);
    ExpectCallerShowsBox(caller, {commandLine, recipe.text, recipe.caption});
    if (recipe.repair != nullptr) {
        EXPECT_EQ(RunToEnd(CommandLine(recipe, recipe.repair)), 0u) << "the repair failed";
    }
    if (recipe.removal != nullptr) {
        EXPECT_EQ(RunToEnd(CommandLine(recipe, recipe.removal)), 0u) << "cannot undo the caller's run";
    }
}

// A failing row is named, not dumped as bytes.
void PrintTo(const Caller& caller, std::ostream* os) {
    *os << caller.name;
}

std::string CallerName(const testing::TestParamInfo<Caller>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Callers, RecipeTest, testing::ValuesIn(CALLERS), CallerName);

}  // namespace
