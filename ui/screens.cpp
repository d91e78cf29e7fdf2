#include "ui/screens.h"

#include "app/app_state.h"
#include "platform/text.h"
#include "ui/component_list.h"

using namespace Gdiplus;

namespace {

// One paint's view of the window: the surface, the client size, the fonts and the flow position.
struct Page {
    Surface surface;
    float width, height;  // device px
    const Fonts& fonts;
    float flowY;  // logical px

    float margin() const { return scaled(kMargin); }
    float contentWidth() const { return width - 2.0f * margin(); }
    float y() const { return scaled(flowY); }
};

void drawParagraph(Page& page, const std::wstring& text, uint32_t argb) {
    drawTextBox(page.surface, text, page.fonts.body.get(), argb, {page.margin(), page.y(), page.contentWidth(), scaled(44.0f)},
                Align::Near, Align::Near);
    page.flowY += 46.0f;
}

void drawHeading(Page& page, const wchar_t* text) {
    drawTextBox(page.surface, text, page.fonts.heading.get(), palette::kTitle,
                {page.margin(), page.y(), scaled(300.0f), scaled(20.0f)}, Align::Near, Align::Near);
}

void drawLogo(Surface surface) {
    auto* logo = static_cast<GpImage*>(appState.logoImage);
    if (!logo) return;
    UINT imageWidth = 0, imageHeight = 0;
    gdip::GdipGetImageWidth(logo, &imageWidth);
    gdip::GdipGetImageHeight(logo, &imageHeight);
    if (imageHeight == 0) return;  // an undecodable logo draws nothing
    const float height = scaled(44.0f);
    const float width = height * static_cast<float>(imageWidth) / static_cast<float>(imageHeight);
    gdip::GdipDrawImageRect(surface, logo, scaled(32.0f), scaled(26.0f), width, height);
}

void drawFolderSection(Page& page) {
    const float boxWidth = page.contentWidth() - scaled(118.0f);
    const float top = page.y() + scaled(24.0f);
    drawHeading(page, L"Папка установки");
    const Box box{page.margin(), top, boxWidth, scaled(36.0f)};
    fillRoundRect(page.surface, box, scaled(6.0f), palette::kWhite);
    strokeRoundRect(page.surface, box, scaled(6.0f), palette::kOutline, 1.0f);
    drawTextBox(page.surface, appState.installDir, page.fonts.small.get(), palette::kBody,
                {page.margin() + scaled(12.0f), top, boxWidth - scaled(24.0f), scaled(36.0f)}, Align::Near,
                Align::Center);
    drawButton(page.surface, {page.margin() + boxWidth + scaled(10.0f), top, scaled(108.0f), scaled(36.0f)},
               L"Изменить…", ChangeFolderButton, ButtonStyle::Secondary, page.fonts.button.get());
    page.flowY += 78.0f;
}

void drawChooseBody(Page& page, const std::string& installedVersion) {
    const bool hasInstalledVersion = !installedVersion.empty();
    drawParagraph(page,
                  hasInstalledVersion ? L"Установлена версия " + toUtf16(installedVersion) +
                                            L". Скачаются только изменившиеся файлы — настройки и вход сохранятся."
                                      : L"Планировка торгового зала и оборудование из каталога в 3D. Файлы "
                                        L"скачиваются с сайта Торвел.",
                  palette::kBody);
    if (appState.runMode != Install) return;
    if (!hasInstalledVersion) drawFolderSection(page);

    drawHeading(page, L"Что установить");
    page.flowY += 28.0f;
    for (int i = 0; i < kComponentCount; ++i) {
        drawComponentRow(page.surface, page.margin(), page.y(), page.contentWidth(), i, page.fonts.heading.get(),
                         page.fonts.small.get());
        page.flowY += 44.0f;
    }
    page.flowY += 4.0f;
    if (!hasInstalledVersion) {
        drawCheckbox(page.surface, page.margin(), page.y(), L"Ярлык на рабочем столе", appState.desktopShortcut,
                     DesktopShortcutBox, page.fonts.body.get());
        page.flowY += 30.0f;
    }
    drawCheckbox(page.surface, page.margin(), page.y(), L"Запустить после установки", appState.launchAfterInstall,
                 LaunchAfterInstallBox, page.fonts.body.get());
}

void drawProgressBody(Page& page) {
    const uint64_t done = appState.bytesDone.load();
    const uint64_t total = appState.bytesTotal.load();
    const float fraction = progressFraction(done, total);
    const float top = page.y();
    fillRoundRect(page.surface, {page.margin(), top + scaled(8.0f), page.contentWidth(), scaled(10.0f)}, scaled(5.0f),
                  palette::kSoftFill);
    const float barWidth = progressBarWidth(page.contentWidth(), fraction, scaled(10.0f));
    if (barWidth > 0.0f)
        fillRoundRect(page.surface, {page.margin(), top + scaled(8.0f), barWidth, scaled(10.0f)}, scaled(5.0f),
                      palette::kAccent);
    drawTextBox(page.surface, progressFiguresText(done, total), page.fonts.small.get(), palette::kMuted,
                {page.margin(), top + scaled(24.0f), page.contentWidth(), scaled(20.0f)}, Align::Far, Align::Near);
    drawTextBox(page.surface, getStatus(), page.fonts.small.get(), palette::kBody,
                {page.margin(), top + scaled(24.0f), page.contentWidth() - scaled(140.0f), scaled(20.0f)}, Align::Near,
                Align::Near);
    page.flowY += 56.0f;
}

void drawBody(Page& page, Screen screen, const std::string& installedVersion) {
    switch (screen) {
        case Screen::Choose:
            drawChooseBody(page, installedVersion);
            break;
        case Screen::Progress:
            drawProgressBody(page);
            break;
        case Screen::Finished:
            drawParagraph(page,
                          L"Версия " + toUtf16(installedVersion) + L" установлена в " + appState.installDir +
                              L". Ярлык — в меню «Пуск».",
                          palette::kBody);
            break;
        case Screen::ConfirmUninstall:
            drawParagraph(page, L"Программа будет удалена из папки " + appState.installDir + L".", palette::kBody);
            drawCheckbox(page.surface, page.margin(), page.y() + scaled(4.0f),
                         L"Удалить и мои данные: настройки, вход на сайт, кэш моделей", appState.removeUserData,
                         RemoveUserDataBox, page.fonts.body.get());
            break;
        case Screen::Uninstalling:
            drawParagraph(page, getStatus(), palette::kBody);
            break;
        case Screen::Uninstalled:
            drawParagraph(page, L"Спасибо, что пользовались макетором Торвел.", palette::kBody);
            break;
    }
}

void drawButtonBar(Page& page, int32_t phase, const std::string& installedVersion) {
    const wchar_t* mainLabel = mainButtonLabel(phase, appState.runMode, installedVersion, getOfferedVersion());
    const float right = page.width - page.margin();
    for (const BarButton& button : buttonBarFor(phase, appState.runMode, mainLabel))
        drawButton(page.surface,
                   {right - scaled(button.fromRight), page.height - scaled(64.0f), scaled(button.width), scaled(40.0f)},
                   button.label, button.id, button.style, page.fonts.button.get());
}

}  // namespace

