#include "app/main_loop.h"

#include "app/app_state.h"
#include "ui/actions.h"
#include "ui/paint.h"

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
    // Only a frame that would look different is painted: an idle window does no drawing at all.
    RECT client;
    GetClientRect(window, &client);
    if (frameChanged(client)) InvalidateRect(window, nullptr, FALSE);
}

void onCloseRequest(HWND window) {
    if (appState.phase.load() == Running) {
        appState.cancelRequested.exchange(true);
        return;
    }
    DestroyWindow(window);
}
