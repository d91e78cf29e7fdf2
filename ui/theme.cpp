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

bool isHovered(int32_t id) { return appState.hoveredId == id; }
bool isPressed(int32_t id) { return appState.pressedId == id; }

// Pressed wins over hovered: a button held down keeps that look while the pointer is off it.
uint32_t stateColour(int32_t id, uint32_t normal, uint32_t hovered, uint32_t pressed) {
    return isPressed(id) ? pressed : isHovered(id) ? hovered : normal;
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

void fillRoundRect(Surface surface, Box rect, float radius, uint32_t argb) {
    GdipPath path = roundRectPath(rect, radius);
    GdipBrush brush = solidBrush(argb);
    gdip::GdipFillPath(surface, brush.get(), path.get());
}

void strokeRoundRect(Surface surface, Box rect, float radius, uint32_t argb, float penWidth) {
    GdipPath path = roundRectPath(rect, radius);
    GdipPen pen;
    gdip::GdipCreatePen1(argb, penWidth, UnitWorld, outPtr(pen));
    gdip::GdipDrawPath(surface, pen.get(), path.get());
}

void drawTextBox(Surface surface, const std::wstring& text, GpFont* font, uint32_t argb, Box rect,
                 Align horizontal, Align vertical) {
    GdipStringFormat format;
    gdip::GdipCreateStringFormat(0, LANG_NEUTRAL, outPtr(format));
    gdip::GdipSetStringFormatAlign(format.get(), static_cast<StringAlignment>(horizontal));
    gdip::GdipSetStringFormatLineAlign(format.get(), static_cast<StringAlignment>(vertical));
    gdip::GdipSetStringFormatTrimming(format.get(), StringTrimmingEllipsisPath);
    GdipBrush brush = solidBrush(argb);
    const Gdiplus::RectF layout(rect.x, rect.y, rect.width, rect.height);
    gdip::GdipDrawString(surface, text.c_str(), -1, font, &layout, format.get(), brush.get());
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

void drawTickBox(Surface surface, float x, float y, bool ticked, uint32_t tickedFill, uint32_t tickColour,
                 bool hovered) {
    const Box box{x, y, scaled(18.0f), scaled(18.0f)};
    const float radius = scaled(5.0f);
    if (ticked) {
        fillRoundRect(surface, box, radius, tickedFill);
        drawCheckMark(surface, x, y, tickColour);
        return;
    }
    fillRoundRect(surface, box, radius, palette::kWhite);
    strokeRoundRect(surface, box, radius, hovered ? palette::kBrand : palette::kOutline, 1.0f);
}

void drawButton(Surface surface, Box rect, const wchar_t* label, int32_t id, ButtonStyle style, GpFont* font) {
    const float radius = scaled(8.0f);
    uint32_t labelColour = palette::kTitle;
    switch (style) {
        case ButtonStyle::Primary: {
            const float shadowRadius = scaled(10.0f);
            for (float drop : {6.0f, 4.0f, 2.0f})
                fillRoundRect(surface,
                              {rect.x + scaled(2.0f), rect.y + scaled(drop), rect.width - scaled(4.0f), rect.height},
                              shadowRadius, palette::kAccentShadow);
            fillRoundRect(surface, rect, radius,
                          stateColour(id, palette::kAccent, palette::kAccentHover, palette::kAccentPressed));
            labelColour = palette::kOnAccent;
            break;
        }
        case ButtonStyle::Danger: {
            fillRoundRect(surface, rect, radius,
                          stateColour(id, palette::kDanger, palette::kDangerHover, palette::kDangerPressed));
            labelColour = palette::kWhite;
            break;
        }
        case ButtonStyle::Secondary: {
            const bool hovered = isHovered(id);
            fillRoundRect(surface, rect, radius, hovered ? palette::kSoftFill : palette::kWhite);
            strokeRoundRect(surface, rect, radius, hovered ? palette::kOutline : palette::kSecondaryOutline, 1.0f);
            break;
        }
    }
    drawTextBox(surface, label, font, labelColour, rect, Align::Center, Align::Center);
    addHitRect(rect, id);
}

void drawCheckbox(Surface surface, float x, float y, const wchar_t* label, bool ticked, int32_t id, GpFont* font) {
    drawTickBox(surface, x, y, ticked, palette::kAccent, palette::kOnAccent, isHovered(id));
    drawTextBox(surface, label, font, palette::kBody, {x + scaled(28.0f), y - scaled(2.0f), scaled(420.0f), scaled(22.0f)},
                Align::Near, Align::Center);
    addHitRect({x, y - scaled(3.0f), scaled(388.0f), scaled(24.0f)}, id);
}

void addHitRect(Box rect, int32_t id) {
    appState.hitRects.push_back(HitRect{rect.x, rect.y, rect.width, rect.height, id});
}
