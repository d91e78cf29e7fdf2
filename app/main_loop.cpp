#include "app/main_loop.h"

#include "app/app_state.h"
#include "ui/actions.h"

void onTimerTick(HWND window) {
    const int32_t phase = appState.phase.load();
    if (appState.autoMode && (phase == Done || phase == Failed)) {
        if (!appState.autoClosePosted) {
            appState.autoClosePosted = true;
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        appState.lastPhase = phase;
        return;
    }
    if (!appState.autoMode && phase == Done && appState.lastPhase == Running && appState.runMode == Install &&
        appState.launchAfterInstall)
        performAction(1);
    appState.lastPhase = phase;
    InvalidateRect(window, nullptr, FALSE);
}

void onCloseRequest(HWND window) {
    if (appState.phase.load() == Running) {
        appState.cancelRequested.exchange(true);
        return;
    }
    DestroyWindow(window);
}
