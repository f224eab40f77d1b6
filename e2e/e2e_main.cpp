// The entry of every end-to-end test program. Its flags say what the run is
// meant to be; a run on anything else would prove nothing, so it stops
// before any test:
//   --wow64          32-bit code on 64-bit Windows
//   --code-page=N    the ANSI code page N
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char CODE_PAGE_FLAG[] = "--code-page=";

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Why the run is not what its flag says, or nullptr.
const char* Mismatch(const char* flag) {
    if (std::strcmp(flag, "--wow64") == 0) {
        return RunsUnderWow64() ? nullptr : "meant to run as a 32-bit process on 64-bit Windows, but is not";
    }
    if (std::strncmp(flag, CODE_PAGE_FLAG, sizeof CODE_PAGE_FLAG - 1) == 0) {
        const auto wanted = static_cast<UINT>(std::strtoul(flag + sizeof CODE_PAGE_FLAG - 1, nullptr, 10));
        return GetACP() == wanted ? nullptr : "meant for another ANSI code page";
    }
    return "unknown flag";
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const char* mismatch = Mismatch(argv[i]);
        if (mismatch != nullptr) {
            // Beside GoogleTest's report: standard error may go to a file of Wine's channels.
            std::printf("%s: %s (the ANSI code page is %u)\n", argv[i], mismatch, GetACP());
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