void drawScreen(Surface surface, float width, float height, const Fonts& fonts) {
    const int32_t phase = appState.phase.load();
    const Screen screen = screenFor(appState.runMode, phase, appState.bytesDone.load(), appState.bytesTotal.load());
    const std::string installedVersion = getInstalledVersion();
    Page page{surface, width, height, fonts, 134.0f};

    drawLogo(surface);
    drawTextBox(surface, screenTitle(screen, appState.runMode, !installedVersion.empty()), fonts.title.get(),
                palette::kTitle, {page.margin(), scaled(92.0f), page.contentWidth(), scaled(34.0f)}, Align::Near,
                Align::Near);
    drawBody(page, screen, installedVersion);
    const bool showsError =
        phase == Failed && (screen == Screen::Choose || screen == Screen::Progress || screen == Screen::ConfirmUninstall);
    if (showsError)
        drawTextBox(surface, getErrorText(), fonts.body.get(), palette::kDanger,
                    {page.margin(), height - scaled(118.0f), page.contentWidth(), scaled(44.0f)}, Align::Near,
                    Align::Near);
    drawButtonBar(page, phase, installedVersion);
    drawTextBox(surface, L"Торвел", fonts.small.get(), palette::kBrand,
                {page.margin(), height - scaled(64.0f), scaled(200.0f), scaled(40.0f)}, Align::Near, Align::Center);
}
