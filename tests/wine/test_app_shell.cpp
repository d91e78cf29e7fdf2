// Launch options, the worker guard, the relaunch command line, old-copy clean-up, window sizes and the
// close policy, on the real Windows APIs under Wine.
#include <gtest/gtest.h>

#include <thread>

#include "app/app_state.h"
#include "app/main_loop.h"
#include "app/startup.h"
#include "platform/setup_log.h"
#include "test_support.h"

namespace {

void resetOptions() {
    appState.runMode = Install;
    appState.waitPid = 0;
    appState.autoMode = false;
    appState.desktopShortcut = true;
    appState.launchAfterInstall = true;
    appState.installDir.clear();
    appState.phase.store(Ready);
    appState.cancelRequested.store(false);
}

struct CommandLineCase {
    const wchar_t* commandLine;
    RunMode mode;
    uint32_t pid;
    const wchar_t* dir;
    bool autoMode;
};

const CommandLineCase kCommandLines[] = {
    {L"setup.exe", Install, 0, L"", false},
    {L"setup.exe /update", Update, 0, L"", false},
    {L"setup.exe /uninstall", Uninstall, 0, L"", false},
    {L"setup.exe /UPDATE", Install, 0, L"", false},
    {L"setup.exe -update", Install, 0, L"", false},
    {L"setup.exe /update=1", Install, 0, L"", false},
    {L"setup.exe \" /update\"", Install, 0, L"", false},
    {L"setup.exe /uninstall /update", Update, 0, L"", false},
    {L"setup.exe /update /uninstall", Uninstall, 0, L"", false},
    {L"setup.exe /pid 4242", Install, 4242, L"", false},
    {L"setup.exe /pid", Install, 0, L"", false},
    {L"setup.exe /pid abc", Install, 0, L"", false},
    {L"setup.exe /pid abc /update", Update, 0, L"", false},
    {L"setup.exe /pid 12x", Install, 12, L"", false},
    {L"setup.exe /pid \"  77\"", Install, 77, L"", false},
    {L"setup.exe /pid +9", Install, 9, L"", false},
    {L"setup.exe /pid -5", Install, 0, L"", false},
    {L"setup.exe /pid 99999999999", Install, 0, L"", false},
    {L"setup.exe /pid 1 /pid 2", Install, 2, L"", false},
    {L"setup.exe /dir /auto", Install, 0, L"/auto", false},
    {L"setup.exe /dir", Install, 0, L"", false},
    {L"setup.exe /dir \"C:\\Program Files\\My Apps\"", Install, 0, L"C:\\Program Files\\My Apps", false},
    {L"setup.exe /dir C:\\a /dir D:\\b", Install, 0, L"D:\\b", false},
    {L"setup.exe /auto", Install, 0, L"", true},
    {L"setup.exe /Auto", Install, 0, L"", false},
    {L"setup.exe /update /pid 4242 /dir \"C:\\x y\" /auto", Update, 4242, L"C:\\x y", true},
    {L"setup.exe unknown /uninstall extra", Uninstall, 0, L"", false},
};

TEST(CommandLine, EveryFormFromTheTable) {
    for (const auto& c : kCommandLines) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.commandLine)));
        resetOptions();
        parseCommandLineText(c.commandLine);
        EXPECT_EQ(appState.runMode, c.mode);
        EXPECT_EQ(appState.waitPid, c.pid);
        EXPECT_EQ(appState.installDir, std::wstring(c.dir));
        EXPECT_EQ(appState.autoMode, c.autoMode);
        // "/auto" also switches off the desktop shortcut and the launch at the end.
        EXPECT_EQ(appState.desktopShortcut, !c.autoMode);
        EXPECT_EQ(appState.launchAfterInstall, !c.autoMode);
    }
}

TEST(Worker, StartWorkerDuringARunStartsNothing) {
    resetOptions();
    appState.phase.store(Running);
    const std::string logBefore = readFileBytes(setupLogPath());
    startWorker();
    startWorker();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // A worker would have ended the run (Done or Failed) and possibly logged; none was started.
    EXPECT_EQ(appState.phase.load(), Running);
    EXPECT_EQ(readFileBytes(setupLogPath()), logBefore);
    appState.phase.store(Ready);
}

