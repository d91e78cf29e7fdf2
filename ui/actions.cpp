#include "ui/actions.h"

#include <windows.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "platform/text.h"
#include "ui/folder_chooser.h"

void launchApplication() {
    const std::wstring exe = pathJoin(appState.installDir, L"maketor.exe");
    ShellExecuteW(nullptr, L"open", exe.c_str(), nullptr, appState.installDir.c_str(), SW_SHOWNORMAL);
}

void performAction(int id) {
    HWND window = appState.mainWindow.load();
    const int32_t phase = appState.phase.load();
    switch (id) {
        case 1:
            if (phase == Done) {
                if (appState.runMode != Uninstall) launchApplication();
                PostMessageW(window, WM_CLOSE, 0, 0);
            } else {
                startWorker();
            }
            break;
        case 2:
            if (phase == Running)
                appState.cancelRequested.exchange(true);
            else
                PostMessageW(window, WM_CLOSE, 0, 0);
            break;
        case 3:
            // Still drawn on a failed Choose screen, but the folder is only changed before a first run.
            if (phase == Ready) chooseInstallFolder();
            break;
        case 4:
            appState.desktopShortcut = !appState.desktopShortcut;
            break;
        case 5:
            appState.launchAfterInstall = !appState.launchAfterInstall;
            break;
        case 6:
            appState.removeUserData = !appState.removeUserData;
            break;
        case 101:
        case 102:
        case 103:
        case 104:
            if (phase == Ready || phase == Failed)
                appState.selectedComponents[id - 100] = !appState.selectedComponents[id - 100];
            break;
        default:
            break;
    }
    InvalidateRect(window, nullptr, FALSE);
}
