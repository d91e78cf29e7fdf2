#pragma once
// Helpers shared by the test suites that run under Wine: files, folders and processes.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <string>

// Folder of the running test executable (the cross build folder).
std::wstring testExeDir();
// The product built beside the tests.
std::wstring productExePath();
// The user's temporary folder, without a trailing separator.
std::wstring tempFolder();
// A new empty folder below the temporary folder, unique to this call.
std::wstring makeScratchFolder(const std::wstring& tag);

bool writeFileBytes(const std::wstring& path, const std::string& bytes);
// The whole file, or an empty string when it cannot be read.
std::string readFileBytes(const std::wstring& path);
bool pathExists(const std::wstring& path);
// Removes a file or a folder with everything below it.
void removeTree(const std::wstring& path);

// COM for the current thread as the worker has it (a single-threaded apartment), for the test's length.
struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false when the timeout ran out (the process is then terminated)
    DWORD exitCode = 0;
    DWORD processId = 0;
};
// Starts exePath with the argument string and waits up to timeoutMs for it to end.
ProcessResult runProcess(const std::wstring& exePath, const std::wstring& arguments, DWORD timeoutMs);

// An installation folder "Maketor" in a fresh scratch folder, with a file beside it ("victim.txt") that
// poisoned record keys point at: whatever a test does, that file must survive.
struct ScratchInstallFolder {
    std::wstring outer, installDir, victim;

    explicit ScratchInstallFolder(const std::wstring& tag);
    ~ScratchInstallFolder();
    ScratchInstallFolder(const ScratchInstallFolder&) = delete;
    ScratchInstallFolder& operator=(const ScratchInstallFolder&) = delete;

    std::wstring at(const std::wstring& relative) const;
    // Writes a file below the folder, with its folders; false when it could not be written.
    bool place(const std::wstring& relative, const std::string& bytes = "x") const;
};
