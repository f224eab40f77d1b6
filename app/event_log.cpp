// Writes a notice that no box showed to the Application event log. The event
// log's calls live in advapi32.dll, which a shown box never needs: it is
// loaded here, on this path alone, so the program imports nothing more.
#include "app/event_log.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr char ADVAPI32_FILE[] = "\\advapi32.dll";
constexpr WORD NO_CATEGORY = 0;

const char* HeadlineOf(UNSHOWN why) {
    return why == UNSHOWN::NO_ONE_CAN_SEE ? NOTICE_EVENT_NO_ONE_CAN_SEE : NOTICE_EVENT_BOX_FAILED;
}

using REGISTER_EVENT_SOURCE_A = HANDLE(WINAPI*)(LPCSTR, LPCSTR);
using REPORT_EVENT_A = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID);
using DEREGISTER_EVENT_SOURCE = BOOL(WINAPI*)(HANDLE);

// The calls of advapi32.dll that writing one event takes; any may be null.
struct EVENT_LOG_CALLS {
    REGISTER_EVENT_SOURCE_A registerSource;
    REPORT_EVENT_A report;
    DEREGISTER_EVENT_SOURCE deregister;
};

template <typename FUNCTION>
FUNCTION ProcOf(HMODULE module, const char* pszName) {
    return reinterpret_cast<FUNCTION>(reinterpret_cast<void (*)()>(GetProcAddress(module, pszName)));
}

// By its full path, so that no folder but the system's is searched: Windows 7
// without its 2011 loader update refuses the flags that would say so.
HMODULE LoadAdvapi32() {
    char szPath[MAX_PATH] = {};
    const UINT cch = GetSystemDirectoryA(szPath, MAX_PATH);
    if (cch == 0 || cch + sizeof ADVAPI32_FILE > MAX_PATH) {
        return nullptr;
    }
    std::memcpy(szPath + cch, ADVAPI32_FILE, sizeof ADVAPI32_FILE);
    return LoadLibraryA(szPath);
}

// ReportEventA turns the strings into UTF-16 from the ANSI code page, as
// MessageBoxA would have done for the box.
void WriteEvent(const EVENT_LOG_CALLS& calls, LPCSTR* strings, WORD count) {
    const HANDLE source = calls.registerSource(nullptr, NOTICE_EVENT_SOURCE);
    if (source == nullptr) {
        return;
    }
    calls.report(source, EVENTLOG_ERROR_TYPE, NO_CATEGORY, NOTICE_EVENT_ID, nullptr, count, 0, strings,
                 nullptr);
    calls.deregister(source);
}

}  // namespace

void LogUnshownNotice(const NOTICE& notice, UNSHOWN why) {
    const HMODULE advapi32 = LoadAdvapi32();
    if (advapi32 == nullptr) {
        return;
    }
    const EVENT_LOG_CALLS calls = {
        ProcOf<REGISTER_EVENT_SOURCE_A>(advapi32, "RegisterEventSourceA"),
        ProcOf<REPORT_EVENT_A>(advapi32, "ReportEventA"),
        ProcOf<DEREGISTER_EVENT_SOURCE>(advapi32, "DeregisterEventSource"),
    };
    if (calls.registerSource != nullptr && calls.report != nullptr && calls.deregister != nullptr) {
        LPCSTR strings[] = {HeadlineOf(why), notice.szCaption, notice.szText};
        WriteEvent(calls, strings, static_cast<WORD>(sizeof strings / sizeof strings[0]));
    }
    FreeLibrary(advapi32);
}
