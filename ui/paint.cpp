#include "ui/paint.h"

#include <algorithm>
#include <cstring>

#include "app/app_state.h"
#include "ui/screens.h"

using namespace Gdiplus;

namespace {

// A 32-bit premultiplied ARGB bitmap over memory of our own (so that it can be filled, copied and shown
// without going through GDI+), with a drawing surface on it.
struct PixelLayer {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    GdipImage bitmap;
    GdipGraphics surface;

    void make(int w, int h) {
        surface.reset();
        bitmap.reset();
        width = w;
        height = h;
        pixels.assign(static_cast<size_t>(std::max(w, 0)) * static_cast<size_t>(std::max(h, 0)), 0xFFFFFFFFu);
        if (w <= 0 || h <= 0) return;  // a minimised window: every drawing call fails harmlessly
        gdip::GdipCreateBitmapFromScan0(w, h, w * 4, PixelFormat32bppPARGB, reinterpret_cast<BYTE*>(pixels.data()),
                                        outPtr<GpBitmap>(bitmap));
        gdip::GdipGetImageGraphicsContext(bitmap.get(), outPtr(surface));
        gdip::GdipSetSmoothingMode(surface.get(), SmoothingModeAntiAlias);
        gdip::GdipSetTextRenderingHint(surface.get(), TextRenderingHintClearTypeGridFit);
        gdip::GdipSetInterpolationMode(surface.get(), InterpolationModeHighQualityBicubic);
        gdip::GdipSetPixelOffsetMode(surface.get(), PixelOffsetModeHalf);
    }
};

struct PaintCache {
    PixelLayer staticLayer, backBuffer;
    bool staticValid = false;
    FrameState staticFrame;
    std::vector<DrawnBox> staticDrawn;

    bool fontsMade = false;
    float fontScale = 0.0f;
    const void* fontCollection = nullptr;
    Fonts fonts;

    bool recording = false;
    FrameRecord record;
    bool paintedValid = false;
    FrameState painted;
};

// Lives until releasePaintCache: its GDI+ objects must go before GDI+ is shut down, never after.
PaintCache& cache() {
    static PaintCache* const kept = new PaintCache;
    return *kept;
}

void makeFontsFor(PaintCache& c, const FrameState& frame) {
    if (c.fontsMade && c.fontScale == frame.scale && c.fontCollection == frame.fontCollection) return;
    c.fonts = makeFonts();
    c.fontsMade = true;
    c.fontScale = frame.scale;
    c.fontCollection = frame.fontCollection;
}

void drawStaticLayer(PaintCache& c, const FrameState& frame) {
    std::fill(c.staticLayer.pixels.begin(), c.staticLayer.pixels.end(), 0xFFFFFFFFu);  // opaque white
    FrameRecord record;
    record.measureTexts = c.recording;
    const Canvas canvas{c.staticLayer.surface.get(), Layer::Static, frame, record};
    drawScreen(canvas, c.fonts);
    gdip::GdipFlush(c.staticLayer.surface.get(), FlushIntentionSync);
    c.staticDrawn = std::move(record.drawn);
    c.staticFrame = frame;
    c.staticValid = true;
}

void drawFocus(const Canvas& canvas, int32_t focused) {
    for (const HitRect& r : appState.hitRects)
        if (r.id == focused) {
            const bool button = focused == MainButton || focused == SecondButton || focused == ChangeFolderButton;
            drawFocusRing(canvas, {r.x, r.y, r.width, r.height}, scaled(button ? 8.0f : 5.0f));
            return;
        }
}

void present(HDC windowDc, const PixelLayer& frame) {
    if (frame.width <= 0 || frame.height <= 0) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = frame.width;
    info.bmiHeader.biHeight = -frame.height;  // top-down, as the pixels lie
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // The frame is opaque, so its premultiplied pixels are plain colours: one copy, no blending.
    SetDIBitsToDevice(windowDc, 0, 0, static_cast<DWORD>(frame.width), static_cast<DWORD>(frame.height), 0, 0, 0,
                      static_cast<UINT>(frame.height), frame.pixels.data(), &info, DIB_RGB_COLORS);
}

}  // namespace

void paintWindow(HDC windowDc, const RECT& client) {
    PaintCache& c = cache();
    FrameState frame = takeFrameState(client.right - client.left, client.bottom - client.top);
    makeFontsFor(c, frame);
    if (c.backBuffer.width != frame.width || c.backBuffer.height != frame.height) {
        c.backBuffer.make(frame.width, frame.height);
        c.staticLayer.make(frame.width, frame.height);
        c.staticValid = false;
    }
    if (!c.staticValid || !sameStaticLayer(c.staticFrame, frame)) drawStaticLayer(c, frame);
    std::copy(c.staticLayer.pixels.begin(), c.staticLayer.pixels.end(), c.backBuffer.pixels.begin());

    appState.hitRects.clear();
    c.record.measureTexts = c.recording;
    c.record.drawn = c.staticDrawn;
    c.record.controls.clear();
    c.record.title = screenTitle(frame.screen, frame.mode, !frame.installedVersion.empty());
    const Canvas canvas{c.backBuffer.surface.get(), Layer::Dynamic, frame, c.record};
    drawScreen(canvas, c.fonts);
    // The focus goes where this frame's controls are, and its ring is drawn over them.
    appState.focusedId = focusAfterFrame(appState.hitRects, frame.phase, frame.focusedId);
    frame.focusedId = appState.focusedId;
    drawFocus(canvas, frame.focusedId);
    gdip::GdipFlush(c.backBuffer.surface.get(), FlushIntentionSync);

    present(windowDc, c.backBuffer);
    c.painted = std::move(frame);
    c.paintedValid = true;
}

bool frameChanged(const RECT& client) {
    const PaintCache& c = cache();
    return !c.paintedValid ||
           !sameFrame(c.painted, takeFrameState(client.right - client.left, client.bottom - client.top));
}

const FrameRecord& lastFrame() { return cache().record; }

void setFrameRecording(bool on) {
    PaintCache& c = cache();
    c.recording = on;
    c.staticValid = false;
}

void releasePaintCache() {
    PaintCache& c = cache();
    c.staticLayer.make(0, 0);
    c.backBuffer.make(0, 0);
    c.staticValid = false;
    c.staticDrawn.clear();
    c.fonts = Fonts{};
    c.fontsMade = false;
    c.paintedValid = false;
}
