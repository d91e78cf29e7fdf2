// Riding out a file that another process holds for a moment, on real files of the Wine prefix.
#include <gtest/gtest.h>

#include <thread>

#include "app/app_state.h"
#include "app/uninstaller.h"
#include "platform/handles.h"
#include "platform/lock_retry.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

// Opens the file as a scanner does (no delete sharing) and lets go after holdMs, on a thread of its own.
class HeldFile {
public:
    HeldFile(const std::wstring& path, DWORD holdMs)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)),
          releaser_([this, holdMs] {
              Sleep(holdMs);
              handle_.reset();
          }) {}
    ~HeldFile() { releaser_.join(); }
    bool held() const { return static_cast<bool>(handle_); }

private:
    UniqueHandle handle_;
    std::thread releaser_;
};

ULONGLONG elapsedMsOf(const std::function<void()>& action) {
    const ULONGLONG start = GetTickCount64();
    action();
    return GetTickCount64() - start;
}

class LockRetry : public ::testing::Test, public ScratchInstallFolder {
protected:
    LockRetry() : ScratchInstallFolder(L"lock") {}
};

struct DeleteCase {
    const char* name;
    DWORD holdMs;
    uint32_t boundMs;
    bool removed;
};

TEST_F(LockRetry, AFileHeldForAMomentIsWaitedForUpToTheBound) {
    const DeleteCase cases[] = {
        {"released within the bound", 800, 4000, true},
        {"held beyond the bound", 3000, 1000, false},
    };
    for (const DeleteCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = at(L"plugins\\render.dll");
        ASSERT_TRUE(place(L"plugins\\render.dll", "MZ"));
        std::vector<std::wstring> told;
        LockWait wait;
        wait.boundMs = c.boundMs;
        wait.onWait = [&](const std::wstring& waitedFor) { told.push_back(waitedFor); };
        int waitsOver = 0;
        wait.onWaitOver = [&] { ++waitsOver; };
        bool removed = false;
        DWORD error = 0;
        ULONGLONG elapsed = 0;
        {
            HeldFile holder(path, c.holdMs);
            ASSERT_TRUE(holder.held());
            elapsed = elapsedMsOf([&] {
                removed = retryWhileLocked(path, [&] { return DeleteFileW(path.c_str()) != FALSE; }, wait);
                error = GetLastError();
            });
        }
        EXPECT_EQ(removed, c.removed);
        EXPECT_EQ(pathExists(path), !c.removed);
        EXPECT_EQ(told, std::vector<std::wstring>{path});
        EXPECT_EQ(waitsOver, 1);
        if (c.removed) {
            EXPECT_GE(elapsed, c.holdMs - 100);
        } else {
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            EXPECT_GE(elapsed, c.boundMs - 100);
            EXPECT_LT(elapsed, c.holdMs);
        }
        removeTree(at(L"plugins"));
    }
}

TEST_F(LockRetry, OtherErrorsFailAtOnceAndAccessDeniedOnlyUpToTheBound) {
    ASSERT_TRUE(place(L"readonly.dll", "old"));
    SetFileAttributesW(at(L"readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    struct Case {
        const char* name;
        std::wstring path;
        uint32_t maxElapsedMs;
        bool waits;
    } cases[] = {
        {"missing file", at(L"missing.dll"), 300, false},
        {"read-only file (access denied)", at(L"readonly.dll"), 1000 + 800, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int told = 0;
        LockWait wait;
        wait.boundMs = 1000;
        wait.onWait = [&](const std::wstring&) { ++told; };
        bool deleted = true;
        const ULONGLONG elapsed =
            elapsedMsOf([&] { deleted = retryWhileLocked(c.path, [&] { return DeleteFileW(c.path.c_str()) != FALSE; }, wait); });
        EXPECT_FALSE(deleted);
        EXPECT_LT(elapsed, c.maxElapsedMs);
        EXPECT_EQ(told, c.waits ? 1 : 0);
    }
    EXPECT_EQ(readFileBytes(at(L"readonly.dll")), "old");
    SetFileAttributesW(at(L"readonly.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The uninstaller removes a recorded file that a scanner holds for a moment, and says that it waits.
TEST_F(LockRetry, TheUninstallerWaitsForAHeldRecordedFile) {
    ASSERT_TRUE(place(L"plugins\\d3d.dll", "MZ"));
    ASSERT_TRUE(place(L"install.json", "{\"files\": {\"plugins/d3d.dll\": \"a\"}}"));
    appState.installDir = installDir;
    appState.lockWaitMs = 5000;
    std::wstring statusSeen;
    {
        HeldFile holder(at(L"plugins\\d3d.dll"), 800);
        ASSERT_TRUE(holder.held());
        std::thread watcher([&] {
            for (int i = 0; i < 40 && statusSeen.empty(); ++i) {
                const std::wstring status = getStatus();
                if (status.rfind(L"Ждём, пока освободится", 0) == 0) statusSeen = status;
                Sleep(20);
            }
        });
        uninstall();
        watcher.join();
    }
    appState.lockWaitMs = kLockWaitMs;
    appState.installDir.clear();
    EXPECT_EQ(appState.phase.load(), Done);
    EXPECT_FALSE(pathExists(installDir));
    EXPECT_EQ(statusSeen, L"Ждём, пока освободится файл " + at(L"plugins\\d3d.dll") + L"…");
    EXPECT_EQ(getStatus(), L"Удаление…") << "the step's own status is back once the file is free";
    appState.phase.store(Ready);
}

// The transfers of a run wait on threads of their own, and their waits overlap. The status line the run showed
// comes back once the last wait is over, whatever the order in which they end.
TEST(RunLockWait, OverlappingWaitsGiveTheLineBackOnceTheLastIsOver) {
    setStatus(L"Скачивание 1 из 4: a.bin");
    const LockWait wait = runLockWait();
    wait.onWait(L"C:\\a.bin");
    wait.onWait(L"C:\\b.bin");
    EXPECT_EQ(getStatus(), L"Ждём, пока освободится файл C:\\b.bin…");
    wait.onWaitOver();
    EXPECT_EQ(getStatus(), L"Ждём, пока освободится файл C:\\b.bin…") << "one wait is still on";
    wait.onWaitOver();
    EXPECT_EQ(getStatus(), L"Скачивание 1 из 4: a.bin");

    // A line the run showed meanwhile is newer than the one kept: it stays.
    wait.onWait(L"C:\\a.bin");
    setStatus(L"Скачивание 2 из 4: b.bin");
    wait.onWaitOver();
    EXPECT_EQ(getStatus(), L"Скачивание 2 из 4: b.bin");
}

TEST(RunLockWait, ManyTransfersWaitingAtOnceGiveTheLineBack) {
    setStatus(L"Скачивание 1 из 9: a.bin");
    const LockWait wait = runLockWait();
    std::vector<std::thread> transfers;
    for (int t = 0; t < 4; ++t) {
        transfers.emplace_back([wait, t] {  // each transfer has its own copy, as the pool's threads do
            for (int i = 0; i < 2000; ++i) {
                wait.onWait(L"C:\\file" + std::to_wstring(t) + L".bin");
                wait.onWaitOver();
            }
        });
    }
    for (std::thread& transfer : transfers) transfer.join();
    EXPECT_EQ(getStatus(), L"Скачивание 1 из 9: a.bin");
}

}  // namespace
