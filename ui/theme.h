#pragma once
// The window's visual vocabulary: scale, palette, fonts, rounded shapes, text boxes, buttons and checkboxes.
// Positions and sizes passed in are device pixels; the offsets inside are logical and scaled here.
#include <cstdint>

#include "ui/gdiplus_holders.h"
#include "ui/layout.h"

using Surface = Gdiplus::GpGraphics*;

namespace palette {
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kTitle = 0xFF222228;
constexpr uint32_t kOnAccent = 0xFF2B2B2B;
constexpr uint32_t kBody = 0xFF555558;
constexpr uint32_t kMuted = 0xFF8D8D8D;
constexpr uint32_t kBrand = 0xFFB8B8B9;  // also the outline of an unticked box under the pointer
constexpr uint32_t kOutline = 0xFFD7D8DA;
constexpr uint32_t kSecondaryOutline = 0xFFEBECEF;
constexpr uint32_t kSoftFill = 0xFFF3F4F7;  // hovered secondary button, progress track
constexpr uint32_t kLockedBox = 0xFFE3E4E8;
constexpr uint32_t kAccent = 0xFFFFB400;
constexpr uint32_t kAccentHover = 0xFFFFC02E;
constexpr uint32_t kAccentPressed = 0xFFEBA400;
constexpr uint32_t kAccentShadow = 0x128F6400;
constexpr uint32_t kDanger = 0xFFE5484D;
constexpr uint32_t kDangerHover = 0xFFD94045;
constexpr uint32_t kDangerPressed = 0xFFC93A3F;
}  // namespace palette

enum class Align : int32_t { Near = 0, Center = 1, Far = 2 };

struct Box {  // device px
    float x, y, width, height;
};

// Logical pixels to device pixels at the current uiScale.
float scaled(float logical);

// The five fonts of one paint.
struct Fonts {
    GdipFont title, body, small, button, heading;
};
GdipFont makeFont(float logicalSize, bool bold);
Fonts makeFonts();

void fillRoundRect(Surface surface, Box rect, float radius, uint32_t argb);
void strokeRoundRect(Surface surface, Box rect, float radius, uint32_t argb, float penWidth);
void drawTextBox(Surface surface, const std::wstring& text, Gdiplus::GpFont* font, uint32_t argb, Box rect,
                 Align horizontal, Align vertical);
void drawCheckMark(Surface surface, float boxX, float boxY, uint32_t argb);
// An 18 × 18 tick box at (x, y): filled with the given colour and ticked, or white with an outline.
void drawTickBox(Surface surface, float x, float y, bool ticked, uint32_t tickedFill, uint32_t tickColour,
                 bool hovered);
void drawButton(Surface surface, Box rect, const wchar_t* label, int32_t id, ButtonStyle style,
                Gdiplus::GpFont* font);
void drawCheckbox(Surface surface, float x, float y, const wchar_t* label, bool ticked, int32_t id,
                  Gdiplus::GpFont* font);
void addHitRect(Box rect, int32_t id);
