// The real executable under Wine: unattended runs end by themselves with exit code 0, and a start from inside
// the installation folder hands over to a temporary copy.
#include <gtest/gtest.h>

#include <thread>

#include "test_support.h"

namespace {

const DWORD kRunTimeoutMs = 120000;

TEST(ProcessRuns, UnattendedRunClosesItselfWithExitCodeZero) {
    const std::wstring folder = makeScratchFolder(L"auto");
    const ProcessResult run = runProcess(productExePath(), L"/auto /dir \"" + folder + L"\\Maketor\"", kRunTimeoutMs);
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.finished) << "the unattended window must close once the run has ended";
    EXPECT_EQ(run.exitCode, 0u);
    removeTree(folder);
}

TEST(ProcessRuns, StartFromInsideTheInstallFolderRelaunchesFromATemporaryCopy) {
    const std::wstring folder = makeScratchFolder(L"inside");
    const std::wstring setupCopy = folder + L"\\setup.exe";
    ASSERT_TRUE(CopyFileW(productExePath().c_str(), setupCopy.c_str(), FALSE));

    const ProcessResult run = runProcess(setupCopy, L"/auto /dir \"" + folder + L"\"", kRunTimeoutMs);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);

    const std::wstring tempCopy = tempFolder() + L"\\maketor-setup-" + std::to_wstring(run.processId) + L".exe";
    EXPECT_TRUE(pathExists(tempCopy));
    // The copy runs the unattended install on its own and ends; then its file can go.
    bool removed = false;
    for (int i = 0; i < 600 && !removed; ++i) {
        removed = DeleteFileW(tempCopy.c_str()) || !pathExists(tempCopy);
        if (!removed) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(removed) << "the temporary copy should end by itself";
    removeTree(folder);
}

}  // namespace
