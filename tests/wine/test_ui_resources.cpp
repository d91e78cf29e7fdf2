// The embedded fonts and logo: loading from a real executable's resources, a missing or broken logo, the
// product's own resources, and text that still appears when the embedded fonts are missing.
#include <gtest/gtest.h>

#include <cstdlib>

#include "gdiplus_environment.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "test_support.h"
#include "ui/resources.h"
#include "ui/theme.h"
#include "ui_scenes.h"

namespace {

const wchar_t kFontSubstitutes[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes";
const wchar_t kChildVariable[] = L"MAKETOR_FONT_CHILD";

testing::Environment* const gdiplusEnvironment = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

struct LibraryDataFile {
    UniqueLibrary module;
    explicit LibraryDataFile(const std::wstring& path)
        : module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    HINSTANCE instance() const { return reinterpret_cast<HINSTANCE>(module.get()); }
};

// Loads the resources of a module for one test and releases them at its end, like start-up and exit do.
struct LoadedUiResources {
    explicit LoadedUiResources(HINSTANCE instance) { loadUiResources(instance); }
    ~LoadedUiResources() { releaseUiResources(); }
    Gdiplus::GpFontCollection* collection() const { return static_cast<Gdiplus::GpFontCollection*>(appState.fontCollection); }
    int familyCount() const {
        INT count = -1;
        if (collection()) gdip::GdipGetFontCollectionFamilyCount(collection(), &count);
        return count;
    }
};

// A PNG of the given size made with GDI+, filled with one opaque colour.
std::string makePng(UINT width, UINT height) {
    GdipImage bitmap;
    gdip::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0, PixelFormat32bppARGB, nullptr,
                                    outPtr<Gdiplus::GpBitmap>(bitmap));
    {
        GdipGraphics canvas;
        gdip::GdipGetImageGraphicsContext(bitmap.get(), outPtr(canvas));
        gdip::GdipGraphicsClear(canvas.get(), 0xFF3366CC);
    }
    const std::wstring path = makeScratchFolder(L"png") + L"\\logo.png";
    const CLSID pngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    gdip::GdipSaveImageToFile(bitmap.get(), path.c_str(), &pngEncoder, nullptr);
    return readFileBytes(path);
}

// A copy of a test helper executable with the given RCDATA entries added.
std::wstring executableWithRcData(const std::vector<std::pair<WORD, std::string>>& entries) {
    const std::wstring path = makeScratchFolder(L"res") + L"\\carrier.exe";
    EXPECT_TRUE(CopyFileW((testExeDir() + L"\\bench_paint.exe").c_str(), path.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    for (const auto& [id, bytes] : entries)
        EXPECT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                    const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    return path;
}

std::string systemFontBytes() { return readFileBytes(L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf"); }

TEST(LoadUiResources, TakesFontsAndLogoFromTheExecutable) {
    const std::string font = systemFontBytes();
    ASSERT_FALSE(font.empty()) << "fonts-dejavu-core is needed";
    const LibraryDataFile carrier(executableWithRcData({{101, font}, {110, makePng(373, 128)}}));
    ASSERT_TRUE(carrier.module);
    const LoadedUiResources loaded(carrier.instance());
    EXPECT_EQ(loaded.familyCount(), 1);
    GdipFontFamily family;
    EXPECT_EQ(gdip::GdipCreateFontFamilyFromName(L"DejaVu Sans", loaded.collection(), outPtr(family)), Gdiplus::Ok);
    ASSERT_NE(appState.logoImage, nullptr);
    UINT width = 0, height = 0;
    gdip::GdipGetImageWidth(static_cast<Gdiplus::GpImage*>(appState.logoImage), &width);
    gdip::GdipGetImageHeight(static_cast<Gdiplus::GpImage*>(appState.logoImage), &height);
    EXPECT_EQ(width, 373u);
    EXPECT_EQ(height, 128u);
}

TEST(LoadUiResources, MissingOrBrokenEntriesLeaveAnEmptyCollectionAndNoLogo) {
    const LibraryDataFile bare(executableWithRcData({}));
    {
        const LoadedUiResources loaded(bare.instance());
        EXPECT_EQ(loaded.familyCount(), 0);
        EXPECT_EQ(appState.logoImage, nullptr);
    }
    const LibraryDataFile broken(executableWithRcData({{110, std::string(300, 'x')}}));
    const LoadedUiResources loaded(broken.instance());
    EXPECT_EQ(appState.logoImage, nullptr);
}

TEST(LoadUiResources, ReleaseClearsBothObjects) {
    const LibraryDataFile carrier(executableWithRcData({{110, makePng(373, 128)}}));
    loadUiResources(carrier.instance());
    EXPECT_NE(appState.logoImage, nullptr);
    EXPECT_NE(appState.fontCollection, nullptr);
    releaseUiResources();
    EXPECT_EQ(appState.logoImage, nullptr);
    EXPECT_EQ(appState.fontCollection, nullptr);
}

TEST(LoadUiResources, LogoKeepsEveryOtherElementInPlace) {
    const Scene& scene = *findScene("choose-install");
    const SIZE size = sceneClientSize(scene, 1.0f);
    applyScene(scene, 1.0f);
    OffscreenFrame withoutLogo(size.cx, size.cy);
    withoutLogo.paint();
    const std::vector<HitRect> hitsWithoutLogo = appState.hitRects;

    const LibraryDataFile carrier(executableWithRcData({{110, makePng(373, 128)}}));
    const LoadedUiResources loaded(carrier.instance());
    OffscreenFrame withLogo(size.cx, size.cy);
    withLogo.paint();
    ASSERT_EQ(appState.hitRects.size(), hitsWithoutLogo.size());
    for (size_t i = 0; i < hitsWithoutLogo.size(); ++i) {
        EXPECT_EQ(appState.hitRects[i].id, hitsWithoutLogo[i].id);
        EXPECT_FLOAT_EQ(appState.hitRects[i].y, hitsWithoutLogo[i].y);
    }
    // Drawn into (32, 26), 44 high and 44 × 373 / 128 ≈ 128.2 wide.
    EXPECT_EQ(withLogo.rgb(96, 48), 0x3366CCu);
    EXPECT_EQ(withLogo.rgb(34, 28), 0x3366CCu);
    EXPECT_EQ(withLogo.rgb(158, 68), 0x3366CCu);
    EXPECT_EQ(withLogo.rgb(162, 48), 0xFFFFFFu);
    EXPECT_EQ(withLogo.rgb(96, 71), 0xFFFFFFu);
    EXPECT_EQ(withoutLogo.rgb(96, 48), 0xFFFFFFu);
}

TEST(ProductResources, GolosTextAnswersRegularAndBold) {
    const LibraryDataFile product(productExePath());
    ASSERT_TRUE(product.module);
    if (!FindResourceW(product.module.get(), MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10)))
        GTEST_SKIP() << "the product carries no fonts yet";
    const LoadedUiResources loaded(product.instance());
    EXPECT_GE(loaded.familyCount(), 1);
    GdipFontFamily family;
    ASSERT_EQ(gdip::GdipCreateFontFamilyFromName(L"Golos Text", loaded.collection(), outPtr(family)), Gdiplus::Ok);
    for (INT style : {Gdiplus::FontStyleRegular, Gdiplus::FontStyleBold}) {
        BOOL available = FALSE;
        gdip::GdipIsStyleAvailable(family.get(), style, &available);
        EXPECT_TRUE(available) << style;
    }
    UINT width = 0, height = 0;
    ASSERT_NE(appState.logoImage, nullptr);
    gdip::GdipGetImageWidth(static_cast<Gdiplus::GpImage*>(appState.logoImage), &width);
    gdip::GdipGetImageHeight(static_cast<Gdiplus::GpImage*>(appState.logoImage), &height);
    EXPECT_EQ(width, 373u);
    EXPECT_EQ(height, 128u);
}

// ---- Text without the embedded fonts. The installed families a process sees are fixed when it starts, so
// each case sets up the machine's fonts and runs the checks below in a fresh copy of this test program.

// Pixels of the frame within a logical box whose colour is within `tolerance` of argb on every channel.
int pixelsNear(const OffscreenFrame& frame, float scale, float x, float y, float w, float h, uint32_t rgb, int tolerance) {
    int count = 0;
    for (int py = static_cast<int>(y * scale); py < static_cast<int>((y + h) * scale); ++py)
        for (int px = static_cast<int>(x * scale); px < static_cast<int>((x + w) * scale); ++px) {
            const uint32_t got = frame.rgb(px, py);
            bool matches = true;
            for (int shift = 0; shift < 24; shift += 8)
                matches = matches && std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((rgb >> shift) & 0xFF)) <= tolerance;
            count += matches;
        }
    return count;
}

// Runs in the child: no private collection at all, so "Golos Text" is looked up among the installed fonts.
TEST(DISABLED_FallbackFontsChild, DrawsTextWithWhatIsInstalled) {
    const std::wstring expectation = _wgetenv(kChildVariable) ? _wgetenv(kChildVariable) : L"";
    ASSERT_NE(expectation, L"");
    appState.fontCollection = nullptr;
    const Scene& scene = *findScene("choose-failed");
    const SIZE size = sceneClientSize(scene, 1.0f);
    applyScene(scene, 1.0f);
    OffscreenFrame frame(size.cx, size.cy);
    frame.paint();
    const int titlePixels = pixelsNear(frame, 1.0f, 32, 92, 536, 34, 0x222228, 40);
    const int errorPixels = pixelsNear(frame, 1.0f, 32, 420 - 118, 536, 44, 0xE5484D, 40);
    if (expectation == L"none" && makeFont(14.5f, false)) GTEST_SKIP() << "this machine has a fallback family";
    if (expectation == L"text") {
        EXPECT_GT(titlePixels, 30);
        EXPECT_GT(errorPixels, 30);
        EXPECT_EQ(pixelsNear(frame, 1.0f, 32, 92, 536, 34, 0xE5484D, 40), 0);  // the title is not red
    } else {
        EXPECT_EQ(titlePixels, 0);
        EXPECT_EQ(errorPixels, 0);
    }
    EXPECT_EQ(pixelsNear(frame, 1.0f, 414, 376, 1, 1, 0xFFB400, 2), 1);  // shapes are drawn either way
    EXPECT_EQ(appState.hitRects.size(), 2u);
}

// A font substitute entry in the machine's registry, removed again at the end of the test.
class FontSubstitute {
public:
    FontSubstitute(const wchar_t* name, const wchar_t* installedFamily) : name_(name) {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kFontSubstitutes, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr);
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(installedFamily),
                       static_cast<DWORD>((wcslen(installedFamily) + 1) * sizeof(wchar_t)));
    }
    ~FontSubstitute() {
        RegDeleteValueW(key_, name_);
        RegCloseKey(key_);
    }
    FontSubstitute(const FontSubstitute&) = delete;
    FontSubstitute& operator=(const FontSubstitute&) = delete;

private:
    const wchar_t* name_;
    HKEY key_ = nullptr;
};

bool childPasses(const wchar_t* expectation) {
    SetEnvironmentVariableW(kChildVariable, expectation);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const ProcessResult result =
        runProcess(self, L"--gtest_also_run_disabled_tests --gtest_filter=DISABLED_FallbackFontsChild.*", 120000);
    SetEnvironmentVariableW(kChildVariable, nullptr);
    return result.finished && result.exitCode == 0;
}

struct FallbackCase {
    const wchar_t* substituted;  // the missing family that the machine answers with DejaVu Sans, or none
    const wchar_t* expectation;
};

TEST(TextWithoutEmbeddedFonts, FallsBackToSegoeUiThenTheGenericSansSerif) {
    ASSERT_FALSE(systemFontBytes().empty()) << "fonts-dejavu-core is needed";
    const FallbackCase cases[] = {
        {L"Segoe UI", L"text"},              // the usual Windows machine
        {L"Microsoft Sans Serif", L"text"},  // no Segoe UI: the generic sans-serif family
        {nullptr, L"none"},  // this Wine has neither: shapes are drawn, text is missing, nothing fails
    };
    for (const FallbackCase& c : cases) {
        std::unique_ptr<FontSubstitute> substitute;
        if (c.substituted) substitute = std::make_unique<FontSubstitute>(c.substituted, L"DejaVu Sans");
        EXPECT_TRUE(childPasses(c.expectation)) << (c.substituted ? "with " : "without substitute") << (c.substituted ? toUtf8(c.substituted) : "");
    }
}

}  // namespace
