#include "ui/screens.h"

#include <algorithm>
#include <cmath>

#include "platform/text.h"
#include "ui/component_list.h"

using namespace Gdiplus;

namespace {

// One pass over the page: the canvas, the fonts, the flow position and the bottom of the body drawn so far.
struct Page {
    const Canvas& canvas;
    const Fonts& fonts;
    float flowY;       // logical px
    float bodyBottom;  // logical px: the lowest element of the body

    const FrameState& frame() const { return canvas.frame; }
    float width() const { return static_cast<float>(canvas.frame.width); }
    float height() const { return static_cast<float>(canvas.frame.height); }
    float margin() const { return scaled(kMargin); }
    float contentWidth() const { return width() - 2.0f * margin(); }
    float y() const { return scaled(flowY); }
    void bodyReaches(float logicalBottom) { bodyBottom = std::max(bodyBottom, logicalBottom); }
};

void drawParagraph(Page& page, const std::wstring& text, uint32_t argb) {
    if (page.canvas.drawsStatic())
        drawTextBox(page.canvas, text, page.fonts.body.get(), argb,
                    {page.margin(), page.y(), page.contentWidth(), scaled(44.0f)}, Align::Near, Align::Near);
    page.bodyReaches(page.flowY + 44.0f);
    page.flowY += 46.0f;
}

void drawHeading(Page& page, const wchar_t* text) {
    if (page.canvas.drawsStatic())
        drawTextBox(page.canvas, text, page.fonts.heading.get(), palette::kTitle,
                    {page.margin(), page.y(), scaled(300.0f), scaled(20.0f)}, Align::Near, Align::Near);
}

void drawLogo(const Canvas& canvas) {
    auto* logo = static_cast<GpImage*>(const_cast<void*>(canvas.frame.logoImage));
    if (!logo || !canvas.drawsStatic()) return;
    UINT imageWidth = 0, imageHeight = 0;
    gdip::GdipGetImageWidth(logo, &imageWidth);
    gdip::GdipGetImageHeight(logo, &imageHeight);
    if (imageHeight == 0) return;  // an undecodable logo draws nothing
    const float height = scaled(44.0f);
    const float width = height * static_cast<float>(imageWidth) / static_cast<float>(imageHeight);
    drawImage(canvas, logo, {scaled(32.0f), scaled(26.0f), width, height});
}

void drawFolderSection(Page& page) {
    const float boxWidth = page.contentWidth() - scaled(118.0f);
    const float top = page.y() + scaled(24.0f);
    drawHeading(page, L"Папка установки");
    if (page.canvas.drawsStatic()) {
        const Box box{page.margin(), top, boxWidth, scaled(36.0f)};
        fillRoundRect(page.canvas, box, scaled(6.0f), palette::kWhite);
        strokeRoundRect(page.canvas, box, scaled(6.0f), palette::kOutline, 1.0f);
        drawTextBox(page.canvas, page.frame().installDir, page.fonts.small.get(), palette::kBody,
                    {page.margin() + scaled(12.0f), top, boxWidth - scaled(24.0f), scaled(36.0f)}, Align::Near,
                    Align::Center);
    }
    drawButton(page.canvas, {page.margin() + boxWidth + scaled(10.0f), top, scaled(108.0f), scaled(36.0f)},
               L"Изменить…", ChangeFolderButton, ButtonStyle::Secondary, page.fonts.button.get());
    page.flowY += 78.0f;
}

void drawChooseBody(Page& page) {
    const FrameState& frame = page.frame();
    const bool hasInstalledVersion = !frame.installedVersion.empty();
    drawParagraph(page, chooseIntroText(frame.installedVersion, frame.offeredVersion), palette::kBody);
    if (frame.mode != Install) return;
    if (!hasInstalledVersion) drawFolderSection(page);

    drawHeading(page, L"Что установить");
    page.flowY += 28.0f;
    for (int i = 0; i < kComponentCount; ++i) {
        drawComponentRow(page.canvas, page.margin(), page.y(), page.contentWidth(), i, page.fonts.heading.get(),
                         page.fonts.small.get());
        page.flowY += 44.0f;
    }
    page.flowY += 4.0f;
    if (!hasInstalledVersion) {
        drawCheckbox(page.canvas, page.margin(), page.y(), L"Ярлык на рабочем столе", frame.desktopShortcut,
                     DesktopShortcutBox, page.fonts.body.get());
        page.flowY += 30.0f;
    }
    drawCheckbox(page.canvas, page.margin(), page.y(), L"Запустить после установки", frame.launchAfterInstall,
                 LaunchAfterInstallBox, page.fonts.body.get());
    page.bodyReaches(page.flowY + 21.0f);  // the checkbox's hit rectangle
}

void drawProgressBody(Page& page) {
    const FrameState& frame = page.frame();
    const float top = page.y();
    if (page.canvas.drawsStatic()) {
        fillRoundRect(page.canvas, {page.margin(), top + scaled(8.0f), page.contentWidth(), scaled(10.0f)},
                      scaled(5.0f), palette::kSoftFill);
    } else {
        const float barWidth = progressBarPixels(frame);
        if (barWidth > 0.0f)
            fillRoundRect(page.canvas, {page.margin(), top + scaled(8.0f), barWidth, scaled(10.0f)}, scaled(5.0f),
                          palette::kAccent);
        drawTextBox(page.canvas, progressFiguresText(frame.bytesDone, frame.bytesTotal), page.fonts.small.get(),
                    palette::kMuted, {page.margin(), top + scaled(24.0f), page.contentWidth(), scaled(20.0f)},
                    Align::Far, Align::Near);
        drawTextBox(page.canvas, frame.statusText, page.fonts.small.get(), palette::kBody,
                    {page.margin(), top + scaled(24.0f), page.contentWidth() - scaled(140.0f), scaled(20.0f)},
                    Align::Near, Align::Near);
    }
    page.bodyReaches(page.flowY + 44.0f);
    page.flowY += 56.0f;
}

void drawBody(Page& page) {
    const FrameState& frame = page.frame();
    switch (frame.screen) {
        case Screen::Choose:
            drawChooseBody(page);
            break;
        case Screen::Progress:
            drawProgressBody(page);
            break;
        case Screen::Finished:
            drawParagraph(page,
                          L"Версия " + toUtf16(frame.installedVersion) + L" установлена в " + frame.installDir +
                              L". Ярлык — в меню «Пуск».",
                          palette::kBody);
            break;
        case Screen::ConfirmUninstall:
            drawParagraph(page, L"Программа будет удалена из папки " + frame.installDir + L".", palette::kBody);
            drawCheckbox(page.canvas, page.margin(), page.y() + scaled(4.0f),
                         L"Удалить и мои данные: настройки, вход на сайт, кэш моделей", frame.removeUserData,
                         RemoveUserDataBox, page.fonts.body.get());
            page.bodyReaches(page.flowY + 4.0f + 21.0f);
            break;
        case Screen::Uninstalling:
            drawParagraph(page, frame.statusText, palette::kBody);
            break;
        case Screen::Uninstalled:
            drawParagraph(page, L"Спасибо, что пользовались макетором Торвел.", palette::kBody);
            break;
    }
}

// The error text between the body and the button bar, wrapped; a path in it loses its middle when the text
// would not fit in the room there otherwise.
void drawErrorText(const Page& page) {
    const Canvas& canvas = page.canvas;
    GpFont* font = page.fonts.body.get();
    const float scale = canvas.frame.scale;
    const float logicalHeight = page.height() / scale;
    const ErrorBlock room = errorRoom(logicalHeight, page.bodyBottom);
    const float line = lineHeight(canvas.surface, font);
    const int maxLines = line > 0.0f ? std::max(1, static_cast<int>(std::floor(scaled(room.bottom - room.top) / line)))
                                     : 1;
    const Box measureBox{page.margin(), 0.0f, page.contentWidth(), 1e6f};
    const std::wstring text = fitTextToLines(canvas.frame.errorText, maxLines, [&](const std::wstring& candidate) {
        return measureText(canvas.surface, candidate, font, measureBox, Align::Near, Align::Near).lines;
    });
    const int lines = std::clamp(
        measureText(canvas.surface, text, font, measureBox, Align::Near, Align::Near).lines, 1, maxLines);
    const float textHeight = line > 0.0f ? line * static_cast<float>(lines) : scaled(44.0f);
    const float top = errorTextTop(room, logicalHeight, textHeight / scale);
    // The box reaches 8 px below the room, so that rounding never drops the last line; the text ends above it.
    drawTextBox(canvas, text, font, palette::kDanger,
                {page.margin(), scaled(top), page.contentWidth(), scaled(room.bottom + 8.0f - top)}, Align::Near,
                Align::Near, Drawn::ErrorText);
}

void drawButtonBar(const Page& page) {
    const FrameState& frame = page.frame();
    const wchar_t* mainLabel = mainButtonLabel(frame.phase, frame.mode, frame.installedVersion, frame.offeredVersion);
    const float right = page.width() - page.margin();
    for (const BarButton& button : buttonBarFor(frame.phase, frame.mode, mainLabel))
        drawButton(page.canvas,
                   {right - scaled(button.fromRight), page.height() - scaled(64.0f), scaled(button.width),
                    scaled(40.0f)},
                   button.label, button.id, button.style, page.fonts.button.get());
}

}  // namespace

void drawScreen(const Canvas& canvas, const Fonts& fonts) {
    const FrameState& frame = canvas.frame;
    Page page{canvas, fonts, 134.0f, 134.0f};

    drawLogo(canvas);
    if (canvas.drawsStatic())
        drawTextBox(canvas, screenTitle(frame.screen, frame.mode, !frame.installedVersion.empty()), fonts.title.get(),
                    palette::kTitle, {page.margin(), scaled(92.0f), page.contentWidth(), scaled(34.0f)}, Align::Near,
                    Align::Near);
    drawBody(page);
    const bool showsError = frame.phase == Failed && (frame.screen == Screen::Choose ||
                                                      frame.screen == Screen::Progress ||
                                                      frame.screen == Screen::ConfirmUninstall);
    if (showsError && canvas.drawsStatic()) drawErrorText(page);
    drawButtonBar(page);
    if (canvas.drawsStatic())
        drawTextBox(canvas, L"Торвел", fonts.small.get(), palette::kBrand,
                    {page.margin(), page.height() - scaled(64.0f), scaled(200.0f), scaled(40.0f)}, Align::Near,
                    Align::Center);
}
