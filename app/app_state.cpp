#include "app/app_state.h"

#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <thread>

#include "app/release_check.h"
#include "app/uninstaller.h"
#include "engine/install_run.h"

AppState appState;

const wchar_t* const shortcutName = L"Макетор — Торвел.lnk";
const wchar_t* const legacyShortcutNames[2] = {L"ТорВел — 3D-макетор.lnk", L"Тор Вел — 3D-макетор.lnk"};

namespace {

// Signed decimal like strtol: leading white space, optional sign, digits up to the first other character.
// A value that is negative or beyond 32 bits names no process we could wait for, so it reads as 0.
uint32_t parsePid(const wchar_t* text) {
    while (*text == L' ' || *text == L'\t' || *text == L'\n' || *text == L'\r' || *text == L'\v' ||
           *text == L'\f')
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = (*text++ == L'-');
    uint64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - L'0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    return negative ? 0 : static_cast<uint32_t>(value);
}

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
    LPWSTR* argv = args.get();
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"/update") {
            appState.runMode = Update;
        } else if (arg == L"/uninstall") {
            appState.runMode = Uninstall;
        } else if (arg == L"/pid") {
            if (i + 1 < count) appState.waitPid = parsePid(argv[++i]);
        } else if (arg == L"/dir") {
            if (i + 1 < count) appState.installDir = argv[++i];
        } else if (arg == L"/auto") {
            appState.autoMode = true;
            appState.desktopShortcut = false;
            appState.launchAfterInstall = false;
        }
    }
}

void parseCommandLine() { parseCommandLineText(GetCommandLineW()); }

void setStatus(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(appState.stateLock);
    appState.statusText = text;
}

LockWait runLockWait() {
    LockWait wait;
    wait.boundMs = appState.lockWaitMs;
    wait.onWait = [](const std::wstring& path) { setStatus(L"Ждём, пока освободится файл " + path + L"…"); };
    return wait;
}

std::wstring getStatus() { return lockedCopy(appState.statusText); }

std::wstring getErrorText() { return lockedCopy(appState.errorText); }

std::string getOfferedVersion() { return lockedCopy(appState.offeredVersion); }

std::string getInstalledVersion() { return lockedCopy(appState.installedVersion); }

void setInstalledVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(appState.stateLock);
    appState.installedVersion = version;
}

void startWorker() {
    if (appState.phase.load() == Running) return;
    appState.phase.exchange(Running);
    std::thread([] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (appState.runMode == Uninstall)
            uninstall();
        else
            installRun();
        CoUninitialize();
    }).detach();
}

void startReleaseCheck() { std::thread(runReleaseCheck).detach(); }
