// Win32 plumbing for following a program from outside: start it, find the
// notice.exe that it started, wait for its end.
#include "e2e/program_run.h"

#include <tlhelp32.h>

#include <map>
#include <vector>

namespace {

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

ProgramRun::ProgramRun(const std::string& programPath, const std::string& commandLine,
                             const char* pszDesktop) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string desktop = pszDesktop != nullptr ? pszDesktop : "";
    startup.lpDesktop = pszDesktop != nullptr ? desktop.data() : nullptr;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // The program path is given apart, so the command line may be anything at all.
    const char* pszProgram = programPath.empty() ? nullptr : programPath.c_str();
    // Wine on a loaded machine now and then fails a start with an internal
    // error that the same start a moment later does not give: one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateProcessA(pszProgram, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info_)) {
            return;
        }
        info_ = {};
        if (GetLastError() != ERROR_INTERNAL_ERROR) {
            return;
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

ProgramRun::ProgramRun(DWORD processId) {
    info_.hProcess =
        OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    info_.dwProcessId = processId;
}

ProgramRun::~ProgramRun() {
    if (!Started()) {
        return;
    }
    // A case that failed must not leave its box behind.
    if (IsRunning()) {
        TerminateProcess(info_.hProcess, 1);
    }
    if (info_.hThread != nullptr) {
        CloseHandle(info_.hThread);
    }
    CloseHandle(info_.hProcess);
}

bool ProgramRun::IsRunning() const {
    return Started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool ProgramRun::WaitForExit(DWORD timeoutMs, DWORD* pExitCode) const {
    return Started() && WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(info_.hProcess, pExitCode);
}

std::unique_ptr<ProgramRun> ProgramRun::WaitForNoticeStarted(DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (Started() && GetTickCount64() < deadline) {
        const DWORD noticeId = FindNoticeStartedBy(info_.dwProcessId);
        if (noticeId != 0) {
            std::unique_ptr<ProgramRun> notice(new ProgramRun(noticeId));
            return notice->Started() ? std::move(notice) : nullptr;
        }
        if (WaitForSingleObject(info_.hProcess, POLL_INTERVAL_MS) != WAIT_TIMEOUT) {
            return nullptr;
        }
    }
    return nullptr;
}
