#include <windows.h>

#include "app/startup.h"
#include "platform/system_libraries.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // First of all: every later load searches System32 alone, never this program's own folder (a Downloads
    // or temporary folder, where anyone may have left a DLL named like a system one).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    loadSystemLibraries();
    return runSetup(instance);
}
