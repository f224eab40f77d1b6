// Starts notice.exe with an exact command-line tail, for scripts/run.
//
//   notice_launch TAILFILE           shows the box and waits until it is dismissed
//   notice_launch TAILFILE --press   waits for the box, prints "box X Y WIDTH HEIGHT",
//                                    reads one line from standard input, then presses OK
//
// The tail comes from a file, in UTF-8, so that no shell or argument parser
// can re-quote it, and reaches notice.exe as Windows hands a Unicode caller's
// text to a program that reads the ANSI code page. Prints "exit status N" at
// the end.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "e2e/box_reading.h"

namespace {

bool ReadWholeFile(const char* path, std::string* pContents) {
    std::ifstream file(path, std::ios::binary);
    pContents->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad() && file.is_open();
}

// UTF-8 in the ANSI code page, as Windows converts a Unicode command line
// for GetCommandLineA: a character that the code page lacks becomes its best
// fit, or ? where it has none.
std::string InAnsiCodePage(const std::string& utf8) {
    const int cbUtf8 = static_cast<int>(utf8.size());
    const int cchWide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), cbUtf8, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(cchWide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), cbUtf8, wide.data(), cchWide);
    const int cbAnsi = WideCharToMultiByte(CP_ACP, 0, wide.data(), cchWide, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(cbAnsi), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), cchWide, ansi.data(), cbAnsi, nullptr, nullptr);
    return ansi;
}

// Shows where the box is, then waits for the caller's go-ahead before pressing OK.
bool PressOkWhenTold(const ProgramRun& process) {
    const HWND box = WaitForBox(process, BOX_TIMEOUT_MS);
    if (box == nullptr) {
        std::puts("no box appeared");
        return false;
    }
    RECT rect = {};
    GetWindowRect(box, &rect);
    std::printf("box %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof line, stdin);
    return DismissBox(box, Dismissal::OkButton);
}

}  // namespace

int main(int argc, char** argv) {
    const bool press = argc == 3 && std::strcmp(argv[2], "--press") == 0;
    if (argc != 2 && !press) {
        std::fputs("usage: notice_launch TAILFILE [--press]\n", stderr);
        return 2;
    }
    std::string utf8Tail;
    if (!ReadWholeFile(argv[1], &utf8Tail)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const std::string tail = InAnsiCodePage(utf8Tail);
    const std::string program = NoticeProgramPath();
    const std::string commandLine = "\"" + program + "\"" + (tail.empty() ? "" : " " + tail);
    ProgramRun process(program, commandLine);
    if (!process.Started()) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return 1;
    }
    if (press && !PressOkWhenTold(process)) {
        return 1;
    }
    DWORD exitCode = 0;
    if (!process.WaitForExit(press ? EXIT_TIMEOUT_MS : INFINITE, &exitCode)) {
        std::puts("still running");
        return 1;
    }
    std::printf("exit status %lu\n", exitCode);
    return 0;
}
