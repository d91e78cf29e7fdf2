#include "app/startup.h"

#include <objbase.h>
#include <shellapi.h>
#include <gdiplus.h>

#include "app/discovery.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "ui/resources.h"
#include "ui/window_proc.h"

namespace {

const wchar_t kWindowClass[] = L"MaketorSetup";
const DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const UINT_PTR kTimerId = 1;
const UINT kTimerPeriodMs = 60;
const wchar_t kCopyPrefix[] = L"maketor-setup-";

std::wstring fileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The part of a file name from its last dot; a leading dot does not count, "." and ".." have none.
std::wstring extensionOf(const std::wstring& name) {
    if (name == L"." || name == L"..") return {};
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || dot == 0) return {};
    return name.substr(dot);
}

std::wstring folderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

UniqueHandle openForIdentity(const std::wstring& path) {
    return UniqueHandle(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Inside double quotes, backslashes before the closing quote would escape it. A trailing backslash is
// dropped (the folder reads back the same); a drive root keeps it, doubled, so it still names the root.
std::wstring quotedFolder(std::wstring folder) {
    const bool isDriveRoot = folder.size() == 3 && folder[1] == L':' && folder[2] == L'\\';
    if (isDriveRoot) return L"\"" + folder + L"\\\"";
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return L"\"" + folder + L"\"";
}

}  // namespace

bool sameFileObject(const std::wstring& a, const std::wstring& b) {
    UniqueHandle first = openForIdentity(a);
    if (!first) return false;
    UniqueHandle second = openForIdentity(b);
    if (!second) return false;
    BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
    if (!GetFileInformationByHandle(first.get(), &infoA) || !GetFileInformationByHandle(second.get(), &infoB))
        return false;
    return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
}

void cleanUpOldCopies(const std::wstring& tempDir, const std::wstring& exePath) {
    WIN32_FIND_DATAW entry{};
    UniqueFind listing(FindFirstFileW(pathJoin(tempDir, L"*").c_str(), &entry));
    if (listing.get() == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fileNameOf(entry.cFileName);
        if (name.compare(0, wcslen(kCopyPrefix), kCopyPrefix) != 0) continue;
        if (extensionOf(name) != L".exe") continue;
        const std::wstring path = pathJoin(tempDir, name);
        if (sameFileObject(path, exePath)) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path.c_str());
        else
            DeleteFileW(path.c_str());  // a copy that still runs cannot go; a later start removes it
    } while (FindNextFileW(listing.get(), &entry));
}

std::wstring relaunchArguments() {
    std::wstring args;
    if (appState.runMode == Update) args = L"/update";
    if (appState.runMode == Uninstall) args = L"/uninstall";
    if (appState.waitPid != 0) args += L" /pid " + std::to_wstring(appState.waitPid);
    if (appState.autoMode) args += L" /auto";
    args += L" /dir " + quotedFolder(appState.installDir);
    return args;
}

bool relaunchFromTemp(const std::wstring& tempDir, const std::wstring& exePath) {
    if (!sameFileObject(folderOf(exePath), appState.installDir)) return false;
    const std::wstring copyPath =
        pathJoin(tempDir, kCopyPrefix + std::to_wstring(GetCurrentProcessId()) + L".exe");
    if (!CopyFileW(exePath.c_str(), copyPath.c_str(), FALSE)) return false;
    const std::wstring args = relaunchArguments();
    ShellExecuteW(nullptr, L"open", copyPath.c_str(), args.c_str(), nullptr, SW_SHOWNORMAL);
    return true;
}

int logicalClientHeight(RunMode mode, bool hasInstalledVersion) {
    if (mode != Install) return 420;
    return hasInstalledVersion ? 580 : 660;
}

SIZE clientSizeFor(RunMode mode, bool hasInstalledVersion, float scale) {
    SIZE size;
    size.cx = static_cast<LONG>(600 * scale);
    size.cy = static_cast<LONG>(static_cast<float>(logicalClientHeight(mode, hasInstalledVersion)) * scale);
    return size;
}

float primaryMonitorScale() {
    const POINT origin{0, 0};
    HMONITOR monitor = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    UINT dpiX = 96, dpiY = 96;
    // Shcore is optional; the library stays loaded for the life of the process.
    if (HMODULE shcore = LoadLibraryExW(L"Shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
        auto getDpi = reinterpret_cast<GetDpiForMonitorFn>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
        if (getDpi) getDpi(monitor, 0 /* MDT_EFFECTIVE_DPI */, &dpiX, &dpiY);
    }
    return static_cast<float>(dpiX) / 96.0f;
}

HWND createMainWindow(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = windowProcedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    appState.uiScale = primaryMonitorScale();
    const SIZE client = clientSizeFor(appState.runMode, !getInstalledVersion().empty(), appState.uiScale);
    RECT rect{0, 0, client.cx, client.cy};

    if (appState.runMode == Install) startReleaseCheck();

    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, 0);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    const int x = (info.rcWork.left + info.rcWork.right - width) / 2;
    const int y = (info.rcWork.top + info.rcWork.bottom - height) / 2;

    const wchar_t* title = appState.runMode == Uninstall ? L"Удаление — Макетор — Торвел"
                                                         : L"Установка — Макетор — Торвел";
    HWND window = CreateWindowExW(0, kWindowClass, title, kWindowStyle, x, y, width, height, nullptr, nullptr,
                                  instance, nullptr);
    appState.mainWindow.store(window);
    return window;
}

int runSetup(HINSTANCE instance) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    parseCommandLine();

    wchar_t tempDir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tempDir);
    wchar_t exePath[520] = {};
    GetModuleFileNameW(nullptr, exePath, 520);

    cleanUpOldCopies(tempDir, exePath);
    discoverInstallation();
    if (relaunchFromTemp(tempDir, exePath)) {
        CoUninitialize();
        return 0;
    }

    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartupInput startupInput;
    Gdiplus::GdiplusStartup(&gdiplusToken, &startupInput, nullptr);
    loadUiResources(instance);

    HWND window = createMainWindow(instance);
    if (window) {
        ShowWindow(window, SW_SHOWNORMAL);
        SetTimer(window, kTimerId, kTimerPeriodMs, nullptr);
        if (appState.runMode == Update || appState.autoMode) startWorker();
        // A process without its window would wait here for ever, so the loop runs only with one.
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    releaseUiResources();
    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return 0;
}
