#include "ui/window_proc.h"

#include <windowsx.h>

#include "app/app_state.h"
#include "app/main_loop.h"
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

void onPaint(HWND window) {
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
            if (wParam == VK_RETURN) performAction(MainButton);
            if (wParam == VK_ESCAPE && appState.phase.load() != Running) PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        case WM_TIMER:
            onTimerTick(window);
            return 0;
        case WM_CLOSE:
            onCloseRequest(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_DPICHANGED:
            onDpiChanged(window, wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
