// Finding, reading and dismissing the message box of a running notice.exe.
#include "e2e/box_reading.h"

namespace {

constexpr int MSGBOX_TEXT_ID = 0xFFFF;    // the box's static text control
// A box just brought to the top may not have painted yet, and a loaded
// machine paints late.
constexpr DWORD ICON_PAINT_ATTEMPTS = BOX_TIMEOUT_MS / POLL_INTERVAL_MS;
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
    for (DWORD attempt = 0; attempt < ICON_PAINT_ATTEMPTS; ++attempt) {
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

}  // namespace

HWND WaitForBox(const ProgramRun& run, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        BoxSearch search = {run.ProcessId(), nullptr};
        EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        if (!run.IsRunning() || GetTickCount64() >= deadline) {
            return nullptr;
        }
        Sleep(POLL_INTERVAL_MS);
    }
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
