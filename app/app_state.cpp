#include "app/app_state.h"

#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <thread>

#include "app/release_check.h"
#include "app/uninstaller.h"
#include "engine/application.h"
#include "engine/install_run.h"
#include "platform/setup_log.h"

AppState appState;

namespace {

// A copy of one guarded string, taken under the lock.
template <typename Text>
Text lockedCopy(const Text& field) {
    std::lock_guard<std::mutex> lock(appState.stateLock);
    return field;
}

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

}  // namespace

void parseCommandLineText(const wchar_t* commandLine) {
    int count = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> args(CommandLineToArgvW(commandLine, &count));
    if (!args) return;
    std::vector<std::wstring> arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(args.get()[i]);
    SetupArguments options;
    options.runMode = appState.runMode;
    options.waitPid = appState.waitPid;
    applySetupArguments(arguments, options);
    appState.runMode = options.runMode;
    appState.waitPid = options.waitPid;
    if (options.hasInstallDir) appState.installDir = options.installDir;
    if (options.autoMode) {
        appState.autoMode = true;
        appState.desktopShortcut = false;
        appState.launchAfterInstall = false;
    }
}

void parseCommandLine() { parseCommandLineText(GetCommandLineW()); }

void setStatus(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(appState.stateLock);
    appState.statusText = text;
}

void reportFailure(const std::wstring& text) {
    {
        std::lock_guard<std::mutex> lock(appState.stateLock);
        appState.errorText = text;
    }
    logLine(L"ОШИБКА: " + text);
    appState.phase.exchange(Failed);
}

namespace {

// The transfers of a run wait on threads of their own (for a locked file, or to try a download again), and their
// waits overlap: the first wait keeps the line shown before it, and the last one over brings it back, unless
// the run has shown another meanwhile.
struct WaitNotice {
    std::mutex lock;
    unsigned waiting = 0;
    std::wstring shownBefore;
    std::wstring shown;  // the latest wait's line
};

void showWait(WaitNotice& notice, const std::wstring& line) {
    std::lock_guard<std::mutex> hold(notice.lock);
    if (notice.waiting++ == 0) notice.shownBefore = getStatus();
    notice.shown = line;
    setStatus(notice.shown);
}

void endWait(WaitNotice& notice) {
    std::lock_guard<std::mutex> hold(notice.lock);
    if (--notice.waiting == 0 && getStatus() == notice.shown) setStatus(notice.shownBefore);
}

}  // namespace

LockWait runLockWait() {
    LockWait wait;
    wait.boundMs = appState.lockWaitMs;
    auto notice = std::make_shared<WaitNotice>();
    wait.onWait = [notice](const std::wstring& path) { showWait(*notice, L"Ждём, пока освободится файл " + path + L"…"); };
    wait.onWaitOver = [notice] { endWait(*notice); };
    return wait;
}

RetryPlan runRetryPlan() {
    auto notice = std::make_shared<WaitNotice>();
    RetryPlan plan;
    plan.waiting = [notice](const std::wstring& path, unsigned attempt, unsigned attempts, unsigned waitMs) {
        const std::wstring seconds = std::to_wstring((waitMs + 999) / 1000);
        const std::wstring count = std::to_wstring(attempt) + L" из " + std::to_wstring(attempts);
        logLine(L"связь прервалась (" + path + L"), попытка " + count + L" через " + seconds + L" с");
        showWait(*notice, L"Связь прервалась — повторяем через " + seconds + L" с (попытка " + count + L")…");
    };
    plan.resumed = [notice] { endWait(*notice); };
    return plan;
}

std::wstring getStatus() { return lockedCopy(appState.statusText); }

std::wstring getErrorText() { return lockedCopy(appState.errorText); }

std::string getOfferedVersion() { return lockedCopy(appState.offeredVersion); }

std::string getInstalledVersion() { return lockedCopy(appState.installedVersion); }

void setInstalledVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(appState.stateLock);
    appState.installedVersion = version;
}

namespace {

RunContext installRunContext() {
    RunContext run;
    run.installDir = appState.installDir;
    run.selectedComponents = appState.selectedComponents;
    run.desktopShortcut = appState.runMode == Install && appState.desktopShortcut;
    run.waitPid = appState.waitPid;
    run.lockWait = runLockWait();
    run.fetch = withRetries(httpFetch, runRetryPlan());
    run.folderWaitMs = appState.folderWaitMs;
    run.cancelRequested = &appState.cancelRequested;
    run.bytesDone = &appState.bytesDone;
    run.bytesTotal = &appState.bytesTotal;
    run.showStatus = setStatus;
    run.reportFailure = reportFailure;
    return run;
}

// After an interactive update the application the user was working in comes back, and the window goes.
void installAndUpdate() {
    appState.cancelRequested.exchange(false);
    std::string version;
    if (!installRun(installRunContext(), version)) return;
    setInstalledVersion(version);
    appState.phase.exchange(Done);
    if (appState.runMode == Update && !appState.autoMode) {
        const std::wstring& installDir = appState.installDir;
        ShellExecuteW(nullptr, L"open", applicationPathIn(installDir).c_str(), nullptr, installDir.c_str(),
                      SW_SHOWNORMAL);
        PostMessageW(appState.mainWindow.load(), WM_CLOSE, 0, 0);
    }
}

}  // namespace

void startWorker() {
    if (appState.phase.load() == Running) return;
    appState.phase.exchange(Running);
    std::thread([] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (appState.runMode == Uninstall)
            uninstall();
        else
            installAndUpdate();
        CoUninitialize();
    }).detach();
}

void startReleaseCheck() { std::thread(runReleaseCheck).detach(); }
