#include "ui/frame_state.h"

#include <cmath>
#include <tuple>

FrameState takeFrameState(int width, int height) {
    FrameState f;
    f.width = width;
    f.height = height;
    f.scale = appState.uiScale;
    f.logoImage = appState.logoImage;
    f.fontCollection = appState.fontCollection;
    f.mode = appState.runMode;
    f.phase = appState.phase.load();
    // Each counter is read once; the screen and the bar rest on the same two values.
    f.bytesDone = appState.bytesDone.load();
    f.bytesTotal = appState.bytesTotal.load();
    f.screen = screenFor(f.mode, f.phase, f.bytesDone, f.bytesTotal);
    f.installedVersion = getInstalledVersion();
    f.offeredVersion = getOfferedVersion();
    f.statusText = getStatus();
    f.errorText = getErrorText();
    f.installDir = appState.installDir;
    f.desktopShortcut = appState.desktopShortcut;
    f.launchAfterInstall = appState.launchAfterInstall;
    f.removeUserData = appState.removeUserData;
    f.selectedComponents = appState.selectedComponents;
    // The sizes are complete once the flag is seen set.
    f.sizesKnown = appState.sizesKnown.load();
    if (f.sizesKnown) f.componentSizes = appState.componentSizes;
    f.gpuVendorIds = appState.gpuVendorIds;
    f.hoveredId = appState.hoveredId;
    f.pressedId = appState.pressedId;
    f.focusedId = appState.focusedId;
    return f;
}

float progressBarPixels(const FrameState& frame) {
    if (frame.screen != Screen::Progress) return 0.0f;
    const float track = static_cast<float>(frame.width) - 2.0f * kMargin * frame.scale;
    return progressBarWidth(track, progressFraction(frame.bytesDone, frame.bytesTotal), 10.0f * frame.scale);
}

namespace {

// The status text is drawn in the dynamic layer on the progress page only; elsewhere (the uninstall page's
// paragraph) it belongs to the static one.
bool statusIsStatic(const FrameState& f) { return f.screen != Screen::Progress; }

auto staticFields(const FrameState& f) {
    return std::tie(f.width, f.height, f.scale, f.logoImage, f.fontCollection, f.mode, f.phase, f.screen,
                    f.installedVersion, f.offeredVersion, f.errorText, f.installDir, f.sizesKnown,
                    f.componentSizes, f.gpuVendorIds);
}

auto dynamicFields(const FrameState& f) {
    return std::tie(f.desktopShortcut, f.launchAfterInstall, f.removeUserData, f.selectedComponents, f.hoveredId,
                    f.pressedId, f.focusedId, f.statusText);
}

}  // namespace

bool sameStaticLayer(const FrameState& a, const FrameState& b) {
    if (staticFields(a) != staticFields(b)) return false;
    return !statusIsStatic(a) || a.statusText == b.statusText;
}

bool sameFrame(const FrameState& a, const FrameState& b) {
    return sameStaticLayer(a, b) && dynamicFields(a) == dynamicFields(b) &&
           std::floor(progressBarPixels(a)) == std::floor(progressBarPixels(b)) &&
           progressFiguresText(a.bytesDone, a.bytesTotal) == progressFiguresText(b.bytesDone, b.bytesTotal);
}
