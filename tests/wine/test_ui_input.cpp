// The window procedure on a real window: pointer messages against the frame on screen, keys during a run,
// and a DPI change.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup.h"
#include "gdiplus_environment.h"
#include "ui/gdiplus_holders.h"
#include "ui/layout.h"

namespace {

testing::Environment* const gdiplusEnvironment = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

LPARAM at(int x, int y) { return MAKELPARAM(x, y); }

class WindowInput : public testing::Test {
protected:
    void open(RunMode mode) {
        appState.runMode = mode;
        appState.phase.store(Ready);
        appState.uiScale = 1.0f;
        appState.hoveredId = appState.pressedId = -1;
        appState.removeUserData = false;
        appState.launchAfterInstall = true;
        appState.focusedId = -1;
        appState.errorRoomAdded = false;
        appState.cancelRequested.store(false);
        appState.bytesDone.store(0);
        appState.bytesTotal.store(0);
        {
            std::lock_guard<std::mutex> lock(appState.stateLock);
            appState.errorText.clear();
        }
        appState.selectedComponents = {true, false, false, false, false};
        window_ = createMainWindow(GetModuleHandleW(nullptr));
        ASSERT_NE(window_, nullptr);
        appState.uiScale = 1.0f;  // whatever the display says, the test lays out at 1.0
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        repaint();
    }
    void TearDown() override {
        appState.phase.store(Ready);
        setShift(false);
        setInstalledVersion("");
        {
            std::lock_guard<std::mutex> lock(appState.stateLock);
            appState.offeredVersion.clear();
        }
        if (IsWindow(window_)) DestroyWindow(window_);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    void repaint() {
        InvalidateRect(window_, nullptr, FALSE);
        UpdateWindow(window_);
    }
    void clickWithoutMoving(int x, int y) {
        SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, at(x, y));
        SendMessageW(window_, WM_LBUTTONUP, 0, at(x, y));
    }
    void key(WPARAM code, LPARAM flags = 0) {
        SendMessageW(window_, WM_KEYDOWN, code, flags);
        repaint();
    }
    static void setShift(bool down) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = down ? 0x80 : 0;
        SetKeyboardState(keys);
    }
    bool needsPaint() {
        RECT update;
        return GetUpdateRect(window_, &update, FALSE) != 0;
    }
    int clientHeight() {
        RECT client;
        GetClientRect(window_, &client);
        return client.bottom;
    }
    bool closePosted() {
        MSG message;
        return PeekMessageW(&message, window_, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
    }
    HWND window_ = nullptr;
};

TEST_F(WindowInput, ClickActsOnTheControlOnScreenNotOnTheOneThatWasThere) {
    open(Uninstall);
    SendMessageW(window_, WM_MOUSEMOVE, 0, at(100, 193));  // over "Удалить и мои данные…"
    EXPECT_EQ(appState.hoveredId, RemoveUserDataBox);
    // The uninstall starts and the next frame shows only its status where the checkbox was.
    appState.phase.store(Running);
    repaint();
    clickWithoutMoving(100, 193);
    EXPECT_FALSE(appState.removeUserData) << "the option the running uninstaller reads was toggled";
    EXPECT_EQ(appState.hoveredId, -1);
}

TEST_F(WindowInput, ClickOnACheckboxTogglesIt) {
    open(Uninstall);
    SendMessageW(window_, WM_MOUSEMOVE, 0, at(100, 193));
    clickWithoutMoving(100, 193);
    EXPECT_TRUE(appState.removeUserData);
    clickWithoutMoving(100, 193);
    EXPECT_FALSE(appState.removeUserData);
}

TEST_F(WindowInput, PressDragOffAndReleaseDoesNothing) {
    open(Install);
    SendMessageW(window_, WM_MOUSEMOVE, 0, at(300, 390));  // row 2
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, at(300, 390));
    EXPECT_EQ(appState.pressedId, 102);
    SendMessageW(window_, WM_MOUSEMOVE, MK_LBUTTON, at(300, 160));
    SendMessageW(window_, WM_LBUTTONUP, 0, at(300, 160));
    EXPECT_EQ(appState.pressedId, -1);
    EXPECT_FALSE(appState.selectedComponents[2]);
    clickWithoutMoving(300, 390);
    EXPECT_TRUE(appState.selectedComponents[2]);
    clickWithoutMoving(300, 300);  // row 0: not a control
    EXPECT_TRUE(appState.selectedComponents[0]);
}

