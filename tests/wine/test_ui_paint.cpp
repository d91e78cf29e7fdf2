// Paints every screen through the real paint frame into an off-screen DIB at scale 1.0 and 1.5 and checks
// the hit list (exact rectangles, drawing order) and the palette's colours at known points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "gdiplus_environment.h"
#include "platform/text.h"
#include "test_support.h"
#include "ui/paint.h"
#include "ui/resources.h"
#include "ui/theme.h"
#include "ui_scenes.h"

namespace {

// GDI+ for the whole process, and the product's own fonts and logo, loaded as the product loads them.
class UiEnvironment : public GdiplusEnvironment {
public:
    void SetUp() override {
        GdiplusEnvironment::SetUp();
        product_ = LoadLibraryExW(productExePath().c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (product_) loadUiResources(reinterpret_cast<HINSTANCE>(product_));
    }
    void TearDown() override {
        releaseUiResources();
        if (product_) FreeLibrary(product_);
        GdiplusEnvironment::TearDown();
    }

private:
    HMODULE product_ = nullptr;
};
testing::Environment* const uiEnvironment = testing::AddGlobalTestEnvironment(new UiEnvironment);

struct LogicalRect {
    int32_t id;
    float x, y, width, height;
};

// The hit list of each scene at scale 1.0, in drawing order.
std::vector<LogicalRect> expectedHits(const std::string& scene) {
    const std::vector<LogicalRect> firstInstallChoose = {
        {3, 460, 204, 108, 36},   {101, 32, 328, 536, 40}, {102, 32, 372, 536, 40}, {103, 32, 416, 536, 40},
        {104, 32, 460, 536, 40},  {4, 32, 507, 388, 24},   {5, 32, 537, 388, 24},   {1, 408, 596, 160, 40},
        {2, 278, 596, 120, 40},
    };
    if (scene == "choose-install") return firstInstallChoose;
    if (scene == "choose-install-failed") {  // the window grown by 44 for the error text: the bar moves down
        std::vector<LogicalRect> failed = firstInstallChoose;
        failed[failed.size() - 2].y = failed.back().y = 640;
        return failed;
    }
    if (scene == "choose-reinstall")
        return {{101, 32, 250, 536, 40}, {102, 32, 294, 536, 40}, {103, 32, 338, 536, 40}, {104, 32, 382, 536, 40},
                {5, 32, 429, 388, 24},   {1, 408, 516, 160, 40},  {2, 278, 516, 120, 40}};
    if (scene == "choose-older-offered")  // no main button: "Закрыть" alone
        return {{101, 32, 250, 536, 40}, {102, 32, 294, 536, 40}, {103, 32, 338, 536, 40}, {104, 32, 382, 536, 40},
                {5, 32, 429, 388, 24},   {2, 448, 516, 120, 40}};
    if (scene == "choose-update" || scene == "choose-failed") return {{1, 408, 356, 160, 40}, {2, 278, 356, 120, 40}};
    if (scene == "progress" || scene == "progress-tiny") return {{2, 448, 596, 120, 40}};
    if (scene == "progress-failed") return {{1, 408, 596, 160, 40}, {2, 278, 596, 120, 40}};
    if (scene == "finished") return {{1, 418, 596, 150, 40}, {2, 288, 596, 120, 40}};
    if (scene == "confirm-uninstall" || scene == "uninstall-failed")
        return {{6, 32, 181, 388, 24}, {1, 408, 356, 160, 40}, {2, 278, 356, 120, 40}};
    if (scene == "uninstalling") return {{2, 448, 356, 120, 40}};
    if (scene == "uninstalled") return {{1, 428, 356, 140, 40}};
    ADD_FAILURE() << "no expected hit list for " << scene;
    return {};
}

struct ExpectedPixel {
    float x, y;  // logical px, well inside a shape
    uint32_t rgb;
};

std::vector<ExpectedPixel> expectedPixels(const std::string& scene) {
    const uint32_t white = 0xFFFFFF, accent = 0xFFB400, track = 0xF3F4F7, locked = 0xE3E4E8, danger = 0xE5484D;
    if (scene == "choose-install")
        return {
            {414, 616, accent},    // main button body, left of its label
            {283, 616, white},     // "Отмена", left of its label
            {34.5f, 297, locked},  // row 0: always ticked, grey
            {34.5f, 341, accent},  // row 1 ticked
            {41, 385, white},      // row 2 unticked
            {34.5f, 519, accent},  // desktop shortcut ticked
            {34.5f, 549, accent},  // launch after install ticked
            {40, 222, white},      // folder box
            {300, 580, white},     // background between the checkboxes and the bar
        };
    if (scene == "progress") return {{40, 147, accent}, {160, 147, accent}, {170, 147, track}, {560, 147, track}};
    if (scene == "progress-tiny") return {{37, 147, accent}, {39, 147, accent}, {43, 147, track}};
    if (scene == "finished") return {{424, 616, accent}, {292, 616, white}};
    if (scene == "confirm-uninstall") return {{414, 376, danger}, {41, 193, white}};
    if (scene == "uninstalled") return {{432, 376, accent}};
    return {};
}

uint32_t channelDistance(uint32_t a, uint32_t b) {
    uint32_t worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
        worst = std::max<uint32_t>(worst, static_cast<uint32_t>(d));
    }
    return worst;
}

class PaintedScreens : public testing::TestWithParam<float> {
protected:
    float scale() const { return GetParam(); }
    int device(float logical) const { return static_cast<int>(std::floor(logical * scale())); }
    uint32_t pixelAt(const OffscreenFrame& frame, float logicalX, float logicalY) const {
        return frame.rgb(device(logicalX), device(logicalY));
    }
    // The scene painted at this scale, with the hover and press ids it leaves in appState.
    std::unique_ptr<OffscreenFrame> paintScene(const Scene& scene, int32_t hovered = -1, int32_t pressed = -1) const {
        applyScene(scene, scale());
        appState.hoveredId = hovered;
        appState.pressedId = pressed;
        const SIZE size = sceneClientSize(scene, scale());
        auto frame = std::make_unique<OffscreenFrame>(size.cx, size.cy);
        frame->paint();
        return frame;
    }
};

TEST_P(PaintedScreens, HitListHoldsExactlyTheControlsInDrawingOrder) {
    for (const Scene& scene : allScenes()) {
        SCOPED_TRACE(scene.name);
        appState.hitRects.assign(3, HitRect{1, 1, 1, 1, 77});  // a previous frame's list must not survive
        const auto frame = paintScene(scene);
        ASSERT_TRUE(frame->valid());

        const std::vector<LogicalRect> expected = expectedHits(scene.name);
        ASSERT_EQ(appState.hitRects.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const HitRect& got = appState.hitRects[i];
            SCOPED_TRACE(testing::Message() << "rect " << i << " id " << expected[i].id);
            EXPECT_EQ(got.id, expected[i].id);
            EXPECT_NEAR(got.x, expected[i].x * scale(), 1e-3);
            EXPECT_NEAR(got.y, expected[i].y * scale(), 1e-3);
            EXPECT_NEAR(got.width, expected[i].width * scale(), 1e-3);
            EXPECT_NEAR(got.height, expected[i].height * scale(), 1e-3);
        }
    }
}

TEST_P(PaintedScreens, ShapesHaveThePaletteColours) {
    for (const Scene& scene : allScenes()) {
        SCOPED_TRACE(scene.name);
        const auto painted = paintScene(scene);
        const OffscreenFrame& frame = *painted;
        ASSERT_TRUE(frame.valid());
        for (const ExpectedPixel& p : expectedPixels(scene.name))
            EXPECT_LE(channelDistance(pixelAt(frame, p.x, p.y), p.rgb), 2u)
                << std::hex << "at " << p.x << "," << p.y << " got " << pixelAt(frame, p.x, p.y) << " want " << p.rgb;
        // Every pixel was painted: the fill colour behind the frame shows nowhere.
        int unpainted = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) unpainted += frame.rgb(x, y) == 0xFF00FF;
        EXPECT_EQ(unpainted, 0);
    }
}

