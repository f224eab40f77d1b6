// Finds, reads and dismisses the message box of a running program, as a
// user would see and close it. Win32 only.
#ifndef NOTICE_E2E_BOX_READING_H
#define NOTICE_E2E_BOX_READING_H

#include <windows.h>

#include <string>
#include <vector>

#include "e2e/program_run.h"

// How long a box may take to appear, and to paint its icon.
constexpr DWORD BOX_TIMEOUT_MS = 20000;

// The run's visible message box, or nullptr if none appears in time or the program ends first.
HWND WaitForBox(const ProgramRun& run, DWORD timeoutMs);

struct BoxButton {
    int id;
    std::string text;
};

// What a message box shows, as read from its windows.
struct BoxView {
    std::string caption;
    std::string text;
    std::vector<BoxButton> buttons;
    bool hasErrorIcon = false;
    bool hasOwner = false;
    bool isTopmost = false;
};

BoxView ReadBox(HWND box);

enum class Dismissal { OkButton, EscapeKey, CloseCommand };
const char* DismissalName(Dismissal dismissal);
// Asks the box to close as a user would; returns false if the message could not be posted.
bool DismissBox(HWND box, Dismissal dismissal);

#endif  // NOTICE_E2E_BOX_READING_H