TEST_F(WindowInput, KeysDuringARun) {
    open(Install);
    appState.phase.store(Running);
    SendMessageW(window_, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(closePosted()) << "Escape during a run is ignored";
    SendMessageW(window_, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(appState.phase.load(), Running);
    EXPECT_FALSE(closePosted());
    appState.phase.store(Failed);
    SendMessageW(window_, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(closePosted());
}

TEST_F(WindowInput, AnOlderReleaseOnTheSiteIsNotOffered) {
    setInstalledVersion("1.10");
    {
        std::lock_guard<std::mutex> lock(appState.stateLock);
        appState.offeredVersion = "1.9";
    }
    open(Install);
    const auto drawn = [this](int32_t id) {
        return std::any_of(appState.hitRects.begin(), appState.hitRects.end(),
                           [id](const HitRect& rect) { return rect.id == id; });
    };
    EXPECT_FALSE(drawn(MainButton));
    EXPECT_TRUE(drawn(SecondButton));
    key(VK_RETURN);
    EXPECT_EQ(appState.phase.load(), Ready) << "Enter started a run the window does not offer";
    {
        std::lock_guard<std::mutex> lock(appState.stateLock);
        appState.offeredVersion = "1.10";
    }
    repaint();
    EXPECT_TRUE(drawn(MainButton)) << "the same version is offered as a repair";
}

TEST_F(WindowInput, DpiChangeScalesTheNextFrame) {
    open(Install);
    RECT suggested{100, 100, 100 + 900 + 20, 100 + 990 + 40};
    SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_FLOAT_EQ(appState.uiScale, 1.5f);
    repaint();
    RECT client;
    GetClientRect(window_, &client);
    ASSERT_FALSE(appState.hitRects.empty());
    const HitRect& mainButton = appState.hitRects[appState.hitRects.size() - 2];
    EXPECT_EQ(mainButton.id, MainButton);
    EXPECT_FLOAT_EQ(mainButton.x, static_cast<float>(client.right) - 192.0f * 1.5f);
    EXPECT_FLOAT_EQ(mainButton.y, static_cast<float>(client.bottom) - 64.0f * 1.5f);
    EXPECT_FLOAT_EQ(mainButton.width, 240.0f);
}

TEST_F(WindowInput, TabMovesTheFocusAndSpaceActsOnIt) {
    open(Install);
    EXPECT_EQ(appState.focusedId, -1) << "no focus until the keyboard is used";
    key(VK_TAB);
    EXPECT_EQ(appState.focusedId, ChangeFolderButton);
    for (int32_t expected : {101, 102, 103}) {
        key(VK_TAB);
        EXPECT_EQ(appState.focusedId, expected);
    }
    key(VK_SPACE);
    EXPECT_TRUE(appState.selectedComponents[3]);
    key(VK_SPACE, 1 << 30);  // the key held down: its repeats do nothing
    EXPECT_TRUE(appState.selectedComponents[3]);
    key(VK_SPACE);
    EXPECT_FALSE(appState.selectedComponents[3]);
    setShift(true);
    key(VK_TAB);
    EXPECT_EQ(appState.focusedId, 102);
    setShift(false);
    for (int i = 0; i < 4; ++i) key(VK_TAB);
    EXPECT_EQ(appState.focusedId, LaunchAfterInstallBox);
    key(VK_SPACE);
    EXPECT_FALSE(appState.launchAfterInstall);
    key(VK_TAB);
    key(VK_TAB);
    EXPECT_EQ(appState.focusedId, SecondButton);
    key(VK_SPACE);
    EXPECT_TRUE(closePosted()) << "Space on \"Отмена\" closes the window outside a run";
    key(VK_TAB);
    EXPECT_EQ(appState.focusedId, ChangeFolderButton) << "wraps around";
}

TEST_F(WindowInput, FocusFollowsTheScreenThroughARun) {
    open(Install);
    setShift(true);
    key(VK_TAB);
    key(VK_TAB);
    setShift(false);
    ASSERT_EQ(appState.focusedId, MainButton);
    appState.phase.store(Running);
    repaint();
    EXPECT_EQ(appState.focusedId, SecondButton) << "the main button is gone during the run: \"Отмена\"";
    key(VK_SPACE);
    EXPECT_TRUE(appState.cancelRequested.load()) << "Space on \"Отмена\" cancels the run";
    EXPECT_FALSE(closePosted());
    appState.bytesTotal.store(100);
    appState.phase.store(Failed);
    repaint();
    EXPECT_EQ(appState.focusedId, SecondButton);
    key(VK_TAB);
    EXPECT_EQ(appState.focusedId, MainButton) << "past the last control Tab wraps to the first one";
}

TEST_F(WindowInput, TimerPaintsOnlyWhenTheFrameChanges) {
    open(Install);
    SendMessageW(window_, WM_TIMER, 1, 0);
    EXPECT_FALSE(needsPaint()) << "an idle tick paints nothing";
    SendMessageW(window_, WM_MOUSEMOVE, 0, at(300, 160));  // over no control: no new frame either
    SendMessageW(window_, WM_TIMER, 1, 0);
    EXPECT_FALSE(needsPaint());
    appState.selectedComponents[4] = true;
    SendMessageW(window_, WM_TIMER, 1, 0);
    EXPECT_TRUE(needsPaint());
    repaint();
    appState.phase.store(Running);
    setStatus(L"Скачивание 1 из 3: maketor.exe");
    SendMessageW(window_, WM_TIMER, 1, 0);
    EXPECT_TRUE(needsPaint());
    repaint();
    SendMessageW(window_, WM_TIMER, 1, 0);
    EXPECT_FALSE(needsPaint()) << "a run that shows nothing new paints nothing";
    appState.bytesTotal.store(100 << 20);
    appState.bytesDone.store(50 << 20);
    SendMessageW(window_, WM_TIMER, 1, 0);
    EXPECT_TRUE(needsPaint());
}

TEST_F(WindowInput, FailedFirstInstallGrowsTheWindowOnceForTheErrorText) {
    open(Install);
    const int height = clientHeight();
    {
        std::lock_guard<std::mutex> lock(appState.stateLock);
        appState.errorText = L"Нет связи с сайтом Торвел. Проверьте интернет и повторите.";
    }
    appState.phase.store(Failed);
    repaint();
    EXPECT_EQ(clientHeight(), height + 44);
    ASSERT_FALSE(appState.hitRects.empty());
    EXPECT_FLOAT_EQ(appState.hitRects.back().y, static_cast<float>(height + 44 - 64)) << "the bar follows";
    appState.phase.store(Running);
    repaint();
    appState.phase.store(Failed);
    repaint();
    EXPECT_EQ(clientHeight(), height + 44) << "grows once";
}

TEST_F(WindowInput, OtherFailedScreensKeepTheirSize) {
    setInstalledVersion("1.0.17");  // a reinstall: room enough below its last checkbox
    open(Install);
    const int height = clientHeight();
    appState.phase.store(Failed);
    repaint();
    EXPECT_EQ(clientHeight(), height);
    appState.bytesTotal.store(100);  // a failure during the transfer: Progress
    repaint();
    EXPECT_EQ(clientHeight(), height);
}

}  // namespace
