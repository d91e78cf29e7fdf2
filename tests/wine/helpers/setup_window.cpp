// setup_window.exe close | enter | click X Y | locate — acts on the setup window ("MaketorSetup") the way the user
// would, through its window procedure: "close" posts WM_CLOSE (the close box; during a run that is a cancel
// request), "enter" the Enter key, "click" a left click at client pixel (X, Y). "locate" prints, in screen
// pixels, the client area ("client X Y WIDTH HEIGHT") and the centre of the title bar's close box as the
// window's own hit test places it ("close X Y"); tests click it with real pointer events where Wine draws the
// title bar itself (with a window manager the box is the manager's). Waits up to 30 s for the window and lets
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

// The close box as the window's own hit test sees it: scanned along the middle of the title bar.
bool findCloseBox(HWND window, POINT& centre) {
    RECT frame{};
    POINT client{0, 0};
    if (!GetWindowRect(window, &frame) || !ClientToScreen(window, &client)) return false;
    const int y = (frame.top + client.y) / 2;
    int right = -1;
    int left = -1;
    for (int x = frame.right - 1; x >= frame.left; --x) {
        const bool onCloseBox = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
        if (onCloseBox && right < 0) right = x;
        if (onCloseBox) left = x;
        if (!onCloseBox && right >= 0) break;
    }
    if (right < 0) return false;
    centre = {(left + right) / 2, y};
    return true;
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
    if (action == L"locate") {
        POINT client{0, 0};
        RECT size{};
        if (!ClientToScreen(window, &client) || !GetClientRect(window, &size)) return 1;
        wprintf(L"client %ld %ld %ld %ld\n", client.x, client.y, size.right, size.bottom);
        POINT closeBox{};
        if (findCloseBox(window, closeBox)) wprintf(L"close %ld %ld\n", closeBox.x, closeBox.y);
        return 0;
    }
    fwprintf(stderr, L"usage: setup_window.exe close | enter | click X Y | locate\n");
    return 2;
}
