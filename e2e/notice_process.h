// Starts notice.exe with an exact command line and reads back its box, so
// that tests and scripts see what a user would see. Win32 only.
#ifndef NOTICE_E2E_NOTICE_PROCESS_H
#define NOTICE_E2E_NOTICE_PROCESS_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// How often a wait looks again.
constexpr DWORD NOTICE_POLL_INTERVAL_MS = 50;

// The folder of the running program, ending in a backslash; the build puts
// notice.exe, examples\ and planted\ there.
std::string ProgramFolder();
// notice.exe in the folder of the running program.
std::string NoticeProgramPath();

class NoticeProcess {
   public:
    // Starts the program with commandLine exactly as given, program name included,
    // on the desktop named station\desktop, or on the caller's if none is named.
    // An empty programPath finds the program by the command line's first word.
    NoticeProcess(const std::string& programPath, const std::string& commandLine,
                  const char* pszDesktop = nullptr);
    ~NoticeProcess();
    NoticeProcess(const NoticeProcess&) = delete;
    NoticeProcess& operator=(const NoticeProcess&) = delete;

    bool Started() const {
        return info_.hProcess != nullptr;
    }
    // The process's visible message box, or nullptr if none appears in time or the process ends first.
    HWND WaitForBox(DWORD timeoutMs) const;
    // The exit status, or nothing if the process has not ended in time.
    bool WaitForExit(DWORD timeoutMs, DWORD* pExitCode) const;
    // The notice.exe that this process, or any process that it started,
    // started; nullptr if none appears in time.
    std::unique_ptr<NoticeProcess> WaitForNoticeStarted(DWORD timeoutMs) const;

   private:
    explicit NoticeProcess(DWORD processId);  // takes hold of a running process

    PROCESS_INFORMATION info_ = {};
};

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

#endif  // NOTICE_E2E_NOTICE_PROCESS_H
