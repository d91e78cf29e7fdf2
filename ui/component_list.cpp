#include "ui/component_list.h"

#include "app/app_state.h"
#include "engine/components.h"

void drawComponentRow(Surface surface, float x, float y, float width, int index, Gdiplus::GpFont* titleFont,
                      Gdiplus::GpFont* detailFont) {
    const bool mandatory = index == ComponentCore;
    const int32_t id = FirstComponentRow + index;
    drawTickBox(surface, x, y + scaled(2.0f), appState.selectedComponents[index],
                mandatory ? palette::kLockedBox : palette::kAccent, mandatory ? palette::kMuted : palette::kOnAccent,
                appState.hoveredId == id);

    const float sizeWidth = scaled(80.0f);
    drawTextBox(surface, componentRowTitle(index, appState.gpuVendorIds), titleFont,
                mandatory ? palette::kMuted : palette::kTitle,
                {x + scaled(28.0f), y, width - scaled(28.0f) - sizeWidth, scaled(20.0f)}, Align::Near, Align::Near);
    drawTextBox(surface, componentTable[index].subtitle, detailFont, palette::kMuted,
                {x + scaled(28.0f), y + scaled(19.0f), width - scaled(28.0f), scaled(18.0f)}, Align::Near,
                Align::Near);

    // The sizes are complete once the flag is seen set.
    const bool sizesKnown = appState.sizesKnown.load();
    const std::wstring size = componentSizeText(sizesKnown, sizesKnown ? appState.componentSizes[index] : 0);
    if (!size.empty())
        drawTextBox(surface, size, detailFont, palette::kMuted, {x + width - sizeWidth, y, sizeWidth, scaled(20.0f)},
                    Align::Far, Align::Near);

    if (!mandatory) addHitRect({x, y - scaled(2.0f), width, scaled(40.0f)}, id);
}