// Two transfers wait to try again at once: the status line says so until the last goes on, then shows what it
// showed before; the log names each retry.
TEST(Retries, TheStatusLineSaysARunWaitsToTryAgain) {
    setStatus(L"Скачивание 3 из 9: data\\scene.bin");
    const RetryPlan plan = runRetryPlan();
    plan.waiting(L"/maketor/app/blobs/a.lzms", 2, 4, 2000);
    EXPECT_EQ(getStatus(), L"Связь прервалась — повторяем через 2 с (попытка 2 из 4)…");
    plan.waiting(L"/maketor/app/blobs/b.lzms", 3, 4, 4000);
    EXPECT_EQ(getStatus(), L"Связь прервалась — повторяем через 4 с (попытка 3 из 4)…");
    plan.resumed();
    EXPECT_EQ(getStatus(), L"Связь прервалась — повторяем через 4 с (попытка 3 из 4)…");
    plan.resumed();
    EXPECT_EQ(getStatus(), L"Скачивание 3 из 9: data\\scene.bin");
    const std::string log = readFileBytes(setupLogPath());
    EXPECT_NE(log.find("связь прервалась (/maketor/app/blobs/a.lzms), попытка 2 из 4 через 2 с\r\n"), std::string::npos);
    EXPECT_NE(log.find("связь прервалась (/maketor/app/blobs/b.lzms), попытка 3 из 4 через 4 с\r\n"), std::string::npos);
}

struct RelaunchCase {
    RunMode mode;
    uint32_t pid;
    bool autoMode;
    const wchar_t* dir;
    const wchar_t* expected;
};

const RelaunchCase kRelaunchCases[] = {
    {Install, 0, false, L"C:\\Apps\\Maketor", L" /dir \"C:\\Apps\\Maketor\""},
    {Update, 4242, true, L"C:\\Apps\\Maketor", L"/update /pid 4242 /auto /dir \"C:\\Apps\\Maketor\""},
    {Update, 4242, false, L"C:\\Apps\\Maketor", L"/update /pid 4242 /dir \"C:\\Apps\\Maketor\""},
    {Uninstall, 0, true, L"C:\\Apps\\Maketor", L"/uninstall /auto /dir \"C:\\Apps\\Maketor\""},
    {Uninstall, 0, false, L"C:\\My Apps\\Maketor", L"/uninstall /dir \"C:\\My Apps\\Maketor\""},
    {Install, 7, false, L"C:\\Apps\\Maketor", L" /pid 7 /dir \"C:\\Apps\\Maketor\""},
    // A trailing backslash would escape the closing quote: it is dropped, except on a drive root.
    {Install, 0, false, L"C:\\Apps\\Maketor\\", L" /dir \"C:\\Apps\\Maketor\""},
    {Install, 0, false, L"D:\\", L" /dir \"D:\\\\\""},
};

TEST(Relaunch, ArgumentStringForEveryModeAndOption) {
    for (const auto& c : kRelaunchCases) {
        resetOptions();
        appState.runMode = c.mode;
        appState.waitPid = c.pid;
        appState.autoMode = c.autoMode;
        appState.installDir = c.dir;
        EXPECT_EQ(relaunchArguments(), std::wstring(c.expected));
    }
}

TEST(Relaunch, QuotedFolderReadsBackTheSameFolder) {
    const wchar_t* folders[] = {L"C:\\Apps\\Maketor\\", L"D:\\", L"C:\\x y\\z"};
    const wchar_t* expected[] = {L"C:\\Apps\\Maketor", L"D:\\", L"C:\\x y\\z"};
    for (size_t i = 0; i < 3; ++i) {
        resetOptions();
        appState.runMode = Update;
        appState.installDir = folders[i];
        const std::wstring args = relaunchArguments();
        resetOptions();
        parseCommandLineText((L"copy.exe " + args).c_str());
        EXPECT_EQ(appState.installDir, std::wstring(expected[i]));
        EXPECT_EQ(appState.runMode, Update);
    }
}

TEST(Relaunch, NotFromOutsideTheInstallFolder) {
    resetOptions();
    const std::wstring scratch = makeScratchFolder(L"relaunch");
    appState.installDir = scratch + L"\\not-yet-there";
    EXPECT_FALSE(relaunchFromTemp(scratch, productExePath()));
    appState.installDir = scratch;
    EXPECT_FALSE(relaunchFromTemp(scratch, productExePath()));
    removeTree(scratch);
}

