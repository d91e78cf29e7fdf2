// close_setup_window.exe — posts WM_CLOSE to the setup window ("MaketorSetup"), as its close box would.
// During a run that is a cancel request. Exits 1 when no such window exists.
#include <windows.h>

int wmain() {
    HWND window = FindWindowW(L"MaketorSetup", nullptr);
    if (!window) return 1;
    return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}
