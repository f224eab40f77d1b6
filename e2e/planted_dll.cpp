// A stand-in for uxtheme.dll, planted beside a program: when any process
// loads it, it leaves the file "planted-dll-loaded" beside itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    char szPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameA(instance, szPath, MAX_PATH);
    char* pszName = szPath + cch;
    while (pszName > szPath && pszName[-1] != '\\') {
        --pszName;
    }
    const char MARKER[] = "planted-dll-loaded";
    if (cch == 0 || static_cast<size_t>(pszName - szPath) + sizeof MARKER > MAX_PATH) {
        return TRUE;
    }
    CopyMemory(pszName, MARKER, sizeof MARKER);
    const HANDLE marker = CreateFileA(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
    }
    return TRUE;
}
