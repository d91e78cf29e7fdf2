// The setup log and the failure report, on the real temporary folder of the Wine prefix.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/app_state.h"
#include "platform/setup_log.h"
#include "test_support.h"

namespace {

// What the log gained since `before` was read.
std::string appendedSince(const std::string& before) {
    const std::string now = readFileBytes(setupLogPath());
    EXPECT_GE(now.size(), before.size());
    EXPECT_EQ(now.compare(0, before.size(), before), 0) << "earlier lines must stay";
    return now.substr(before.size());
}

TEST(SetupLog, LivesInTheTemporaryFolder) {
    EXPECT_EQ(setupLogPath(), tempFolder() + L"\\maketor-setup.log");
}

TEST(SetupLog, AppendsUtf8LinesWithCrLfAndNoByteOrderMark) {
    const std::string before = readFileBytes(setupLogPath());
    logLine(L"установлено 1.4.2 в C:\\Программы: скачано файлов 3, 512 КБ");
    logLine(L"");
    logLine(L"second");
    EXPECT_EQ(appendedSince(before),
              "\xD1\x83\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xBE 1.4.2 \xD0\xB2 "
              "C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B: "
              "\xD1\x81\xD0\xBA\xD0\xB0\xD1\x87\xD0\xB0\xD0\xBD\xD0\xBE \xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB\xD0\xBE\xD0\xB2 3, "
              "512 \xD0\x9A\xD0\x91\r\n\r\nsecond\r\n");
    const std::string whole = readFileBytes(setupLogPath());
    EXPECT_NE(whole.compare(0, 3, "\xEF\xBB\xBF"), 0);
}

TEST(SetupLog, MissingLogFileIsCreated) {
    DeleteFileW(setupLogPath().c_str());
    logLine(L"first");
    EXPECT_EQ(readFileBytes(setupLogPath()), "first\r\n");
}

TEST(ReportFailure, StoresTheTextLogsItAndFailsTheRun) {
    appState.phase.store(Running);
    const std::string before = readFileBytes(setupLogPath());
    reportFailure(L"Установка отменена.");
    EXPECT_EQ(getErrorText(), L"Установка отменена.");
    EXPECT_EQ(appState.phase.load(), Failed);
    EXPECT_EQ(appendedSince(before),
              "\xD0\x9E\xD0\xA8\xD0\x98\xD0\x91\xD0\x9A\xD0\x90: "
              "\xD0\xA3\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBA\xD0\xB0 "
              "\xD0\xBE\xD1\x82\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB5\xD0\xBD\xD0\xB0.\r\n");
    appState.phase.store(Ready);
}

TEST(ReportFailure, TheTextIsThereBeforeThePhaseSaysFailed) {
    // A painter that sees Failed must already find the message: watch from another thread.
    for (int round = 0; round < 200; ++round) {
        {
            std::lock_guard<std::mutex> lock(appState.stateLock);
            appState.errorText.clear();
        }
        appState.phase.store(Running);
        std::atomic<bool> sawEmptyText{false};
        std::thread watcher([&] {
            while (appState.phase.load() != Failed) {
            }
            if (getErrorText().empty()) sawEmptyText = true;
        });
        reportFailure(L"x");
        watcher.join();
        ASSERT_FALSE(sawEmptyText.load()) << "round " << round;
    }
    appState.phase.store(Ready);
}

}  // namespace
