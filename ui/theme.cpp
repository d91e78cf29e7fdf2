#include "ui/theme.h"

#include "app/app_state.h"

using namespace Gdiplus;

float scaled(float logical) { return logical * appState.uiScale; }

namespace {

GdipFontFamily findFamily(const wchar_t* name, GpFontCollection* collection) {
    GdipFontFamily family;
    gdip::GdipCreateFontFamilyFromName(name, collection, outPtr(family));
    return family;
}

GdipFontFamily genericSansSerif() {
    GdipFontFamily family;
    gdip::GdipGetGenericFontFamilySansSerif(outPtr(family));
    return family;
}

GdipFont fontFrom(GpFontFamily* family, float logicalSize, bool bold) {
    GdipFont font;
    gdip::GdipCreateFont(family, scaled(logicalSize), bold ? FontStyleBold : FontStyleRegular, UnitPixel,
                         outPtr(font));
    return font;
}

GdipPath roundRectPath(Box rect, float radius) {
    GdipPath path;
    gdip::GdipCreatePath(FillModeAlternate, outPtr(path));
    const float d = 2.0f * radius;
    const float right = rect.x + rect.width - d;
    const float bottom = rect.y + rect.height - d;
    gdip::GdipAddPathArc(path.get(), rect.x, rect.y, d, d, 180.0f, 90.0f);
    gdip::GdipAddPathArc(path.get(), right, rect.y, d, d, 270.0f, 90.0f);
    gdip::GdipAddPathArc(path.get(), right, bottom, d, d, 0.0f, 90.0f);
    gdip::GdipAddPathArc(path.get(), rect.x, bottom, d, d, 90.0f, 90.0f);
    gdip::GdipClosePathFigure(path.get());
    return path;
}

GdipBrush solidBrush(uint32_t argb) {
    GdipBrush brush;
    gdip::GdipCreateSolidFill(argb, outPtr<GpSolidFill>(brush));
    return brush;
}

// Pressed wins over hovered: a button held down keeps that look while the pointer is off it.
uint32_t stateColour(const FrameState& frame, int32_t id, uint32_t normal, uint32_t hovered, uint32_t pressed) {
    return frame.pressedId == id ? pressed : frame.hoveredId == id ? hovered : normal;
}

GdipStringFormat stringFormat(Align horizontal, Align vertical) {
    GdipStringFormat format;
    gdip::GdipCreateStringFormat(0, LANG_NEUTRAL, outPtr(format));
    gdip::GdipSetStringFormatAlign(format.get(), static_cast<StringAlignment>(horizontal));
    gdip::GdipSetStringFormatLineAlign(format.get(), static_cast<StringAlignment>(vertical));
    gdip::GdipSetStringFormatTrimming(format.get(), StringTrimmingEllipsisPath);
    return format;
}

void recordDrawn(const Canvas& canvas, Drawn kind, Box box, Box inked = {}, std::wstring text = {}, bool whole = true) {
    if (!canvas.record.measureTexts) return;
    if (kind == Drawn::Shape || kind == Drawn::Image) inked = box;
    canvas.record.drawn.push_back(DrawnBox{kind, box, inked, std::move(text), whole});
}

}  // namespace

GdipFont makeFont(float logicalSize, bool bold) {
    auto* collection = static_cast<GpFontCollection*>(appState.fontCollection);
    if (GdipFontFamily golos = findFamily(L"Golos Text", collection)) return fontFrom(golos.get(), logicalSize, bold);

    GdipFontFamily family = findFamily(L"Segoe UI", nullptr);
    if (!family) family = genericSansSerif();
    if (!family) return {};
    if (GdipFont font = fontFrom(family.get(), logicalSize, bold)) return font;
    GdipFontFamily fallback = genericSansSerif();
    if (!fallback) return {};
    return fontFrom(fallback.get(), logicalSize, bold);
}

