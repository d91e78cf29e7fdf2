#include "ui/layout.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "engine/components.h"
#include "engine/version_order.h"
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

bool offersOlderRelease(const std::string& installedVersion, const std::string& offeredVersion) {
    return !offeredVersion.empty() && isDowngrade(installedVersion, offeredVersion);
}

std::wstring chooseIntroText(const std::string& installedVersion, const std::string& offeredVersion) {
    if (installedVersion.empty())
        return L"Планировка торгового зала и оборудование из каталога в 3D. Файлы скачиваются с сайта Торвел.";
    if (offersOlderRelease(installedVersion, offeredVersion))
        return L"Установлена версия " + toUtf16(installedVersion) + L". На сайте Торвел сейчас более старая версия " +
               toUtf16(offeredVersion) + L" — обновлять нечего.";
    return L"Установлена версия " + toUtf16(installedVersion) +
           L". Скачаются только изменившиеся файлы — настройки и вход сохранятся.";
}

const wchar_t* mainButtonLabel(int32_t phase, RunMode mode, const std::string& installedVersion,
                               const std::string& offeredVersion) {
    if (phase == Failed) return L"Повторить";
    if (mode == Uninstall) return L"Удалить";
    if (installedVersion.empty()) return L"Установить";
    if (offersOlderRelease(installedVersion, offeredVersion)) return nullptr;
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
    if (!mainLabel) return {{SecondButton, ButtonStyle::Secondary, L"Закрыть", 120, 120}};
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

bool controlEnabled(int32_t id, int32_t phase) {
    if (id == FirstComponentRow) return false;  // the application itself is always installed
    if (id == ChangeFolderButton) return phase == Ready;
    if (id > FirstComponentRow && id < FirstComponentRow + kComponentCount) return phase == Ready || phase == Failed;
    return id >= 0;
}

namespace {

std::vector<int32_t> focusableIds(const std::vector<HitRect>& rects, int32_t phase) {
    std::vector<int32_t> ids;
    for (const HitRect& r : rects)
        if (controlEnabled(r.id, phase) && std::find(ids.begin(), ids.end(), r.id) == ids.end()) ids.push_back(r.id);
    return ids;
}

}  // namespace

int32_t nextFocus(const std::vector<HitRect>& rects, int32_t phase, int32_t focused, bool backwards) {
    const std::vector<int32_t> ids = focusableIds(rects, phase);
    if (ids.empty()) return NoControl;
    const auto at = std::find(ids.begin(), ids.end(), focused);
    if (at == ids.end()) return backwards ? ids.back() : ids.front();
    const size_t index = static_cast<size_t>(at - ids.begin());
    const size_t count = ids.size();
    return ids[backwards ? (index + count - 1) % count : (index + 1) % count];
}

int32_t focusAfterFrame(const std::vector<HitRect>& rects, int32_t phase, int32_t focused) {
    if (focused == NoControl) return NoControl;
    const std::vector<int32_t> ids = focusableIds(rects, phase);
    for (int32_t wanted : {focused, static_cast<int32_t>(MainButton), static_cast<int32_t>(SecondButton)})
        if (std::find(ids.begin(), ids.end(), wanted) != ids.end()) return wanted;
    return NoControl;
}

TextSpan pathSpan(const std::wstring& text) {
    TextSpan span;
    bool found = false;
    size_t wordStart = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != L' ') continue;
        const std::wstring_view word(text.data() + wordStart, i - wordStart);
        if (word.find_first_of(L"\\/") != std::wstring_view::npos) {
            if (!found) span.begin = wordStart;
            span.end = i;
            found = true;
        }
        wordStart = i + 1;
    }
    return found ? span : TextSpan{};
}

namespace {

// The text with `dropped` characters of the span replaced by "…": a third of what is kept before it, the rest
// (the folder or file the path ends in) after it.
std::wstring elide(const std::wstring& text, TextSpan span, size_t dropped) {
    const size_t kept = (span.end - span.begin) - dropped;
    const size_t head = std::max<size_t>(1, kept / 3);
    const size_t tail = kept - head;
    return text.substr(0, span.begin + head) + L"\u2026" + text.substr(span.end - tail);
}

}  // namespace

std::wstring fitTextToLines(const std::wstring& text, int maxLines,
                            const std::function<int(const std::wstring&)>& linesNeeded) {
    if (linesNeeded(text) <= maxLines) return text;
    const TextSpan span = pathSpan(text);
    const size_t length = span.end - span.begin;
    if (length < 3) return text;
    // Keep at least the first and the last character of the path around the ellipsis.
    size_t low = 1, high = length - 2;
    if (linesNeeded(elide(text, span, high)) > maxLines) return elide(text, span, high);
    while (low < high) {  // the fewest dropped characters that fit
        const size_t middle = low + (high - low) / 2;
        if (linesNeeded(elide(text, span, middle)) <= maxLines)
            high = middle;
        else
            low = middle + 1;
    }
    return elide(text, span, low);
}

bool needsErrorRoom(RunMode mode, Screen screen, int32_t phase, bool hasInstalledVersion) {
    return mode == Install && screen == Screen::Choose && phase == Failed && !hasInstalledVersion;
}

ErrorBlock errorRoom(float clientHeight, float bodyBottom) {
    return {bodyBottom + 8.0f, clientHeight - 74.0f};
}

float errorTextTop(const ErrorBlock& room, float clientHeight, float textHeight) {
    return std::max(room.top, std::min(clientHeight - 118.0f, room.bottom - textHeight));
}
