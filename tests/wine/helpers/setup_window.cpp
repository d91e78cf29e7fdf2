// setup_window.exe close | enter | click X Y — acts on the setup window ("MaketorSetup") the way the user would,
// through its window procedure: "close" posts WM_CLOSE (the close box; during a run that is a cancel request),
// "enter" the Enter key, "click" a left click at client pixel (X, Y). Waits up to 30 s for the window and lets
// it paint once, so that its clickable areas exist. Exits 1 when there is no such window.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

HWND waitForSetupWindow() {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (HWND window = FindWindowW(L"MaketorSetup", nullptr)) {
            if (attempt > 0) Sleep(300);  // a window that just appeared has not painted yet
            return window;
        }
        Sleep(100);
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring action = argc > 1 ? argv[1] : L"";
    HWND window = waitForSetupWindow();
    if (!window) return 1;
    if (action == L"close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (action == L"enter") return PostMessageW(window, WM_KEYDOWN, VK_RETURN, 1) ? 0 : 1;
    if (action == L"click" && argc == 4) {
        const LPARAM point = MAKELPARAM(_wtoi(argv[2]), _wtoi(argv[3]));
        PostMessageW(window, WM_MOUSEMOVE, 0, point);
        PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
        return PostMessageW(window, WM_LBUTTONUP, 0, point) ? 0 : 1;
    }
    fwprintf(stderr, L"usage: setup_window.exe close | enter | click X Y\n");
    return 2;
}
