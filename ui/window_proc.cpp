#include "ui/window_proc.h"

#include "app/app_state.h"
#include "app/main_loop.h"
#include "ui/actions.h"

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            RECT client;
            GetClientRect(window, &client);
            FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            EndPaint(window, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN) performAction(1);
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
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
