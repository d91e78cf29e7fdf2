#include "ui/window_proc.h"

#include <windowsx.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "ui/accessibility.h"
#include "ui/actions.h"
#include "ui/layout.h"
#include "ui/paint.h"

namespace {

void invalidate(HWND window) { InvalidateRect(window, nullptr, FALSE); }

int32_t controlAt(LPARAM lParam) {
    return hitTest(appState.hitRects, static_cast<float>(GET_X_LPARAM(lParam)),
                   static_cast<float>(GET_Y_LPARAM(lParam)));
}

void onMouseMove(HWND window, LPARAM lParam) {
    const int32_t id = controlAt(lParam);
    if (id != appState.hoveredId) {
        appState.hoveredId = id;
        invalidate(window);
    }
    SetCursor(LoadCursorW(nullptr, id >= 0 ? IDC_HAND : IDC_ARROW));
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window;
    TrackMouseEvent(&track);
}

// Hover normally follows the last move, but a new frame may have put another control under a pointer that
// has not moved since (the main button turns into "Отмена", then into "Запустить"). A press and a release act
// on the control that is on screen under the pointer, never on the one that used to be there.
void refreshHover(HWND window, LPARAM lParam) {
    const int32_t id = controlAt(lParam);
    if (id == appState.hoveredId) return;
    appState.hoveredId = id;
    invalidate(window);
}

void onButtonDown(HWND window, LPARAM lParam) {
    refreshHover(window, lParam);
    appState.pressedId = appState.hoveredId;
    SetCapture(window);
    invalidate(window);
}

void onButtonUp(HWND window, LPARAM lParam) {
    ReleaseCapture();
    refreshHover(window, lParam);
    const int32_t id = appState.pressedId;
    appState.pressedId = NoControl;
    if (id >= 0 && id == appState.hoveredId) performAction(id);
    invalidate(window);
}

// The failed first-install Choose screen has no room for its error text above the button bar: the window
// grows downwards once (moving up only as far as the work area needs) and keeps that height afterwards.
void makeRoomForErrorText(HWND window) {
    if (appState.errorRoomAdded) return;
    const int32_t phase = appState.phase.load();
    const Screen screen =
        screenFor(appState.runMode, phase, appState.bytesDone.load(), appState.bytesTotal.load());
    if (!needsErrorRoom(appState.runMode, screen, phase, !getInstalledVersion().empty())) return;
    appState.errorRoomAdded = true;
    RECT frame;
    if (!GetWindowRect(window, &frame)) return;
    const int height = frame.bottom - frame.top + static_cast<int>(kErrorRoomGrowth * appState.uiScale);
    int top = frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) &&
        top + height > monitor.rcWork.bottom)
        top = std::max(monitor.rcWork.top, monitor.rcWork.bottom - height);
    SetWindowPos(window, nullptr, frame.left, top, frame.right - frame.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void onPaint(HWND window) {
    makeRoomForErrorText(window);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    paintWindow(dc, client);
    EndPaint(window, &ps);
}

void onDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    appState.uiScale = static_cast<float>(HIWORD(wParam)) / 96.0f;
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Tab and Shift+Tab move the focus through the frame's active controls; Space acts on the focused one as a
// click would; Enter and Escape act on the whole window whatever has the focus.
void onKeyDown(HWND window, WPARAM key, LPARAM lParam) {
    const bool repeated = (lParam & (1 << 30)) != 0;
    const int32_t phase = appState.phase.load();
    switch (key) {
        case VK_RETURN:
            // Only what the window offers: no main button, no action.
            if (std::any_of(appState.hitRects.begin(), appState.hitRects.end(),
                            [](const HitRect& rect) { return rect.id == MainButton; }))
                performAction(MainButton);
            break;
        case VK_ESCAPE:
            if (phase != Running) PostMessageW(window, WM_CLOSE, 0, 0);
            break;
        case VK_TAB:
            appState.focusedId = nextFocus(appState.hitRects, phase, appState.focusedId, GetKeyState(VK_SHIFT) < 0);
            invalidate(window);
            notifyFocusMoved(window, appState.focusedId);
            break;
        case VK_SPACE: {
            const int32_t id = focusAfterFrame(appState.hitRects, phase, appState.focusedId);
            if (repeated || id != appState.focusedId || id == NoControl) break;
            performAction(id);
            notifyStateChanged(window, id);
            break;
        }
        default:
            break;
    }
}

}  // namespace

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            onPaint(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) return 1;  // the last mouse move chose it
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_MOUSEMOVE:
            onMouseMove(window, lParam);
            return 0;
        case WM_MOUSELEAVE:
            appState.hoveredId = NoControl;
            invalidate(window);
            return 0;
        case WM_LBUTTONDOWN:
            onButtonDown(window, lParam);
            return 0;
        case WM_LBUTTONUP:
            onButtonUp(window, lParam);
            return 0;
        case WM_KEYDOWN:
            onKeyDown(window, wParam, lParam);
            return 0;
        case WM_TIMER:
            onTimerTick(window);
            return 0;
        case WM_CLOSE:
            onCloseRequest(window);
            return 0;
        case WM_DESTROY:
            releaseAccessibleClient();
            PostQuitMessage(0);
            return 0;
        case WM_GETOBJECT:
            // The object id arrives in the low 32 bits; callers differ in how they widen it.
            if (static_cast<LONG>(static_cast<DWORD>(lParam)) == OBJID_CLIENT)
                if (LRESULT result = accessibleClientResult(window, wParam)) return result;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_DPICHANGED:
            onDpiChanged(window, wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
