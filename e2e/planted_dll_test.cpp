// A DLL planted beside notice.exe is never loaded. Run with Wine told to
// prefer a native uxtheme.dll wherever the search finds one.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"

namespace {

// Runs PROGRAM from the folder where uxtheme.dll is planted, presses OK in
// its box, and tells whether the planted DLL was loaded meanwhile.
bool LoadsPlantedDll(const char* program) {
    const std::string folder = ProgramFolder() + "planted\\";
    const std::string marker = folder + "planted-dll-loaded";
    DeleteFileA(marker.c_str());
    const ProgramRun process(folder + program, std::string(program) + " Planted,DLL");
    EXPECT_TRUE(process.Started()) << program << ": cannot start, error " << GetLastError();
    const HWND box = WaitForBox(process, BOX_TIMEOUT_MS);
    EXPECT_NE(box, nullptr) << program << ": no box appeared";
    if (box != nullptr) {
        DismissBox(box, Dismissal::OkButton);
    }
    DWORD exitCode = 1;
    EXPECT_TRUE(process.WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << program << ": still running";
    return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(PlantedDll, IsNeverLoaded) {
    ASSERT_TRUE(LoadsPlantedDll("plain_box.exe")) << "the probe is broken: a plain program did not load it";
    EXPECT_FALSE(LoadsPlantedDll("notice.exe")) << "notice.exe loaded the DLL planted beside it";
}

}  // namespace
