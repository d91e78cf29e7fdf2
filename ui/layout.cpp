#include "ui/layout.h"

#include <algorithm>
#include <cstdio>

#include "engine/components.h"
#include "platform/text.h"

Screen screenFor(RunMode mode, int32_t phase, uint64_t bytesDone, uint64_t bytesTotal) {
    if (mode == Uninstall) {
        if (phase == Running) return Screen::Uninstalling;
        if (phase == Done) return Screen::Uninstalled;
        return Screen::ConfirmUninstall;
    }
    switch (phase) {
        case Running:
            return Screen::Progress;
        case Done:
            return Screen::Finished;
        case Failed:
            // A run that failed before counting a byte has nothing to show on the progress page.
            return (bytesTotal != 0 || bytesDone != 0) ? Screen::Progress : Screen::Choose;
        default:
            return Screen::Choose;
    }
}

const wchar_t* screenTitle(Screen screen, RunMode mode, bool hasInstalledVersion) {
    switch (screen) {
        case Screen::Choose:
        case Screen::Progress:
            return (mode == Update || hasInstalledVersion) ? L"Обновление 3D-макетора" : L"Установка 3D-макетора";
        case Screen::Finished:
            return L"Готово!";
        case Screen::ConfirmUninstall:
        case Screen::Uninstalling:
            return L"Удалить 3D-макетор?";
        case Screen::Uninstalled:
            return L"Макетор удалён";
    }
    return L"";
}

const wchar_t* mainButtonLabel(int32_t phase, RunMode mode, const std::string& installedVersion,
                               const std::string& offeredVersion) {
    if (phase == Failed) return L"Повторить";
    if (mode == Uninstall) return L"Удалить";
    if (installedVersion.empty()) return L"Установить";
    if (!offeredVersion.empty() && offeredVersion == installedVersion) return L"Применить";
    return L"Обновить";
}

std::vector<BarButton> buttonBarFor(int32_t phase, RunMode mode, const wchar_t* mainLabel) {
    if (phase == Running) return {{SecondButton, ButtonStyle::Secondary, L"Отмена", 120, 120}};
    if (phase == Done) {
        if (mode == Uninstall) return {{MainButton, ButtonStyle::Primary, L"Закрыть", 140, 140}};
        return {{MainButton, ButtonStyle::Primary, L"Запустить", 150, 150},
                {SecondButton, ButtonStyle::Secondary, L"Закрыть", 150 + 10 + 120, 120}};
    }
    const ButtonStyle mainStyle = mode == Uninstall ? ButtonStyle::Danger : ButtonStyle::Primary;
    return {{MainButton, mainStyle, mainLabel, 160, 160},
            {SecondButton, ButtonStyle::Secondary, L"Отмена", 160 + 10 + 120, 120}};
}

float progressFraction(uint64_t bytesDone, uint64_t bytesTotal) {
    if (bytesTotal == 0) return 0.0f;
    return std::min(static_cast<float>(bytesDone) / static_cast<float>(bytesTotal), 1.0f);
}

float progressBarWidth(float trackWidth, float fraction, float minimumWidth) {
    if (!(fraction > 0.0f)) return 0.0f;
    return std::max(trackWidth * fraction, minimumWidth);
}

std::wstring progressFiguresText(uint64_t bytesDone, uint64_t bytesTotal) {
    if (bytesTotal == 0) return {};
    const double mebibyte = 1024.0 * 1024.0;
    wchar_t text[96];
    swprintf(text, 96, L"%.1f из %.1f МБ", static_cast<double>(bytesDone) / mebibyte,
             static_cast<double>(bytesTotal) / mebibyte);
    return text;
}

std::wstring componentSizeText(bool sizesKnown, uint64_t bytes) {
    if (!sizesKnown || bytes == 0) return {};
    const double mebibytes = std::max(static_cast<double>(bytes) / (1024.0 * 1024.0), 1.0);
    wchar_t text[32];
    swprintf(text, 32, L"%.0f МБ", mebibytes);
    return text;
}

bool componentMatchesAdapter(int index, const std::vector<uint32_t>& gpuVendorIds) {
    if (index < ComponentNvidia || index > ComponentIntel) return false;
    const uint32_t vendor = componentTable[index].gpuVendorId;
    return std::find(gpuVendorIds.begin(), gpuVendorIds.end(), vendor) != gpuVendorIds.end();
}

std::wstring componentRowTitle(int index, const std::vector<uint32_t>& gpuVendorIds) {
    std::wstring title = componentTable[index].title;
    if (componentMatchesAdapter(index, gpuVendorIds)) title += L"  \u00B7  ваша видеокарта";
    return title;
}

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the root: "D:\" or "D:", "\\server\share\", or a leading separator.
size_t rootLength(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') return (path.size() >= 3 && isSeparator(path[2])) ? 3 : 2;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        size_t pos = 2;
        for (int part = 0; part < 2 && pos < path.size(); ++part) {
            while (pos < path.size() && !isSeparator(path[pos])) ++pos;
            if (pos < path.size()) ++pos;
        }
        return pos;
    }
    return (!path.empty() && isSeparator(path[0])) ? 1 : 0;
}

}  // namespace

std::wstring installFolderForChoice(const std::wstring& chosenPath) {
    const size_t root = rootLength(chosenPath);
    size_t start = root;
    for (size_t i = root; i < chosenPath.size(); ++i)
        if (isSeparator(chosenPath[i])) start = i + 1;
    if (chosenPath.compare(start, std::wstring::npos, L"Maketor") == 0) return chosenPath;
    return pathJoin(chosenPath, L"Torvel Maketor");
}

int32_t hitTest(const std::vector<HitRect>& rects, float x, float y) {
    int32_t id = NoControl;
    for (const HitRect& r : rects)
        if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) id = r.id;
    return id;
}