Fonts makeFonts() {
    Fonts fonts;
    fonts.title = makeFont(24.0f, true);
    fonts.body = makeFont(14.5f, false);
    fonts.small = makeFont(12.5f, false);
    fonts.button = makeFont(14.0f, true);
    fonts.heading = makeFont(13.0f, true);
    return fonts;
}

TextLayout measureText(Surface surface, const std::wstring& text, GpFont* font, Box rect, Align horizontal,
                       Align vertical) {
    TextLayout layout;
    GdipStringFormat format = stringFormat(horizontal, vertical);
    const RectF box(rect.x, rect.y, rect.width, rect.height);
    RectF bounds;
    INT fitted = 0, lines = 0;
    if (gdip::GdipMeasureString(surface, text.c_str(), -1, font, &box, format.get(), &bounds, &fitted, &lines) != Ok)
        return layout;
    layout.bounds = {bounds.X, bounds.Y, bounds.Width, bounds.Height};
    layout.lines = lines;
    layout.whole = fitted >= static_cast<INT>(text.size());
    return layout;
}

float lineHeight(Surface surface, GpFont* font) {
    // As the layout spaces lines, which is not always the font's own line spacing.
    return measureText(surface, L"Ag", font, {0.0f, 0.0f, 1e6f, 1e6f}, Align::Near, Align::Near).bounds.height;
}

void fillRoundRect(const Canvas& canvas, Box rect, float radius, uint32_t argb) {
    GdipPath path = roundRectPath(rect, radius);
    GdipBrush brush = solidBrush(argb);
    gdip::GdipFillPath(canvas.surface, brush.get(), path.get());
    recordDrawn(canvas, Drawn::Shape, rect);
}

void strokeRoundRect(const Canvas& canvas, Box rect, float radius, uint32_t argb, float penWidth) {
    GdipPath path = roundRectPath(rect, radius);
    GdipPen pen;
    gdip::GdipCreatePen1(argb, penWidth, UnitWorld, outPtr(pen));
    gdip::GdipDrawPath(canvas.surface, pen.get(), path.get());
    const float half = penWidth / 2.0f;
    recordDrawn(canvas, Drawn::Shape, {rect.x - half, rect.y - half, rect.width + penWidth, rect.height + penWidth});
}

void drawTextBox(const Canvas& canvas, const std::wstring& text, GpFont* font, uint32_t argb, Box rect,
                 Align horizontal, Align vertical, Drawn kind) {
    GdipStringFormat format = stringFormat(horizontal, vertical);
    GdipBrush brush = solidBrush(argb);
    const RectF layout(rect.x, rect.y, rect.width, rect.height);
    gdip::GdipDrawString(canvas.surface, text.c_str(), -1, font, &layout, format.get(), brush.get());
    if (canvas.record.measureTexts && !text.empty()) {
        const TextLayout measured = measureText(canvas.surface, text, font, rect, horizontal, vertical);
        recordDrawn(canvas, kind, rect, measured.bounds, text, measured.whole);
    }
}

void drawImage(const Canvas& canvas, GpImage* image, Box rect) {
    gdip::GdipDrawImageRect(canvas.surface, image, rect.x, rect.y, rect.width, rect.height);
    recordDrawn(canvas, Drawn::Image, rect);
}

void drawCheckMark(Surface surface, float boxX, float boxY, uint32_t argb) {
    const GpPointF points[3] = {
        {boxX + scaled(4.5f), boxY + scaled(9.5f)},
        {boxX + scaled(7.8f), boxY + scaled(12.8f)},
        {boxX + scaled(13.5f), boxY + scaled(5.5f)},
    };
    GdipPen pen;
    gdip::GdipCreatePen1(argb, scaled(2.0f), UnitWorld, outPtr(pen));
    gdip::GdipSetPenLineJoin(pen.get(), LineJoinRound);
    gdip::GdipSetPenStartCap(pen.get(), LineCapRound);
    gdip::GdipSetPenEndCap(pen.get(), LineCapRound);
    gdip::GdipDrawLines(surface, pen.get(), points, 3);
}

