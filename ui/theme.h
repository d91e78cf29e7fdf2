#pragma once
// The window's visual vocabulary: scale, palette, fonts, rounded shapes, text boxes, buttons and checkboxes.
// Positions and sizes passed in are device pixels; the offsets inside are logical and scaled here.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/frame_state.h"
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
constexpr uint32_t kFocusRing = 0xFF222228;
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

// A frame is drawn in two passes over the same layout: the static layer (texts and shapes that change only
// with the page) is drawn once and kept; the dynamic layer (buttons, tick boxes, the progress bar and its
// texts, the focus ring) is drawn over a copy of it on every paint.
enum class Layer : int32_t { Static, Dynamic };

// What a pass drew, recorded on request for the layout checks.
enum class Drawn : int32_t { Text, Shape, Image, ErrorText };
struct DrawnBox {
    Drawn kind;
    Box box;    // the layout box of a text; the area of a shape or image
    Box inked;  // a text's laid-out lines (measured); the box itself for shapes and images
    std::wstring text;
    bool whole = true;  // every character of the text fitted in its box
};

// A control of the frame as the keyboard and a screen reader see it.
enum class ControlKind : int32_t { Button, Checkbox };
struct FrameControl {
    int32_t id;  // component row 0 is recorded as 100, although it has no hit rectangle
    ControlKind kind;
    std::wstring name;
    bool checked;
    bool enabled;
    Box box;
};

struct FrameRecord {
    std::wstring title;  // the page's title: the name screen readers give the client area
    bool measureTexts = false;  // record every drawn element in `drawn` (measuring each text)
    std::vector<DrawnBox> drawn;
    std::vector<FrameControl> controls;
};

struct Canvas {
    Surface surface;
    Layer layer;
    const FrameState& frame;
    FrameRecord& record;
    bool drawsStatic() const { return layer == Layer::Static; }
    bool drawsDynamic() const { return layer == Layer::Dynamic; }
};

// How a text lays out in a box: the lines' bounding box, their number, and whether every character fitted.
struct TextLayout {
    Box bounds{};
    int lines = 0;
    bool whole = false;
};
TextLayout measureText(Surface surface, const std::wstring& text, Gdiplus::GpFont* font, Box rect, Align horizontal,
                       Align vertical);
// The height of one line of the font, device px.
float lineHeight(Surface surface, Gdiplus::GpFont* font);

void fillRoundRect(const Canvas& canvas, Box rect, float radius, uint32_t argb);
void strokeRoundRect(const Canvas& canvas, Box rect, float radius, uint32_t argb, float penWidth);
void drawTextBox(const Canvas& canvas, const std::wstring& text, Gdiplus::GpFont* font, uint32_t argb, Box rect,
                 Align horizontal, Align vertical, Drawn kind = Drawn::Text);
void drawImage(const Canvas& canvas, Gdiplus::GpImage* image, Box rect);
void drawCheckMark(Surface surface, float boxX, float boxY, uint32_t argb);
// An 18 × 18 tick box at (x, y): filled with the given colour and ticked, or white with an outline.
void drawTickBox(const Canvas& canvas, float x, float y, bool ticked, uint32_t tickedFill, uint32_t tickColour,
                 bool hovered);
// A button: its shadow in the static layer; its body, label and hit rectangle in the dynamic one.
void drawButton(const Canvas& canvas, Box rect, const wchar_t* label, int32_t id, ButtonStyle style,
                Gdiplus::GpFont* font);
// A checkbox: its label in the static layer; its box and hit rectangle in the dynamic one.
void drawCheckbox(const Canvas& canvas, float x, float y, const wchar_t* label, bool ticked, int32_t id,
                  Gdiplus::GpFont* font);
void addHitRect(Box rect, int32_t id);
void addControl(const Canvas& canvas, int32_t id, ControlKind kind, const std::wstring& name, bool checked, Box box);
// The keyboard focus mark: a 2 px ring just outside the control's hit rectangle.
void drawFocusRing(const Canvas& canvas, Box hitRect, float radius);
