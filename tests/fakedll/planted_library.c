// A DLL planted next to the setup program under the name of a system library. Loading it writes
// "<its own path>.loaded" holding the path of the program that loaded it; every function it exports
// (the module definition file built by the test names them) fails.
#include <windows.h>

static void writeMarker(HMODULE self) {
    wchar_t marker[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcatW(marker, L".loaded");
    char program[MAX_PATH * 3] = "?";
    wchar_t programW[MAX_PATH] = L"";
    if (GetModuleFileNameW(NULL, programW, MAX_PATH))
        WideCharToMultiByte(CP_UTF8, 0, programW, -1, program, sizeof program, NULL, NULL);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, program, lstrlenA(program), &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) writeMarker(self);
    return TRUE;
}

// Every export: zero is a failure for handles and BOOLs; callers of other kinds never get this far.
INT_PTR plantedFunction(void) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}
