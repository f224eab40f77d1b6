// What the end-to-end test programs share: the rows that start
// notice.exe with exact command lines, and what every box must look like.
#ifndef NOTICE_E2E_E2E_SUPPORT_H
#define NOTICE_E2E_E2E_SUPPORT_H

#include <string>
#include <vector>

#include "e2e/box_reading.h"

constexpr DWORD CALLER_TIMEOUT_MS = 60000;  // installers take their time under Wine

// One start of notice.exe: the whole command line, and the box it must show.
struct BoxRow {
    std::string commandLine;
    std::string text;
    std::string caption;
    Dismissal dismissal = Dismissal::OkButton;
};

// The row as a failure message shows it: control bytes escaped, long lines cut.
std::string Describe(const BoxRow& row);

// The box shows the row's text and caption, one OK button and the error
// icon, with no owner and not topmost.
void ExpectBoxMatches(HWND box, const BoxRow& row);

// Starts the program (notice.exe) for every row at once, then checks and
// dismisses each box in turn and expects every process to end with status 0.
void RunRows(const std::vector<BoxRow>& rows, const std::string& program = NoticeProgramPath());

// The notice.exe that a caller starts shows the row's box, and the caller
// waits for it; once OK is pressed, the caller ends with status 0.
void ExpectCallerShowsBox(const ProgramRun& caller, const BoxRow& row);

// Writes the file whole, byte for byte; false if it cannot.
bool WriteWholeFile(const std::string& path, const std::string& contents);

#endif  // NOTICE_E2E_E2E_SUPPORT_H