TEST_P(PaintedScreens, PrimaryShadowFadesBelowTheButton) {
    const auto painted = paintScene(*findScene("choose-install"));
    const OffscreenFrame& frame = *painted;
    const uint32_t nearEdge = pixelAt(frame, 488, 637.2f), farther = pixelAt(frame, 488, 640.5f),
                   beyond = pixelAt(frame, 488, 643);
    EXPECT_LT(nearEdge & 0xFF, farther & 0xFF) << std::hex << nearEdge << " " << farther;  // blue drops most
    EXPECT_LT(farther & 0xFF, 0xFFu);
    EXPECT_EQ(beyond, 0xFFFFFFu);
}

struct ButtonLook {
    const char* scene;
    int32_t hovered, pressed;
    float x, y;
    uint32_t rgb;
};

TEST_P(PaintedScreens, ButtonsFollowHoverAndPress) {
    const ButtonLook cases[] = {
        {"choose-install", -1, -1, 414, 616, 0xFFB400},
        {"choose-install", 1, -1, 414, 616, 0xFFC02E},
        {"choose-install", 1, 1, 414, 616, 0xEBA400},   // hovered and pressed: pressed wins
        {"choose-install", -1, 1, 414, 616, 0xEBA400},  // pressed, pointer dragged off
        {"choose-install", 2, -1, 283, 616, 0xF3F4F7},  // secondary under the pointer
        {"choose-install", -1, 2, 283, 616, 0xFFFFFF},  // secondary has no pressed look
        {"choose-install", 2, 2, 283, 616, 0xF3F4F7},
        {"confirm-uninstall", -1, -1, 414, 376, 0xE5484D},
        {"confirm-uninstall", 1, -1, 414, 376, 0xD94045},
        {"confirm-uninstall", 1, 1, 414, 376, 0xC93A3F},
        {"confirm-uninstall", -1, 1, 414, 376, 0xC93A3F},
        {"choose-install", 101, -1, 34.5f, 341, 0xFFB400},  // a ticked box looks the same under the pointer
    };
    for (const ButtonLook& c : cases) {
        const auto painted = paintScene(*findScene(c.scene), c.hovered, c.pressed);
        const OffscreenFrame& frame = *painted;
        EXPECT_LE(channelDistance(pixelAt(frame, c.x, c.y), c.rgb), 2u)
            << c.scene << " hovered " << c.hovered << " pressed " << c.pressed << std::hex << " got "
            << pixelAt(frame, c.x, c.y);
    }
}

