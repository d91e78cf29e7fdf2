#include "app/release_check.h"

#include <windows.h>

#include "app/app_state.h"
#include "engine/components.h"
#include "engine/release_fetch.h"
#include "engine/release_freshness.h"

std::array<uint64_t, 5> componentSizesOf(const Manifest& manifest) {
    std::array<uint64_t, 5> sizes{};
    for (const ManifestFile& file : manifest.files) sizes[componentOfPath(file.path)] += file.size;
    return sizes;
}

// Every failure ends the check silently: the window shows no sizes and the install run reports for itself.
// An expired manifest is no offer either. A release older than the installation is published: the window
// tells so instead of offering it.
void runReleaseCheck() {
    Manifest manifest;
    if (fetchReleaseManifest(httpFetch, {}, manifest) != ReleaseFetch::Trusted) return;
    if (standingOf(manifest, {}, currentUtcSeconds()) == ReleaseStanding::Expired) return;

    {
        std::lock_guard<std::mutex> lock(appState.stateLock);
        appState.offeredVersion = manifest.version;
    }
    appState.componentSizes = componentSizesOf(manifest);
    appState.sizesKnown.exchange(true);
    if (HWND window = appState.mainWindow.load()) InvalidateRect(window, nullptr, FALSE);
}
