#include "app/discovery.h"

#include "app/app_state.h"
#include "platform/text.h"

// First cut: the folder only. Registry, record and adapter discovery arrive with the install lifecycle.
std::wstring defaultInstallDir() { return pathJoin(L"Torvel", L"Maketor"); }

void discoverInstallation() {
    if (appState.installDir.empty()) appState.installDir = defaultInstallDir();
    appState.selectedComponents = {true, false, false, false, false};
}
