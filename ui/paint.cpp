#include "ui/paint.h"

#include "app/app_state.h"
#include "ui/screens.h"
#include "ui/theme.h"

using namespace Gdiplus;

void paintWindow(HDC windowDc, const RECT& client) {
    const INT width = client.right - client.left;
    const INT height = client.bottom - client.top;

    GdipImage backBuffer;
    gdip::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, outPtr<GpBitmap>(backBuffer));
    GdipGraphics surface;
    gdip::GdipGetImageGraphicsContext(backBuffer.get(), outPtr(surface));
    gdip::GdipSetSmoothingMode(surface.get(), SmoothingModeAntiAlias);
    gdip::GdipSetTextRenderingHint(surface.get(), TextRenderingHintClearTypeGridFit);
    gdip::GdipSetInterpolationMode(surface.get(), InterpolationModeHighQualityBicubic);
    gdip::GdipSetPixelOffsetMode(surface.get(), PixelOffsetModeHalf);
    gdip::GdipGraphicsClear(surface.get(), palette::kWhite);

    appState.hitRects.clear();
    const Fonts fonts = makeFonts();
    drawScreen(surface.get(), static_cast<float>(width), static_cast<float>(height), fonts);

    if (!backBuffer) return;
    GdipGraphics window;
    gdip::GdipCreateFromHDC(windowDc, outPtr(window));
    // The back buffer is opaque and exactly the client area: a plain copy at its pixel size (not the
    // DPI-adjusted "natural" size), with no blending and no resampling.
    gdip::GdipSetCompositingMode(window.get(), CompositingModeSourceCopy);
    gdip::GdipSetInterpolationMode(window.get(), InterpolationModeNearestNeighbor);
    gdip::GdipDrawImageRectI(window.get(), backBuffer.get(), 0, 0, width, height);
}
