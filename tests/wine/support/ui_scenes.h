#pragma once
// Window states for painting tests and the paint benchmark: each scene sets appState to show one screen,
// and an off-screen frame paints it through the real paint frame into a DIB section.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/paint.h"

struct Scene {
    const char* name;
    RunMode mode;
    int32_t phase;
    const char* installedVersion;
    uint64_t bytesDone, bytesTotal;
    const wchar_t* errorText;
    int logicalHeight;  // the client height of the window in this state
    const char* offeredVersion = "1.0.18";  // what the release check found
};

// One scene per screen and per layout variant of the Choose screen.
inline const std::vector<Scene>& allScenes() {
    static const std::vector<Scene> scenes = {
        {"choose-install", Install, Ready, "", 0, 0, L"", 660},
        {"choose-reinstall", Install, Ready, "1.0.17", 0, 0, L"", 580},
        {"choose-older-offered", Install, Ready, "1.0.18", 0, 0, L"", 580, "1.0.9"},
        {"choose-update", Update, Ready, "1.0.17", 0, 0, L"", 420},
        {"choose-failed", Update, Failed, "1.0.17", 0, 0, L"Не удалось связаться с сервером Торвел.", 420},
        {"choose-install-failed", Install, Failed, "", 0, 0,
         L"Нет связи с сайтом Торвел. Проверьте интернет и повторите.", 704},
        {"progress", Install, Running, "", 52428800, 209715200, L"", 660},
        {"progress-tiny", Install, Running, "", 209715, 209715200, L"", 660},
        {"progress-failed", Install, Failed, "", 52428800, 209715200, L"Загрузка прервана: нет места на диске.", 660},
        {"finished", Install, Done, "1.0.18", 209715200, 209715200, L"", 660},
        {"confirm-uninstall", Uninstall, Ready, "1.0.18", 0, 0, L"", 420},
        {"uninstall-failed", Uninstall, Failed, "1.0.18", 0, 0, L"Не удалось удалить папку.", 420},
        {"uninstalling", Uninstall, Running, "1.0.18", 0, 0, L"", 420},
        {"uninstalled", Uninstall, Done, "", 0, 0, L"", 420},
    };
    return scenes;
}

inline void applyScene(const Scene& scene, float scale) {
    appState.runMode = scene.mode;
    appState.phase.store(scene.phase);
    appState.bytesDone.store(scene.bytesDone);
    appState.bytesTotal.store(scene.bytesTotal);
    {
        std::lock_guard<std::mutex> lock(appState.stateLock);
        appState.installedVersion = scene.installedVersion;
        appState.offeredVersion = scene.offeredVersion;
        appState.errorText = scene.errorText;
        appState.statusText = scene.mode == Uninstall ? L"Удаление файлов…" : L"Загрузка 3 из 120: maketor.exe";
    }
    appState.installDir = L"C:\\Users\\user\\AppData\\Local\\Programs\\Torvel\\Maketor";
    appState.selectedComponents = {true, true, false, false, false};
    appState.gpuVendorIds = {0x10DE};
    appState.componentSizes = {734003200, 1572864, 300 * 1024, 0, 52428800};
    appState.sizesKnown.store(true);
    appState.desktopShortcut = true;
    appState.launchAfterInstall = true;
    appState.removeUserData = false;
    appState.hoveredId = -1;
    appState.pressedId = -1;
    appState.focusedId = -1;
    appState.uiScale = scale;
}

inline const Scene* findScene(const std::string& name) {
    for (const Scene& scene : allScenes())
        if (name == scene.name) return &scene;
    return nullptr;
}

// The client size in device pixels, as the window computes it.
inline SIZE sceneClientSize(const Scene& scene, float scale) {
    return SIZE{static_cast<LONG>(600 * scale), static_cast<LONG>(static_cast<float>(scene.logicalHeight) * scale)};
}

// A top-down 32-bit DIB section selected into a memory DC: a stand-in for the window's device context.
class OffscreenFrame {
public:
    OffscreenFrame(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_.reset(CreateCompatibleDC(nullptr));
        bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0));
        if (dc_ && bitmap_) previous_ = SelectObject(dc_.get(), bitmap_.get());
    }
    ~OffscreenFrame() {
        if (previous_) SelectObject(dc_.get(), previous_);
    }
    OffscreenFrame(const OffscreenFrame&) = delete;
    OffscreenFrame& operator=(const OffscreenFrame&) = delete;

    bool valid() const { return bits_ != nullptr && previous_ != nullptr; }
    // Fills the frame with a colour the window never uses, then paints the window over it.
    void paint() {
        for (int i = 0; i < width_ * height_; ++i) bits_[i] = 0x00FF00FF;
        paintWindow(dc_.get(), RECT{0, 0, width_, height_});
        GdiFlush();
    }
    // 0xRRGGBB of a device pixel.
    uint32_t rgb(int x, int y) const { return bits_[y * width_ + x] & 0x00FFFFFF; }
    int width() const { return width_; }
    int height() const { return height_; }
    HBITMAP bitmap() const { return bitmap_.get(); }

private:
    struct DcDeleter {
        void operator()(HDC dc) const { DeleteDC(dc); }
    };
    struct BitmapDeleter {
        void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
    };
    int width_, height_;
    std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> dc_;
    std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter> bitmap_;
    uint32_t* bits_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};