TEST_P(PaintedScreens, UntickedBoxDarkensItsOutlineUnderThePointer) {
    const auto plainFrame = paintScene(*findScene("choose-install"));
    const auto hoveredFrame = paintScene(*findScene("choose-install"), 102);
    const OffscreenFrame &plain = *plainFrame, &hovered = *hoveredFrame;
    // The left edge of row 2's box (x 32, y 376 to 394): one device pixel wide at every scale.
    const int y = device(385);
    int darker = 0;
    for (int x = device(32) - 1; x <= device(32) + 1; ++x) darker += (hovered.rgb(x, y) & 0xFF) < (plain.rgb(x, y) & 0xFF);
    EXPECT_GE(darker, 1);
    EXPECT_EQ(hovered.rgb(device(41), y), plain.rgb(device(41), y));
    EXPECT_EQ(plain.rgb(device(32) + 2, y), 0xFFFFFFu);  // the outline does not grow with the scale
}

TEST_P(PaintedScreens, ZeroSizedClientStillRecordsTheControls) {
    applyScene(*findScene("progress"), scale());
    HDC screen = GetDC(nullptr);
    paintWindow(screen, RECT{0, 0, 0, 0});
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(appState.hitRects.size(), 1u);
    EXPECT_EQ(appState.hitRects[0].id, 2);
    EXPECT_NEAR(appState.hitRects[0].y, -64 * scale(), 1e-3);  // computed from the zero height
}

