// The program's entry: cuts the tail from the command line, shows it as an
// error box, and ends with status 0 however the box is dismissed.
#include <windows.h>

#include "app/command_tail.h"
#include "notice/notice.h"

namespace {

// The ANSI code page's lead bytes; none if the platform cannot tell.
void GetAnsiLeadBytes(LEAD_BYTE_RANGES& leadBytes) {
    CPINFO info = {};
    if (GetCPInfo(GetACP(), &info)) {
        static_assert(sizeof info.LeadByte == sizeof leadBytes, "GetCPInfo reports MAX_LEADBYTES");
        CopyMemory(leadBytes, info.LeadByte, sizeof leadBytes);
    }
}

}  // namespace

// The start-up's own tail argument is ignored: start-ups differ in how they
// treat quotes, and the tail must be cut by one rule everywhere.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LEAD_BYTE_RANGES leadBytes = {};
    GetAnsiLeadBytes(leadBytes);

    NOTICE notice;
    BuildNotice(GetCommandTail(GetCommandLineA(), leadBytes), &notice);

    // Whether the box could be shown, and how it was closed, changes nothing.
    MessageBoxA(nullptr, notice.szText, notice.szCaption, MB_OK | MB_ICONERROR);
    return 0;
}
