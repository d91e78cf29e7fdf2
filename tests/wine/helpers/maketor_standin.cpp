// maketor_standin.exe — the stand-in for the application in test and demo releases, where it is published as
// "maketor.exe". It opens no window; while it runs its own file is in use, as the real application's is.
//
//   maketor.exe [--update] [--auto] [--setup PATH] [--hold FILE] [--exit-after MS]
//
// At start it writes its process id to "maketor-standin.pid" in the temporary folder and appends a line to
// "maketor-standin.log" there. With --update it starts the setup program ("setup.exe" beside itself, or PATH)
// with the update command line: /update /pid <own id> /dir "<own folder>" [/auto]. With --hold it keeps FILE
// open with no sharing, as an application holds its libraries, so that FILE cannot be replaced. It then stays
// until the file "maketor-standin.close" appears in the temporary folder (it deletes that file and its pid
// file as it goes) or, with --exit-after, until MS milliseconds have passed.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/handles.h"

namespace {

std::wstring tempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    return std::wstring(folder) + name;
}

void appendLog(const std::wstring& line) {
    UniqueFile log(_wfopen(tempPath(L"maketor-standin.log").c_str(), L"a, ccs=UTF-8"));
    if (log) fwprintf(log.get(), L"%ls\n", line.c_str());
}

std::wstring ownFolder() {
    wchar_t path[1024] = {};
    GetModuleFileNameW(nullptr, path, 1024);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L"\\/"));
}

bool startUpdate(const std::wstring& setupPath, const std::wstring& folder, bool autoMode) {
    std::wstring arguments =
        L"/update /pid " + std::to_wstring(GetCurrentProcessId()) + L" /dir \"" + folder + L"\"";
    if (autoMode) arguments += L" /auto";
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", setupPath.c_str(), arguments.c_str(), folder.c_str(), SW_SHOWNORMAL));
    appendLog(L"update " + setupPath + L" " + arguments + (result > 32 ? L"" : L" FAILED"));
    return result > 32;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool update = false;
    bool autoMode = false;
    long exitAfterMs = -1;
    std::wstring heldPath;
    const std::wstring folder = ownFolder();
    std::wstring setupPath = folder + L"\\setup.exe";
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--update") update = true;
        else if (arg == L"--auto") autoMode = true;
        else if (arg == L"--setup" && i + 1 < argc) setupPath = argv[++i];
        else if (arg == L"--hold" && i + 1 < argc) heldPath = argv[++i];
        else if (arg == L"--exit-after" && i + 1 < argc) exitAfterMs = wcstol(argv[++i], nullptr, 10);
    }

    const std::wstring pidFile = tempPath(L"maketor-standin.pid");
    const std::wstring closeFile = tempPath(L"maketor-standin.close");
    DeleteFileW(closeFile.c_str());  // a flag left from an earlier stand-in must not end this one
    if (UniqueFile pid{_wfopen(pidFile.c_str(), L"w")}) fwprintf(pid.get(), L"%lu\n", GetCurrentProcessId());
    appendLog(L"started " + std::to_wstring(GetCurrentProcessId()) + L" in " + folder);

    int exitCode = 0;
    UniqueHandle held;
    if (!heldPath.empty()) {
        held.reset(CreateFileW(heldPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
        appendLog(L"hold " + heldPath + (held ? L"" : L" FAILED"));
        if (!held) exitCode = 1;
    }
    if (update && !startUpdate(setupPath, folder, autoMode)) exitCode = 1;

    const ULONGLONG start = GetTickCount64();
    while (GetFileAttributesW(closeFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (exitAfterMs >= 0 && GetTickCount64() - start >= static_cast<ULONGLONG>(exitAfterMs)) break;
        Sleep(50);
    }
    DeleteFileW(closeFile.c_str());
    DeleteFileW(pidFile.c_str());
    appendLog(L"closed " + std::to_wstring(GetCurrentProcessId()));
    return exitCode;
}