TEST_P(PaintedScreens, RepaintFromTheKeptLayerMatchesAFirstPaint) {
    for (const Scene& scene : allScenes()) {
        SCOPED_TRACE(scene.name);
        applyScene(scene, scale());
        const SIZE size = sceneClientSize(scene, scale());
        OffscreenFrame first(size.cx, size.cy), again(size.cx, size.cy);
        releasePaintCache();
        first.paint();
        appState.hoveredId = MainButton;  // a frame in between changes the dynamic layer only
        again.paint();
        appState.hoveredId = -1;
        again.paint();
        int differing = 0;
        for (int y = 0; y < size.cy; ++y)
            for (int x = 0; x < size.cx; ++x) differing += first.rgb(x, y) != again.rgb(x, y);
        EXPECT_EQ(differing, 0);
    }
}

TEST_P(PaintedScreens, FocusRingSurroundsTheFocusedControl) {
    struct Case {
        const char* scene;
        int32_t focused;
        float x, y;  // logical: just outside the control's hit rectangle, inside the ring
    } const cases[] = {
        {"choose-install", LaunchAfterInstallBox, 30.0f, 549.0f},  // left of the checkbox's hit rectangle
        {"choose-install", 102, 300.0f, 370.5f},                    // above row 2 (hit rectangle from 372)
        {"choose-install", MainButton, 406.0f, 616.0f},             // left of the main button
        {"confirm-uninstall", RemoveUserDataBox, 30.0f, 193.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scene << " focus " << c.focused);
        const auto plain = paintScene(*findScene(c.scene));
        EXPECT_EQ(pixelAt(*plain, c.x, c.y), 0xFFFFFFu);
        applyScene(*findScene(c.scene), scale());
        appState.focusedId = c.focused;
        const SIZE size = sceneClientSize(*findScene(c.scene), scale());
        OffscreenFrame focused(size.cx, size.cy);
        focused.paint();
        EXPECT_EQ(appState.focusedId, c.focused);
        EXPECT_LE(channelDistance(pixelAt(focused, c.x, c.y), palette::kFocusRing & 0xFFFFFF), 40u)
            << std::hex << pixelAt(focused, c.x, c.y);
    }
}

TEST_P(PaintedScreens, FocusOnAControlThatIsGoneMovesToTheBar) {
    applyScene(*findScene("progress"), scale());
    appState.focusedId = 103;  // a component row of the Choose screen that was on screen before the run
    const SIZE size = sceneClientSize(*findScene("progress"), scale());
    OffscreenFrame frame(size.cx, size.cy);
    frame.paint();
    EXPECT_EQ(appState.focusedId, SecondButton);  // "Отмена", the only button during a run
}

TEST_P(PaintedScreens, TimerRepaintsOnlyWhatTheFrameShows) {
    const Scene& scene = *findScene("progress");
    applyScene(scene, scale());
    const SIZE size = sceneClientSize(scene, scale());
    const RECT client{0, 0, size.cx, size.cy};
    OffscreenFrame frame(size.cx, size.cy);
    frame.paint();
    EXPECT_FALSE(frameChanged(client)) << "nothing changed since the paint";
    appState.bytesDone += 1;  // one byte more: neither the bar nor the figures move
    EXPECT_FALSE(frameChanged(client));
    appState.bytesDone += 2 * 1024 * 1024;  // the bar grows by whole pixels and the figures change
    EXPECT_TRUE(frameChanged(client));
    frame.paint();
    EXPECT_FALSE(frameChanged(client));
    setStatus(L"Скачивание 4 из 120: data/catalog.json");
    EXPECT_TRUE(frameChanged(client));
    frame.paint();
    appState.hoveredId = SecondButton;
    EXPECT_TRUE(frameChanged(client));
    frame.paint();
    appState.focusedId = SecondButton;
    EXPECT_TRUE(frameChanged(client));
    frame.paint();
    EXPECT_TRUE(frameChanged(RECT{0, 0, size.cx, size.cy + 1})) << "the client size is part of the frame";
}