void drawTickBox(const Canvas& canvas, float x, float y, bool ticked, uint32_t tickedFill, uint32_t tickColour,
                 bool hovered) {
    const Box box{x, y, scaled(18.0f), scaled(18.0f)};
    const float radius = scaled(5.0f);
    if (ticked) {
        fillRoundRect(canvas, box, radius, tickedFill);
        drawCheckMark(canvas.surface, x, y, tickColour);
        return;
    }
    fillRoundRect(canvas, box, radius, palette::kWhite);
    strokeRoundRect(canvas, box, radius, hovered ? palette::kBrand : palette::kOutline, 1.0f);
}

void drawButton(const Canvas& canvas, Box rect, const wchar_t* label, int32_t id, ButtonStyle style, GpFont* font) {
    if (canvas.drawsStatic()) {
        // The shadow does not change with the pointer; the body always covers the part of it above its edge.
        if (style == ButtonStyle::Primary)
            for (float drop : {6.0f, 4.0f, 2.0f})
                fillRoundRect(canvas,
                              {rect.x + scaled(2.0f), rect.y + scaled(drop), rect.width - scaled(4.0f), rect.height},
                              scaled(10.0f), palette::kAccentShadow);
        return;
    }
    const FrameState& frame = canvas.frame;
    const float radius = scaled(8.0f);
    uint32_t labelColour = palette::kTitle;
    switch (style) {
        case ButtonStyle::Primary:
            fillRoundRect(canvas, rect, radius,
                          stateColour(frame, id, palette::kAccent, palette::kAccentHover, palette::kAccentPressed));
            labelColour = palette::kOnAccent;
            break;
        case ButtonStyle::Danger:
            fillRoundRect(canvas, rect, radius,
                          stateColour(frame, id, palette::kDanger, palette::kDangerHover, palette::kDangerPressed));
            labelColour = palette::kWhite;
            break;
        case ButtonStyle::Secondary: {
            const bool hovered = frame.hoveredId == id;
            fillRoundRect(canvas, rect, radius, hovered ? palette::kSoftFill : palette::kWhite);
            strokeRoundRect(canvas, rect, radius, hovered ? palette::kOutline : palette::kSecondaryOutline, 1.0f);
            break;
        }
    }
    drawTextBox(canvas, label, font, labelColour, rect, Align::Center, Align::Center);
    addHitRect(rect, id);
    addControl(canvas, id, ControlKind::Button, label, false, rect);
}

void drawCheckbox(const Canvas& canvas, float x, float y, const wchar_t* label, bool ticked, int32_t id, GpFont* font) {
    if (canvas.drawsStatic()) {
        drawTextBox(canvas, label, font, palette::kBody,
                    {x + scaled(28.0f), y - scaled(2.0f), scaled(420.0f), scaled(22.0f)}, Align::Near, Align::Center);
        return;
    }
    drawTickBox(canvas, x, y, ticked, palette::kAccent, palette::kOnAccent, canvas.frame.hoveredId == id);
    const Box hit{x, y - scaled(3.0f), scaled(388.0f), scaled(24.0f)};
    addHitRect(hit, id);
    addControl(canvas, id, ControlKind::Checkbox, label, ticked, hit);
}

void addHitRect(Box rect, int32_t id) {
    appState.hitRects.push_back(HitRect{rect.x, rect.y, rect.width, rect.height, id});
}

void addControl(const Canvas& canvas, int32_t id, ControlKind kind, const std::wstring& name, bool checked, Box box) {
    canvas.record.controls.push_back(FrameControl{id, kind, name, checked, controlEnabled(id, canvas.frame.phase), box});
}

void drawFocusRing(const Canvas& canvas, Box hitRect, float radius) {
    const float gap = scaled(2.0f);
    const Box ring{hitRect.x - gap, hitRect.y - gap, hitRect.width + 2.0f * gap, hitRect.height + 2.0f * gap};
    strokeRoundRect(canvas, ring, radius + gap, palette::kFocusRing, scaled(2.0f));
}
