#include "test_support.h"

#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/handles.h"
#include "platform/text.h"

std::wstring testExeDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L"\\/"));
}

std::wstring productExePath() { return testExeDir() + L"\\maketor-setup.exe"; }

std::wstring tempFolder() {
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    std::wstring text = path;
    while (!text.empty() && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
    return text;
}

std::wstring makeScratchFolder(const std::wstring& tag) {
    static std::atomic<unsigned> counter{0};
    const std::wstring folder = tempFolder() + L"\\mt-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) +
                                L"-" + std::to_wstring(counter++);
    removeTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool writeFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(_wfopen(path.c_str(), L"wb"));
    if (!file) return false;
    return fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

std::string readFileBytes(const std::wstring& path) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) return {};
    std::string bytes;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, got);
    return bytes;
}

bool pathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void removeTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW entry{};
    std::vector<std::wstring> children;
    {
        UniqueFind listing(FindFirstFileW((path + L"\\*").c_str(), &entry));
        if (listing.get() != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") children.push_back(path + L"\\" + name);
            } while (FindNextFileW(listing.get(), &entry));
        }
    }
    for (const auto& child : children) removeTree(child);
    RemoveDirectoryW(path.c_str());
}

ProcessResult runProcess(const std::wstring& exePath, const std::wstring& arguments, DWORD timeoutMs) {
    ProcessResult result;
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return result;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    result.started = true;
    result.processId = info.dwProcessId;
    if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(process.get(), &result.exitCode);
    } else {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
    return result;
}

ScratchInstallFolder::ScratchInstallFolder(const std::wstring& tag)
    : outer(makeScratchFolder(tag)), installDir(outer + L"\\Maketor"), victim(outer + L"\\victim.txt") {
    CreateDirectoryW(installDir.c_str(), nullptr);
    writeFileBytes(victim, "not ours");
}

ScratchInstallFolder::~ScratchInstallFolder() { removeTree(outer); }

std::wstring ScratchInstallFolder::at(const std::wstring& relative) const { return installDir + L"\\" + relative; }

bool ScratchInstallFolder::place(const std::wstring& relative, const std::string& bytes) const {
    const std::wstring path = at(relative);
    SHCreateDirectoryExW(nullptr, path.substr(0, path.find_last_of(L"\\/")).c_str(), nullptr);
    return writeFileBytes(path, bytes);
}
