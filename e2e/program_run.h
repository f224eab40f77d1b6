// Starts a Windows program with an exact command line and follows it: its
// end, and the notice.exe that it starts. Win32 only.
#ifndef NOTICE_E2E_PROGRAM_RUN_H
#define NOTICE_E2E_PROGRAM_RUN_H

#include <windows.h>

#include <memory>
#include <string>

// How often a wait looks again.
constexpr DWORD POLL_INTERVAL_MS = 50;
// How long a program that has nothing left to wait for may take to end.
constexpr DWORD EXIT_TIMEOUT_MS = 20000;

// The folder of the running program, ending in a backslash; the build puts
// notice.exe, examples\ and planted\ there.
std::string ProgramFolder();
// notice.exe in the folder of the running program.
std::string NoticeProgramPath();

// One run of a program: notice.exe, or a caller of it such as cmd.exe,
// msiexec or an installer. A run that is still going when it is destroyed
// is ended, so that a failed case leaves no box behind.
class ProgramRun {
   public:
    // Starts the program with commandLine exactly as given, program name included,
    // on the desktop named station\desktop, or on the caller's if none is named.
    // An empty programPath finds the program by the command line's first word.
    ProgramRun(const std::string& programPath, const std::string& commandLine, const char* pszDesktop = nullptr);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Started() const {
        return info_.hProcess != nullptr;
    }
    DWORD ProcessId() const {
        return info_.dwProcessId;
    }
    // Started and not yet ended.
    bool IsRunning() const;
    // The exit status, or nothing if the process has not ended in time.
    bool WaitForExit(DWORD timeoutMs, DWORD* pExitCode) const;
    // The notice.exe that this program, or any program that it started,
    // started; nullptr if none appears in time.
    std::unique_ptr<ProgramRun> WaitForNoticeStarted(DWORD timeoutMs) const;

   private:
    explicit ProgramRun(DWORD processId);  // takes hold of a running process

    PROCESS_INFORMATION info_ = {};
};

#endif  // NOTICE_E2E_PROGRAM_RUN_H
