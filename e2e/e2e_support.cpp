// The rows and box expectations that the end-to-end test programs share.
#include "e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

constexpr std::size_t MAX_SHOWN_LENGTH = 80;
// How long a caller that does not wait would take to end on its own.
constexpr DWORD CALLER_END_MS = 1000;

}  // namespace

std::string Describe(const BoxRow& row) {
    std::string printable;
    for (char c : row.commandLine) {
        const auto b = static_cast<unsigned char>(c);
        char szHex[8];
        snprintf(szHex, sizeof szHex, "\\x%02X", b);
        printable += (b >= 0x20 && b < 0x7F) ? std::string(1, c) : szHex;
    }
    if (printable.size() > MAX_SHOWN_LENGTH) {
        printable.resize(MAX_SHOWN_LENGTH);
        printable += "... (" + std::to_string(row.commandLine.size()) + " bytes)";
    }
    return "command line <" + printable + ">, dismissed by " + DismissalName(row.dismissal);
}

void ExpectBoxMatches(HWND box, const BoxRow& row) {
    const BoxView view = ReadBox(box);
    EXPECT_EQ(view.text, row.text);
    EXPECT_EQ(view.caption, row.caption);
    ASSERT_EQ(view.buttons.size(), 1u);
    EXPECT_EQ(view.buttons[0].id, IDOK);
    EXPECT_EQ(view.buttons[0].text, "OK");
    EXPECT_TRUE(view.hasErrorIcon);
    EXPECT_FALSE(view.hasOwner);
    EXPECT_FALSE(view.isTopmost);
}

// Every row is started first: a process that showed a window takes a while to
// end, so the rows overlap instead of waiting on one another.
void RunRows(const std::vector<BoxRow>& rows, const std::string& program) {
    std::vector<std::unique_ptr<ProgramRun>> processes;
    processes.reserve(rows.size());
    for (const BoxRow& row : rows) {
        processes.push_back(std::make_unique<ProgramRun>(program, row.commandLine));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + Describe(rows[i]));
        ASSERT_TRUE(processes[i]->Started()) << "cannot start " << program << ", error " << GetLastError();
        const HWND box = WaitForBox(*processes[i], BOX_TIMEOUT_MS);
        ASSERT_NE(box, nullptr) << "no box appeared";
        ExpectBoxMatches(box, rows[i]);
        EXPECT_TRUE(DismissBox(box, rows[i].dismissal));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + Describe(rows[i]));
        DWORD exitCode = 1;
        ASSERT_TRUE(processes[i]->WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << "still running";
        EXPECT_EQ(exitCode, 0u);
    }
}

void ExpectCallerShowsBox(const ProgramRun& caller, const BoxRow& row) {
    ASSERT_TRUE(caller.Started()) << "cannot start the caller, error " << GetLastError();
    const std::unique_ptr<ProgramRun> notice = caller.WaitForNoticeStarted(CALLER_TIMEOUT_MS);
    ASSERT_NE(notice, nullptr) << "the caller started no notice.exe";
    const HWND box = WaitForBox(*notice, BOX_TIMEOUT_MS);
    ASSERT_NE(box, nullptr) << "no box appeared";
    ExpectBoxMatches(box, row);
    DWORD exitCode = 1;
    EXPECT_FALSE(caller.WaitForExit(CALLER_END_MS, &exitCode)) << "the caller did not wait for notice.exe";
    EXPECT_TRUE(DismissBox(box, Dismissal::OkButton));
    ASSERT_TRUE(caller.WaitForExit(CALLER_TIMEOUT_MS, &exitCode)) << "the caller is still running";
    EXPECT_EQ(exitCode, 0u) << "the caller's check of notice.exe failed";
}

bool WriteWholeFile(const std::string& path, const std::string& contents) {
    std::ofstream file(path, std::ios::binary);
    file << contents;
    return file.good();
}
