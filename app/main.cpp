// The program's entry: cuts the tail from the command line, shows it as an
// error box, and ends with status 0 however the box is dismissed. A notice
// that no box showed goes to the event log instead.
#include <windows.h>

#include "app/box_audience.h"
#include "app/command_tail.h"
#include "app/event_log.h"
#include "notice/notice.h"

namespace {

// A DLL planted beside the program, say in a Downloads folder, must never be
// loaded: from here on only the system folder is searched. Looked up at run
// time because Windows 7 without its 2011 loader update lacks the call; there
// the program simply goes on.
void RestrictDllSearchToSystemFolder() {
    using SET_DEFAULT_DLL_DIRECTORIES = BOOL(WINAPI*)(DWORD);
    const FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (proc != nullptr) {
        reinterpret_cast<SET_DEFAULT_DLL_DIRECTORIES>(reinterpret_cast<void (*)()>(proc))(
            LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

// The ANSI code page's facts; no lead bytes if the platform cannot tell.
CPINFO GetAnsiCodePageInfo() {
    CPINFO info = {};
    if (!GetCPInfo(GetACP(), &info)) {
        info = {};
    }
    return info;
}

ANSWER AnswerOf(bool known, bool yes) {
    if (!known) {
        return ANSWER::UNKNOWN;
    }
    return yes ? ANSWER::YES : ANSWER::NO;
}

ANSWER IsWindowStationVisible() {
    USEROBJECTFLAGS flags = {};
    DWORD cbNeeded = 0;
    const HWINSTA station = GetProcessWindowStation();
    const bool known =
        station != nullptr && GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &cbNeeded);
    return AnswerOf(known, (flags.dwFlags & WSF_VISIBLE) != 0);
}

ANSWER IsSessionZero() {
    DWORD sessionId = 0;
    const bool known = ProcessIdToSessionId(GetCurrentProcessId(), &sessionId);
    return AnswerOf(known, sessionId == 0);
}

// The manifest declares the Windows versions, so the answer is the true one.
ANSWER IsVistaOrLater() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    const bool known = GetVersionExA(&version);
    return AnswerOf(known, version.dwMajorVersion >= 6);
}

}  // namespace

// The start-up's own tail argument is ignored: start-ups differ in how they
// treat quotes, and the tail must be cut by one rule everywhere.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*startupTail*/, int /*show*/) {
    RestrictDllSearchToSystemFolder();

    // LeadByte has the very layout that GetCommandTail reads.
    const CPINFO codePage = GetAnsiCodePageInfo();
    NOTICE notice = {};
    BuildNotice(GetCommandTail(GetCommandLineA(), codePage.LeadByte), &notice);

    // How the box was closed changes nothing. A box that no user can ever see
    // is not made at all: it would never be dismissed, and whoever waits for
    // this program would hang with it. Either way a notice that no box showed
    // is kept in the event log, and the run still ends with status 0. A box
    // that could not be shown gives 0 on Windows, and under Wine -1, what a
    // dialog that could not be made gives; a dismissed one gives its button.
    if (NoUserCanSeeBox({IsWindowStationVisible(), IsSessionZero(), IsVistaOrLater()})) {
        LogUnshownNotice(notice, UNSHOWN::NO_ONE_CAN_SEE);
    } else if (MessageBoxA(nullptr, notice.szText, notice.szCaption, MB_OK | MB_ICONERROR) <= 0) {
        LogUnshownNotice(notice, UNSHOWN::BOX_FAILED);
    }
    return 0;
}
