// The window's pure decisions: screen, title, button bar, labels, progress, sizes, folder rule, hit test.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text.h"
#include "ui/layout.h"

namespace {

struct ScreenCase {
    RunMode mode;
    int32_t phase;
    uint64_t done, total;
    Screen expected;
};

TEST(ScreenFor, FollowsModePhaseAndCounters) {
    const ScreenCase cases[] = {
        {Install, Ready, 0, 0, Screen::Choose},
        {Update, Ready, 0, 0, Screen::Choose},
        {Install, Failed, 0, 0, Screen::Choose},
        {Update, Failed, 0, 0, Screen::Choose},
        {Install, Failed, 0, 100, Screen::Progress},
        {Install, Failed, 5, 0, Screen::Progress},
        {Update, Failed, 1, 1, Screen::Progress},
        {Install, Running, 0, 0, Screen::Progress},
        {Update, Running, 0, 0, Screen::Progress},
        {Install, Done, 0, 0, Screen::Finished},
        {Update, Done, 9, 9, Screen::Finished},
        {Uninstall, Ready, 0, 0, Screen::ConfirmUninstall},
        {Uninstall, Failed, 7, 7, Screen::ConfirmUninstall},
        {Uninstall, Running, 0, 0, Screen::Uninstalling},
        {Uninstall, Done, 0, 0, Screen::Uninstalled},
    };
    for (const ScreenCase& c : cases)
        EXPECT_EQ(screenFor(c.mode, c.phase, c.done, c.total), c.expected)
            << "mode " << c.mode << " phase " << c.phase << " done " << c.done << " total " << c.total;
}

TEST(ScreenTitle, DependsOnScreenModeAndInstalledVersion) {
    struct Case {
        Screen screen;
        RunMode mode;
        bool installed;
        const wchar_t* expected;
    } const cases[] = {
        {Screen::Choose, Install, false, L"Установка 3D-макетора"},
        {Screen::Progress, Install, false, L"Установка 3D-макетора"},
        {Screen::Choose, Install, true, L"Обновление 3D-макетора"},
        {Screen::Choose, Update, false, L"Обновление 3D-макетора"},
        {Screen::Progress, Update, true, L"Обновление 3D-макетора"},
        {Screen::Finished, Install, true, L"Готово!"},
        {Screen::ConfirmUninstall, Uninstall, true, L"Удалить 3D-макетор?"},
        {Screen::Uninstalling, Uninstall, true, L"Удалить 3D-макетор?"},
        {Screen::Uninstalled, Uninstall, false, L"Макетор удалён"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(screenTitle(c.screen, c.mode, c.installed), c.expected) << static_cast<int>(c.screen);
}

TEST(MainButtonLabel, FirstMatchingRuleWins) {
    struct Case {
        int32_t phase;
        RunMode mode;
        const char* installed;
        const char* offered;
        const wchar_t* expected;
    } const cases[] = {
        {Failed, Install, "", "", L"Повторить"},
        {Failed, Uninstall, "1.0", "", L"Повторить"},
        {Failed, Install, "1.0", "1.0", L"Повторить"},
        {Ready, Uninstall, "1.0", "1.0", L"Удалить"},
        {Ready, Install, "", "2.0", L"Установить"},
        {Ready, Install, "", "", L"Установить"},
        {Ready, Install, "2.0", "2.0", L"Применить"},
        {Ready, Install, "2.0", "2.1", L"Обновить"},
        {Ready, Install, "2.0", "", L"Обновить"},      // release check not yet done
        {Ready, Install, "2.0", "2.0 ", nullptr},  // byte for byte; the text after the numbers: a pre-release
        {Ready, Install, "2.0", "2.00", L"Обновить"},
        {Ready, Update, "2.0", "", L"Обновить"},
        // An older release on the site is no update: nothing is offered.
        {Ready, Install, "1.10", "1.9", nullptr},
        {Ready, Install, "3.1.0", "3.1.0-бета", nullptr},
        {Ready, Install, "1.9", "1.10", L"Обновить"},
        {Ready, Install, "", "1.9", L"Установить"},
        {Failed, Install, "1.10", "1.9", L"Повторить"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(mainButtonLabel(c.phase, c.mode, c.installed, c.offered), c.expected)
            << c.phase << " " << c.mode << " '" << c.installed << "' '" << c.offered << "'";
}

TEST(ChooseIntroText, SaysWhatIsInstalledAndWhenTheSiteHasAnOlderRelease) {
    struct Case {
        const char* installed;
        const char* offered;
        const wchar_t* expected;
    } const cases[] = {
        {"", "",
         L"Планировка торгового зала и оборудование из каталога в 3D. Файлы скачиваются с сайта Торвел."},
        {"", "1.9",
         L"Планировка торгового зала и оборудование из каталога в 3D. Файлы скачиваются с сайта Торвел."},
        {"1.9", "1.10",
         L"Установлена версия 1.9. Скачаются только изменившиеся файлы — настройки и вход сохранятся."},
        {"1.9", "", L"Установлена версия 1.9. Скачаются только изменившиеся файлы — настройки и вход сохранятся."},
        {"1.10", "1.10",
         L"Установлена версия 1.10. Скачаются только изменившиеся файлы — настройки и вход сохранятся."},
        {"1.10", "1.9", L"Установлена версия 1.10. На сайте Торвел сейчас более старая версия 1.9 — обновлять нечего."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseIntroText(c.installed, c.offered), c.expected) << c.installed << " / " << c.offered;
}

TEST(ButtonBar, DependsOnPhaseAndMode) {
    struct Case {
        int32_t phase;
        RunMode mode;
        std::vector<BarButton> expected;
        bool withoutMain = false;  // the bar is asked with no main label
    };
    const wchar_t* main = L"Главная";
    const Case cases[] = {
        {Running, Install, {{SecondButton, ButtonStyle::Secondary, L"Отмена", 120, 120}}},
        {Running, Uninstall, {{SecondButton, ButtonStyle::Secondary, L"Отмена", 120, 120}}},
        {Done, Uninstall, {{MainButton, ButtonStyle::Primary, L"Закрыть", 140, 140}}},
        {Done,
         Install,
         {{MainButton, ButtonStyle::Primary, L"Запустить", 150, 150},
          {SecondButton, ButtonStyle::Secondary, L"Закрыть", 280, 120}}},
        {Done,
         Update,
         {{MainButton, ButtonStyle::Primary, L"Запустить", 150, 150},
          {SecondButton, ButtonStyle::Secondary, L"Закрыть", 280, 120}}},
        {Ready,
         Install,
         {{MainButton, ButtonStyle::Primary, main, 160, 160},
          {SecondButton, ButtonStyle::Secondary, L"Отмена", 290, 120}}},
        {Failed,
         Update,
         {{MainButton, ButtonStyle::Primary, main, 160, 160},
          {SecondButton, ButtonStyle::Secondary, L"Отмена", 290, 120}}},
        {Ready,
         Uninstall,
         {{MainButton, ButtonStyle::Danger, main, 160, 160},
          {SecondButton, ButtonStyle::Secondary, L"Отмена", 290, 120}}},
        {Failed,
         Uninstall,
         {{MainButton, ButtonStyle::Danger, main, 160, 160},
          {SecondButton, ButtonStyle::Secondary, L"Отмена", 290, 120}}},
        // Nothing to offer.
        {Ready, Install, {{SecondButton, ButtonStyle::Secondary, L"Закрыть", 120, 120}}, true},
    };
    for (const Case& c : cases) {
        const std::vector<BarButton> bar = buttonBarFor(c.phase, c.mode, c.withoutMain ? nullptr : main);
        ASSERT_EQ(bar.size(), c.expected.size()) << c.phase << " " << c.mode;
        for (size_t i = 0; i < bar.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "phase " << c.phase << " mode " << c.mode << " button " << i);
            EXPECT_EQ(bar[i].id, c.expected[i].id);
            EXPECT_EQ(bar[i].style, c.expected[i].style);
            EXPECT_STREQ(bar[i].label, c.expected[i].label);
            EXPECT_FLOAT_EQ(bar[i].fromRight, c.expected[i].fromRight);
            EXPECT_FLOAT_EQ(bar[i].width, c.expected[i].width);
        }
    }
}

TEST(Progress, FractionClampsAndBarKeepsItsMinimumWidth) {
    struct Case {
        uint64_t done, total;
        float fraction;
        float barWidth;  // track 536, minimum 10
    } const cases[] = {
        {0, 0, 0.0f, 0.0f},
        {5, 0, 0.0f, 0.0f},
        {0, 1000, 0.0f, 0.0f},
        {1, 1000, 0.001f, 10.0f},  // 0.1 % still shows a 10 px bar
        {500, 1000, 0.5f, 268.0f},
        {1000, 1000, 1.0f, 536.0f},
        {1500, 1000, 1.0f, 536.0f},  // counters read at different moments
        {1ull << 40, 1ull << 41, 0.5f, 268.0f},
    };
    for (const Case& c : cases) {
        const float f = progressFraction(c.done, c.total);
        EXPECT_FLOAT_EQ(f, c.fraction) << c.done << "/" << c.total;
        EXPECT_FLOAT_EQ(progressBarWidth(536.0f, f, 10.0f), c.barWidth) << c.done << "/" << c.total;
    }
}

TEST(Progress, FiguresInMebibytesWithOneDecimal) {
    struct Case {
        uint64_t done, total;
        const wchar_t* expected;
    } const cases[] = {
        {0, 0, L""},
        {123, 0, L""},
        {0, 1048576, L"0.0 из 1.0 МБ"},
        {1572864, 10485760, L"1.5 из 10.0 МБ"},
        {52428, 104857600, L"0.0 из 100.0 МБ"},
        {734003200, 734003200, L"700.0 из 700.0 МБ"},
        {18446744073709551615ull, 18446744073709551615ull, L"17592186044416.0 из 17592186044416.0 МБ"},
    };
    for (const Case& c : cases) EXPECT_EQ(progressFiguresText(c.done, c.total), c.expected) << c.done;
}

TEST(ComponentSize, WholeMebibytesNeverBelowOne) {
    struct Case {
        bool known;
        uint64_t bytes;
        const wchar_t* expected;
    } const cases[] = {
        {false, 734003200, L""},
        {true, 0, L""},
        {true, 1, L"1 МБ"},
        {true, 300 * 1024, L"1 МБ"},
        {true, 1048576, L"1 МБ"},
        {true, 1572864, L"2 МБ"},
        {true, 1572863, L"1 МБ"},
        {true, 734003200, L"700 МБ"},
        {true, 18446744073709551615ull, L"17592186044416 МБ"},
    };
    for (const Case& c : cases) EXPECT_EQ(componentSizeText(c.known, c.bytes), c.expected) << c.known << " " << c.bytes;
}

TEST(ComponentRowTitle, NotesTheMachinesGraphicsVendors) {
    const std::vector<uint32_t> nvidiaAndIntel = {0x10DE, 0x8086};
    const std::vector<uint32_t> none;
    const std::vector<uint32_t> amd = {0x1002, 0x1414};
    struct Case {
        int index;
        const std::vector<uint32_t>& adapters;
        bool matches;
    } const cases[] = {
        {0, nvidiaAndIntel, false}, {1, nvidiaAndIntel, true}, {2, nvidiaAndIntel, false},
        {3, nvidiaAndIntel, true},  {4, nvidiaAndIntel, false}, {1, none, false},
        {2, amd, true},             {3, amd, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(componentMatchesAdapter(c.index, c.adapters), c.matches) << c.index;
        const std::wstring title = componentRowTitle(c.index, c.adapters);
        const std::wstring note = L"  \u00B7  ваша видеокарта";
        const bool hasNote = title.size() > note.size() && title.compare(title.size() - note.size(), note.size(), note) == 0;
        EXPECT_EQ(hasNote, c.matches) << c.index;
    }
    // Rows without a vendor never match, whatever the machine reports (0 stands for "none" in the table).
    EXPECT_FALSE(componentMatchesAdapter(0, {0}));
    EXPECT_FALSE(componentMatchesAdapter(4, {0}));
}

TEST(InstallFolderForChoice, MaketorIsKeptOtherFoldersGetASubfolder) {
    struct Case {
        const wchar_t* chosen;
        const wchar_t* expected;
    } const cases[] = {
        {L"D:\\Apps", L"D:\\Apps\\Torvel Maketor"},
        {L"D:\\Apps\\Maketor", L"D:\\Apps\\Maketor"},
        {L"D:\\", L"D:\\Torvel Maketor"},
        {L"D:\\Maketor", L"D:\\Maketor"},
        {L"D:\\Apps\\maketor", L"D:\\Apps\\maketor\\Torvel Maketor"},  // case-sensitive
        {L"D:\\Apps\\Maketor2", L"D:\\Apps\\Maketor2\\Torvel Maketor"},
        {L"D:\\Apps\\Maketor\\", L"D:\\Apps\\Maketor\\Torvel Maketor"},  // ends in a separator
        {L"D:/Apps/Maketor", L"D:/Apps/Maketor"},
        {L"\\\\server\\Maketor", L"\\\\server\\Maketor\\Torvel Maketor"},  // a share name is part of the root
        {L"\\\\server\\share\\Maketor", L"\\\\server\\share\\Maketor"},
        {L"\\\\server\\share", L"\\\\server\\share\\Torvel Maketor"},
    };
    for (const Case& c : cases) EXPECT_EQ(installFolderForChoice(c.chosen), c.expected) << c.chosen;
}

TEST(HitTest, LastContainingRectangleWinsAndEdgesAreHalfOpen) {
    const std::vector<HitRect> rects = {
        {10, 10, 100, 40, 1},
        {50, 20, 20, 10, 2},  // drawn over the first
        {200, 10, 50, 50, 3},
    };
    struct Case {
        float x, y;
        int32_t expected;
    } const cases[] = {
        {10, 10, 1},      {109.9f, 49.9f, 1}, {110, 20, -1},  {30, 50, -1},   {9.99f, 20, -1},
        {50, 20, 2},      {69.9f, 29.9f, 2},  {70, 20, 1},    {60, 30, 1},    {200, 10, 3},
        {249.9f, 59.9f, 3}, {250, 30, -1},    {0, 0, -1},     {-5, -5, -1},   {150, 30, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(hitTest(rects, c.x, c.y), c.expected) << c.x << "," << c.y;
    EXPECT_EQ(hitTest({}, 0, 0), -1);
}

}  // namespace

namespace {

// A Choose screen of a first install, as its paint records it: "Изменить…", rows 1 to 4, two checkboxes, the bar.
std::vector<HitRect> chooseHits() {
    std::vector<HitRect> rects;
    for (int32_t id : {3, 101, 102, 103, 104, 4, 5, 1, 2}) rects.push_back(HitRect{0, 0, 1, 1, id});
    return rects;
}

}  // namespace

TEST(Focus, OnlyActiveControlsTakeIt) {
    struct Case {
        int32_t id, phase;
        bool enabled;
    } const cases[] = {
        {ChangeFolderButton, Ready, true},   {ChangeFolderButton, Failed, false}, {101, Ready, true},
        {104, Failed, true},                 {102, Running, false},               {FirstComponentRow, Ready, false},
        {MainButton, Failed, true},          {SecondButton, Running, true},       {DesktopShortcutBox, Ready, true},
        {NoControl, Ready, false},
    };
    for (const Case& c : cases) EXPECT_EQ(controlEnabled(c.id, c.phase), c.enabled) << c.id << " phase " << c.phase;
}

TEST(Focus, TabWalksTheHitListAndWraps) {
    const std::vector<HitRect> rects = chooseHits();
    std::vector<int32_t> forward;
    int32_t focused = NoControl;
    for (int i = 0; i < 10; ++i) forward.push_back(focused = nextFocus(rects, Ready, focused, false));
    EXPECT_EQ(forward, (std::vector<int32_t>{3, 101, 102, 103, 104, 4, 5, 1, 2, 3}));
    EXPECT_EQ(nextFocus(rects, Ready, NoControl, true), SecondButton);
    EXPECT_EQ(nextFocus(rects, Ready, 101, true), ChangeFolderButton);
    EXPECT_EQ(nextFocus(rects, Ready, ChangeFolderButton, true), SecondButton);
    // After a failure "Изменить…" is drawn but does nothing: the focus passes it by.
    EXPECT_EQ(nextFocus(rects, Failed, SecondButton, false), 101);
    EXPECT_EQ(nextFocus(rects, Failed, 101, true), SecondButton);
    EXPECT_EQ(nextFocus({}, Ready, NoControl, false), NoControl);
}

TEST(Focus, FollowsTheFrameSensibly) {
    const std::vector<HitRect> progress = {HitRect{0, 0, 1, 1, SecondButton}};
    const std::vector<HitRect> finished = {HitRect{0, 0, 1, 1, MainButton}, HitRect{0, 0, 1, 1, SecondButton}};
    EXPECT_EQ(focusAfterFrame(chooseHits(), Ready, 102), 102) << "still there";
    EXPECT_EQ(focusAfterFrame(progress, Running, MainButton), SecondButton) << "the main button went with the run";
    EXPECT_EQ(focusAfterFrame(progress, Running, 102), SecondButton);
    EXPECT_EQ(focusAfterFrame(finished, Done, SecondButton), SecondButton);
    EXPECT_EQ(focusAfterFrame(finished, Done, 5), MainButton);
    EXPECT_EQ(focusAfterFrame(chooseHits(), Failed, ChangeFolderButton), MainButton) << "inactive after a failure";
    EXPECT_EQ(focusAfterFrame(finished, Done, NoControl), NoControl) << "no focus until Tab is pressed";
    EXPECT_EQ(focusAfterFrame({}, Done, MainButton), NoControl);
}

TEST(ErrorText, PathSpanCoversTheWordsWithSeparators) {
    struct Case {
        const wchar_t* text;
        const wchar_t* path;  // empty: none
    } const cases[] = {
        {L"Нет связи с сайтом Торвел. Проверьте интернет и повторите.", L""},
        {L"Не создать папку C:\\Program Files\\Torvel Maketor", L"C:\\Program Files\\Torvel"},
        {L"Файл занят: C:\\A\\b.dll — закройте макетор.", L"C:\\A\\b.dll"},
        {L"Не скачан data/models/зал.bin — проверьте интернет и повторите.", L"data/models/зал.bin"},
        {L"\\\\server\\share", L"\\\\server\\share"},
    };
    for (const Case& c : cases) {
        const std::wstring text = c.text;
        const TextSpan span = pathSpan(text);
        EXPECT_EQ(text.substr(span.begin, span.end - span.begin), c.path) << toUtf8(text);
    }
}

TEST(ErrorText, FitsByShorteningThePathInTheMiddle) {
    // Lines of 40 characters, broken anywhere: enough to show the rule.
    const auto lines = [](const std::wstring& text) { return static_cast<int>((text.size() + 39) / 40); };
    const std::wstring prefix = L"Не записать ", suffix = L" — закройте макетор.";
    const std::wstring path = L"C:\\Users\\u\\AppData\\Local\\Programs\\Torvel\\Maketor\\data\\models\\shelf.bin";
    const std::wstring message = prefix + path + suffix;  // 103 characters: 3 lines

    EXPECT_EQ(fitTextToLines(message, 3, lines), message) << "fits: unchanged";
    const std::wstring two = fitTextToLines(message, 2, lines);
    EXPECT_EQ(two.size(), 80u) << "as little as possible is dropped";
    EXPECT_EQ(two.compare(0, prefix.size() + 3, prefix + L"C:\\"), 0) << toUtf8(two);
    EXPECT_EQ(two.compare(two.size() - suffix.size() - 9, std::wstring::npos, L"shelf.bin" + suffix), 0) << toUtf8(two);
    EXPECT_EQ(std::count(two.begin(), two.end(), L'\u2026'), 1);
    const size_t ellipsis = two.find(L'\u2026');
    EXPECT_GT(two.size() - ellipsis, ellipsis - prefix.size()) << "more of the end of the path is kept";

    const std::wstring noPath(100, L'ж');
    EXPECT_EQ(fitTextToLines(noPath, 1, lines), noPath) << "a text without a path is never changed";
    EXPECT_EQ(fitTextToLines(message, 1, lines), prefix + L"C:\u2026f.bin" + suffix);
    const std::wstring tooLong = fitTextToLines(message + suffix, 1, lines);
    EXPECT_EQ(tooLong, prefix + L"C\u2026n" + suffix + suffix) << "at most the whole path but its ends goes";
}

TEST(ErrorText, PlaceAboveTheBar) {
    // First install, grown window (704): the room starts below the last checkbox (bottom 561).
    const ErrorBlock grown = errorRoom(704, 561);
    EXPECT_FLOAT_EQ(grown.top, 569);
    EXPECT_FLOAT_EQ(grown.bottom, 630);
    EXPECT_FLOAT_EQ(errorTextTop(grown, 704, 18), 586) << "one line: at H − 118";
    EXPECT_FLOAT_EQ(errorTextTop(grown, 704, 54), 576) << "three lines rise to end at H − 74";
    // An update's Choose screen (420) ends with its paragraph at 178: two lines stay at H − 118.
    const ErrorBlock update = errorRoom(420, 178);
    EXPECT_FLOAT_EQ(errorTextTop(update, 420, 36), 302);
    EXPECT_FLOAT_EQ(errorTextTop(update, 420, 90), 256);
    EXPECT_FLOAT_EQ(errorTextTop(update, 420, 400), 186) << "never above the room";
}

TEST(ErrorText, OnlyTheFailedFirstInstallChooseScreenGrows) {
    EXPECT_TRUE(needsErrorRoom(Install, Screen::Choose, Failed, false));
    EXPECT_FALSE(needsErrorRoom(Install, Screen::Choose, Failed, true));
    EXPECT_FALSE(needsErrorRoom(Install, Screen::Choose, Ready, false));
    EXPECT_FALSE(needsErrorRoom(Install, Screen::Progress, Failed, false));
    EXPECT_FALSE(needsErrorRoom(Update, Screen::Choose, Failed, false));
    EXPECT_FALSE(needsErrorRoom(Uninstall, Screen::ConfirmUninstall, Failed, false));
}
