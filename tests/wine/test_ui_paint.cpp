// Paints every screen through the real paint frame into an off-screen DIB at scale 1.0 and 1.5 and checks
// the hit list (exact rectangles, drawing order) and the palette's colours at known points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "gdiplus_environment.h"
#include "test_support.h"
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
    if (scene == "choose-reinstall")
        return {{101, 32, 250, 536, 40}, {102, 32, 294, 536, 40}, {103, 32, 338, 536, 40}, {104, 32, 382, 536, 40},
                {5, 32, 429, 388, 24},   {1, 408, 516, 160, 40},  {2, 278, 516, 120, 40}};
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

INSTANTIATE_TEST_SUITE_P(Scales, PaintedScreens, testing::Values(1.0f, 1.5f));

}  // namespace