// The error text on every screen that shows it, with every failure text and a long installation folder, at
// every scale: it covers no other element of the frame, stays above the button bar and is shown whole
// (wrapped, a path in it possibly shortened in the middle).
struct ErrorScreen {
    const char* name;
    RunMode mode;
    const char* installedVersion;
    uint64_t bytesDone, bytesTotal;
    int logicalHeight;
    int32_t focused;  // the focus ring is drawn too
};

const ErrorScreen kErrorScreens[] = {
    {"first-install Choose", Install, "", 0, 0, 704, LaunchAfterInstallBox},
    {"reinstall Choose", Install, "1.0.17", 0, 0, 580, LaunchAfterInstallBox},
    {"update Choose", Update, "1.0.17", 0, 0, 420, MainButton},
    {"first-install Progress", Install, "", 52428800, 209715200, 660, MainButton},
    {"reinstall Progress", Install, "1.0.17", 0, 4096, 580, MainButton},
    {"update Progress", Update, "1.0.17", 1, 0, 420, MainButton},
    {"ConfirmUninstall", Uninstall, "1.0.18", 0, 0, 420, RemoveUserDataBox},
};

std::wstring longFolder() {
    std::wstring folder = L"C:\\Users\\Пользователь с длинным именем\\AppData\\Local\\Programs";
    while (folder.size() < 170) folder += L"\\Очень длинная папка";
    return folder.substr(0, 170) + L"\\Torvel\\Maketor";  // 185 characters; with a file below it, over 200
}

std::vector<std::wstring> failureTexts(const std::wstring& folder) {
    const std::wstring file = L"data\\models\\Стеллаж складской двусторонний.bin";
    const std::wstring target = folder + L"\\" + file;
    return {
        L"Нет связи с сайтом Торвел. Проверьте интернет и повторите.",
        L"Файлы на сайте не прошли проверку подписи — установка остановлена.",
        L"Макетор открыт — закройте его и нажмите «Повторить».",
        L"Не создать папку " + folder,
        L"Установка отменена.",
        L"Не скачан data/models/Стеллаж складской двусторонний.bin — проверьте интернет и повторите.",
        L"Файл data/models/Стеллаж складской двусторонний.bin повреждён при загрузке — повторите.",
        L"Не записать " + target,
        L"Файл занят: " + target + L" — закройте макетор.",
    };
}

bool intersects(const Box& a, const Box& b) {
    const float overlapX = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const float overlapY = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return overlapX > 0.5f && overlapY > 0.5f;  // more than a shared anti-aliased edge
}

