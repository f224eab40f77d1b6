// Win32 plumbing for driving notice.exe from outside: start, find, read, dismiss.
#include "e2e/notice_process.h"

#include <tlhelp32.h>

#include <map>

namespace {

constexpr DWORD POLL_INTERVAL_MS = 50;
constexpr int MSGBOX_TEXT_ID = 0xFFFF;         // the box's static text control
constexpr int ICON_PAINT_ATTEMPTS = 100;       // 5 s: a box just brought to the top may not have painted yet
constexpr double ERROR_ICON_RED_SHARE = 0.25;  // the red disc fills well over half of the icon

std::string ClassNameOf(HWND window) {
    char szClass[64] = {};
    GetClassNameA(window, szClass, sizeof szClass);
    return szClass;
}

std::string WindowTextOf(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    const int cch = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(cch > 0 ? cch : 0));
    return text;
}

bool IsRed(COLORREF color) {
    return GetRValue(color) >= 160 && GetGValue(color) < 110 && GetBValue(color) < 110;
}

// Share of clearly red pixels that the screen shows inside the window.
double RedShareOnScreen(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    const HDC screen = GetDC(nullptr);
    int red = 0;
    int all = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        for (LONG x = rect.left; x < rect.right; ++x) {
            red += IsRed(GetPixel(screen, x, y)) ? 1 : 0;
            ++all;
        }
    }
    ReleaseDC(nullptr, screen);
    return all > 0 ? static_cast<double>(red) / all : 0.0;
}

// Icon handles cannot be read across processes on every platform, so the
// icon is judged by what the screen shows: of the standard box icons only the
// error icon is mostly red (warning is yellow, information and question blue).
bool ShowsErrorIcon(HWND iconControl) {
    const HWND box = GetParent(iconControl);
    for (int attempt = 0; attempt < ICON_PAINT_ATTEMPTS; ++attempt) {
        // Boxes of other cases, started alongside, may still pop up over this one.
        SetForegroundWindow(box);
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(POLL_INTERVAL_MS);
        if (RedShareOnScreen(iconControl) >= ERROR_ICON_RED_SHARE) {
            return true;
        }
    }
    return false;
}

struct BoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchBox(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<BoxSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window) && ClassNameOf(window) == "#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
    auto* view = reinterpret_cast<BoxView*>(lParam);
    if (!IsWindowVisible(child)) {
        return TRUE;
    }
    const std::string className = ClassNameOf(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (className == "Button") {
        view->buttons.push_back({GetDlgCtrlID(child), WindowTextOf(child)});
    } else if (className == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
        view->hasErrorIcon = view->hasErrorIcon || ShowsErrorIcon(child);
    }
    return TRUE;
}

// Every running process's parent, and which of them are notice.exe.
struct ProcessTree {
    std::map<DWORD, DWORD> parents;
    std::vector<DWORD> notices;
};

ProcessTree ListProcesses() {
    ProcessTree tree;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return tree;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        tree.parents[entry.th32ProcessID] = entry.th32ParentProcessID;
        if (lstrcmpiA(entry.szExeFile, "notice.exe") == 0) {
            tree.notices.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return tree;
}

constexpr int MAX_ANCESTRY = 16;  // a parent id may be reused and lead in circles

bool DescendsFrom(DWORD processId, DWORD ancestorId, const std::map<DWORD, DWORD>& parents) {
    for (int depth = 0; depth < MAX_ANCESTRY; ++depth) {
        const auto found = parents.find(processId);
        if (found == parents.end()) {
            return false;
        }
        processId = found->second;
        if (processId == ancestorId) {
            return true;
        }
    }
    return false;
}

DWORD FindNoticeStartedBy(DWORD ancestorId) {
    const ProcessTree tree = ListProcesses();
    for (const DWORD noticeId : tree.notices) {
        if (DescendsFrom(noticeId, ancestorId, tree.parents)) {
            return noticeId;
        }
    }
    return 0;
}

}  // namespace

std::string ProgramFolder() {
    char szPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    const std::string path(szPath, cch);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string NoticeProgramPath() {
    return ProgramFolder() + "notice.exe";
}

NoticeProcess::NoticeProcess(const std::string& programPath, const std::string& commandLine,
                             const char* pszDesktop) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string desktop = pszDesktop != nullptr ? pszDesktop : "";
    startup.lpDesktop = pszDesktop != nullptr ? desktop.data() : nullptr;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // The program path is given apart, so the command line may be anything at all.
    const char* pszProgram = programPath.empty() ? nullptr : programPath.c_str();
    if (!CreateProcessA(pszProgram, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info_)) {
        info_ = {};
    }
}

NoticeProcess::NoticeProcess(DWORD processId) {
    info_.hProcess =
        OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    info_.dwProcessId = processId;
}

NoticeProcess::~NoticeProcess() {
    if (!Started()) {
        return;
    }
    // A case that failed must not leave its box behind.
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
    }
    if (info_.hThread != nullptr) {
        CloseHandle(info_.hThread);
    }
    CloseHandle(info_.hProcess);
}

HWND NoticeProcess::WaitForBox(DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        BoxSearch search = {info_.dwProcessId, nullptr};
        EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        if (!Started() || WaitForSingleObject(info_.hProcess, 0) != WAIT_TIMEOUT ||
            GetTickCount64() >= deadline) {
            return nullptr;
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

bool NoticeProcess::WaitForExit(DWORD timeoutMs, DWORD* pExitCode) const {
    return Started() && WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(info_.hProcess, pExitCode);
}

std::unique_ptr<NoticeProcess> NoticeProcess::WaitForNoticeStarted(DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (Started() && GetTickCount64() < deadline) {
        const DWORD noticeId = FindNoticeStartedBy(info_.dwProcessId);
        if (noticeId != 0) {
            std::unique_ptr<NoticeProcess> notice(new NoticeProcess(noticeId));
            return notice->Started() ? std::move(notice) : nullptr;
        }
        if (WaitForSingleObject(info_.hProcess, POLL_INTERVAL_MS) != WAIT_TIMEOUT) {
            return nullptr;
        }
    }
    return nullptr;
}

BoxView ReadBox(HWND box) {
    BoxView view;
    view.caption = WindowTextOf(box);
    view.text = WindowTextOf(GetDlgItem(box, MSGBOX_TEXT_ID));
    view.hasOwner = GetWindow(box, GW_OWNER) != nullptr;
    view.isTopmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&view));
    return view;
}

const char* DismissalName(Dismissal dismissal) {
    switch (dismissal) {
        case Dismissal::OkButton: return "OK button";
        case Dismissal::EscapeKey: return "Escape key";
        case Dismissal::CloseCommand: return "close command";
    }
    return "?";
}

bool DismissBox(HWND box, Dismissal dismissal) {
    switch (dismissal) {
        case Dismissal::OkButton: return PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        // Keys reach the focused control and the box's own loop turns Escape into Cancel.
        case Dismissal::EscapeKey: return PostMessageA(GetDlgItem(box, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        case Dismissal::CloseCommand: return PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    return false;
}
