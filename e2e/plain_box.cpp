// The plainest program that shows a box, with no defence against planted
// DLLs: if it does not load the DLL planted beside it, the probe is broken.
#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*tail*/, int /*show*/) {
    MessageBoxA(nullptr, "Planted", "DLL", MB_OK);
    return 0;
}