TEST(CleanUp, RemovesOnlyOldCopiesOfThisProgram) {
    const std::wstring temp = makeScratchFolder(L"cleanup");
    struct Entry {
        const wchar_t* name;
        bool removed;
    };
    const Entry entries[] = {
        {L"maketor-setup-1.exe", true},         {L"maketor-setup-2.exe", true},
        {L"maketor-setup-5.EXE", false},        {L"maketor-setup.exe", false},
        {L"other-maketor-setup-1.exe", false},  {L"maketor-setup-3.exe.txt", false},
        {L"Maketor-setup-4.exe", false},        {L"maketor-setup-.exe", true},
    };
    for (const auto& e : entries) ASSERT_TRUE(writeFileBytes(temp + L"\\" + e.name, "x"));
    CreateDirectoryW((temp + L"\\maketor-setup-dir.exe").c_str(), nullptr);
    // The running copy itself stays, also when it is held open.
    const std::wstring running = temp + L"\\maketor-setup-99.exe";
    ASSERT_TRUE(CopyFileW(productExePath().c_str(), running.c_str(), FALSE));

    cleanUpOldCopies(temp, running);

    for (const auto& e : entries)
        EXPECT_EQ(pathExists(temp + L"\\" + e.name), !e.removed) << testing::PrintToString(std::wstring(e.name));
    EXPECT_FALSE(pathExists(temp + L"\\maketor-setup-dir.exe"));
    EXPECT_TRUE(pathExists(running));
    removeTree(temp);
}

TEST(CleanUp, MissingFolderIsNoError) {
    cleanUpOldCopies(L"C:\\no\\such\\folder", productExePath());
    SUCCEED();
}

TEST(SameFileObject, ComparesIdentityNotNames) {
    const std::wstring scratch = makeScratchFolder(L"same");
    ASSERT_TRUE(writeFileBytes(scratch + L"\\a.txt", "a"));
    ASSERT_TRUE(writeFileBytes(scratch + L"\\b.txt", "a"));
    EXPECT_TRUE(sameFileObject(scratch + L"\\a.txt", scratch + L"\\.\\a.txt"));
    EXPECT_TRUE(sameFileObject(scratch, scratch + L"\\"));
    EXPECT_FALSE(sameFileObject(scratch + L"\\a.txt", scratch + L"\\b.txt"));
    EXPECT_FALSE(sameFileObject(scratch + L"\\a.txt", scratch + L"\\missing.txt"));
    removeTree(scratch);
}

TEST(Window, ClientSizeForEveryModeAndScale) {
    struct Case {
        RunMode mode;
        bool installed;
        float scale;
        LONG width, height;
    };
    const Case cases[] = {
        {Install, false, 1.0f, 600, 660}, {Install, true, 1.0f, 600, 580}, {Update, false, 1.0f, 600, 420},
        {Uninstall, true, 1.0f, 600, 420}, {Install, false, 1.5f, 900, 990}, {Install, true, 1.5f, 900, 870},
        {Update, true, 1.5f, 900, 630},   {Uninstall, false, 1.5f, 900, 630}, {Install, false, 1.25f, 750, 825},
    };
    for (const auto& c : cases) {
        const SIZE size = clientSizeFor(c.mode, c.installed, c.scale);
        EXPECT_EQ(size.cx, c.width);
        EXPECT_EQ(size.cy, c.height);
    }
}

class RealWindow : public testing::Test {
protected:
    void SetUp() override {
        resetOptions();
        setInstalledVersion("");
        window_ = createMainWindow(GetModuleHandleW(nullptr));
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        // WM_DESTROY posts WM_QUIT, which no filter keeps out of the next test's queue checks.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        appState.phase.store(Ready);
        appState.cancelRequested.store(false);
    }
    HWND window_ = nullptr;
};

TEST_F(RealWindow, ClientAreaAndPlacement) {
    RECT client{};
    GetClientRect(window_, &client);
    const SIZE expected = clientSizeFor(Install, false, appState.uiScale);
    EXPECT_EQ(client.right - client.left, expected.cx);
    EXPECT_EQ(client.bottom - client.top, expected.cy);
    wchar_t title[128] = {};
    GetWindowTextW(window_, title, 128);
    EXPECT_EQ(std::wstring(title), L"Установка — Макетор — Торвел");
    const LONG style = GetWindowLongW(window_, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
}

TEST_F(RealWindow, CloseDuringARunOnlyRequestsCancel) {
    appState.phase.store(Running);
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(appState.cancelRequested.load());
    appState.phase.store(Failed);
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(RealWindow, UnattendedTickPostsOneCloseOnceTheRunEnded) {
    appState.autoMode = true;
    appState.autoClosePosted = false;
    appState.phase.store(Running);
    onTimerTick(window_);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, window_, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    appState.phase.store(Failed);
    onTimerTick(window_);
    onTimerTick(window_);
    int closes = 0;
    while (PeekMessageW(&message, window_, WM_CLOSE, WM_CLOSE, PM_REMOVE)) ++closes;
    EXPECT_EQ(closes, 1);
    appState.autoMode = false;
}

}  // namespace
