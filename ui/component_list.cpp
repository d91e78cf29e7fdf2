#include "ui/component_list.h"

#include "engine/components.h"

void drawComponentRow(const Canvas& canvas, float x, float y, float width, int index, Gdiplus::GpFont* titleFont,
                      Gdiplus::GpFont* detailFont) {
    const FrameState& frame = canvas.frame;
    const bool mandatory = index == ComponentCore;
    const int32_t id = FirstComponentRow + index;
    const std::wstring title = componentRowTitle(index, frame.gpuVendorIds);
    const std::wstring size = componentSizeText(frame.sizesKnown, frame.componentSizes[index]);
    const float sizeWidth = scaled(80.0f);

    if (canvas.drawsStatic()) {
        drawTextBox(canvas, title, titleFont, mandatory ? palette::kMuted : palette::kTitle,
                    {x + scaled(28.0f), y, width - scaled(28.0f) - sizeWidth, scaled(20.0f)}, Align::Near,
                    Align::Near);
        drawTextBox(canvas, componentTable[index].subtitle, detailFont, palette::kMuted,
                    {x + scaled(28.0f), y + scaled(19.0f), width - scaled(28.0f), scaled(18.0f)}, Align::Near,
                    Align::Near);
        if (!size.empty())
            drawTextBox(canvas, size, detailFont, palette::kMuted, {x + width - sizeWidth, y, sizeWidth, scaled(20.0f)},
                        Align::Far, Align::Near);
        return;
    }

    const bool ticked = frame.selectedComponents[index];
    drawTickBox(canvas, x, y + scaled(2.0f), ticked, mandatory ? palette::kLockedBox : palette::kAccent,
                mandatory ? palette::kMuted : palette::kOnAccent, frame.hoveredId == id);
    const Box row{x, y - scaled(2.0f), width, scaled(40.0f)};
    if (!mandatory) addHitRect(row, id);
    addControl(canvas, id, ControlKind::Checkbox, size.empty() ? title : title + L", " + size, ticked, row);
}
