#pragma once
// Everything one frame of the window shows, copied from the shared state once per paint and once per timer
// tick: the paint draws from the copy alone, and the timer repaints only when the new copy would draw
// differently from the frame on screen.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/layout.h"

struct FrameState {
    int width = 0, height = 0;  // client area, device px
    float scale = 1.0f;
    const void* logoImage = nullptr;       // the drawing resources the frame was made with
    const void* fontCollection = nullptr;
    RunMode mode = Install;
    int32_t phase = Ready;
    Screen screen = Screen::Choose;
    std::string installedVersion, offeredVersion;  // UTF-8
    std::wstring statusText, errorText, installDir;
    uint64_t bytesDone = 0, bytesTotal = 0;
    bool desktopShortcut = false, launchAfterInstall = false, removeUserData = false;
    std::array<bool, kComponentCount> selectedComponents{};
    bool sizesKnown = false;
    std::array<uint64_t, kComponentCount> componentSizes{};
    std::vector<uint32_t> gpuVendorIds;
    int32_t hoveredId = -1, pressedId = -1, focusedId = -1;
};

// The shared state as a frame of the given client size (device px) would show it.
FrameState takeFrameState(int width, int height);

// The width of the progress bar in device px (float, as drawn) for the frame; 0 when none is drawn.
float progressBarPixels(const FrameState& frame);

// Both frames have the same static layer: everything but the pointer, the focus, the ticks, the progress
// bar, its figures and the status line of the progress page.
bool sameStaticLayer(const FrameState& a, const FrameState& b);
// Both frames look the same: the same static layer, and the same pointer, focus, ticks, progress bar
// (to the whole device pixel), figures and status line.
bool sameFrame(const FrameState& a, const FrameState& b);