// The shown text is the message itself, or the message with part of its path replaced by one "…".
void expectWholeOrPathShortened(const std::wstring& shown, const std::wstring& message) {
    if (shown == message) return;
    const TextSpan path = pathSpan(message);
    ASSERT_LT(path.begin, path.end) << "a message without a path was changed";
    const size_t ellipsis = shown.find(L'\u2026');
    ASSERT_NE(ellipsis, std::wstring::npos);
    const size_t kept = shown.size() - 1;
    const std::wstring head = shown.substr(0, ellipsis), tail = shown.substr(ellipsis + 1);
    EXPECT_EQ(message.compare(0, head.size(), head), 0);
    EXPECT_EQ(message.compare(message.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_GT(head.size(), path.begin) << "the start of the path is kept";
    EXPECT_GT(tail.size(), message.size() - path.end) << "the end of the path is kept";
    EXPECT_LT(kept, message.size());
}

class ErrorLayout : public testing::TestWithParam<float> {};

TEST_P(ErrorLayout, ErrorTextCoversNothingAndIsShownWhole) {
    const float scale = GetParam();
    const std::wstring folder = longFolder();
    setFrameRecording(true);
    for (const ErrorScreen& screen : kErrorScreens)
        for (const std::wstring& message : failureTexts(folder)) {
            SCOPED_TRACE(testing::Message() << screen.name << " at " << scale << ": " << toUtf8(message));
            Scene scene{screen.name, screen.mode, Failed, screen.installedVersion, screen.bytesDone,
                        screen.bytesTotal, message.c_str(), screen.logicalHeight};
            applyScene(scene, scale);
            appState.installDir = folder;
            appState.focusedId = screen.focused;
            const SIZE size = sceneClientSize(scene, scale);
            OffscreenFrame frame(size.cx, size.cy);
            frame.paint();
            ASSERT_EQ(appState.focusedId, screen.focused);

            const std::vector<DrawnBox>& drawn = lastFrame().drawn;
            const auto error = std::find_if(drawn.begin(), drawn.end(),
                                            [](const DrawnBox& d) { return d.kind == Drawn::ErrorText; });
            ASSERT_NE(error, drawn.end()) << "no error text drawn";
            const Box& inked = error->inked;
            EXPECT_TRUE(error->whole) << "cut off: " << toUtf8(error->text);
            expectWholeOrPathShortened(error->text, message);
            EXPECT_GE(inked.x, 0.0f);
            EXPECT_LE(inked.x + inked.width, static_cast<float>(size.cx));
            EXPECT_GE(inked.height, 1.0f);
            EXPECT_LE(inked.y + inked.height, static_cast<float>(size.cy) - 64.0f * scale) << "reaches the bar";
            for (const DrawnBox& other : drawn) {
                if (&other == &*error) continue;
                EXPECT_FALSE(intersects(inked, other.inked))
                        << "covers " << toUtf8(other.text) << " at " << other.inked.x << "," << other.inked.y << " "
                        << other.inked.width << "x" << other.inked.height << "; error at " << inked.y << " height "
                        << inked.height;
            }
            for (const HitRect& hit : appState.hitRects)
                EXPECT_FALSE(intersects(inked, {hit.x, hit.y, hit.width, hit.height})) << "covers control " << hit.id;
        }
    setFrameRecording(false);
}

TEST_P(ErrorLayout, ShortMessagesKeepTheirSpecifiedPlace) {
    // Where there is room, a message of up to two lines starts at H − 118 as before.
    const float scale = GetParam();
    for (const char* name : {"choose-failed", "progress-failed", "uninstall-failed"}) {
        SCOPED_TRACE(name);
        const Scene& scene = *findScene(name);
        applyScene(scene, scale);
        setFrameRecording(true);
        const SIZE size = sceneClientSize(scene, scale);
        OffscreenFrame frame(size.cx, size.cy);
        frame.paint();
        setFrameRecording(false);
        const std::vector<DrawnBox>& drawn = lastFrame().drawn;
        const auto error = std::find_if(drawn.begin(), drawn.end(),
                                        [](const DrawnBox& d) { return d.kind == Drawn::ErrorText; });
        ASSERT_NE(error, drawn.end());
        EXPECT_NEAR(error->box.y, (static_cast<float>(scene.logicalHeight) - 118.0f) * scale, 1e-3);
        EXPECT_EQ(error->text, scene.errorText);
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, ErrorLayout, testing::Values(1.0f, 1.25f, 1.5f, 2.0f));

INSTANTIATE_TEST_SUITE_P(Scales, PaintedScreens, testing::Values(1.0f, 1.5f));

}  // namespace
