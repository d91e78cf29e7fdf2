#pragma once
// One run at a time per installation folder. The application may start an update while the user starts the
// downloaded setup program on the same folder; the second run waits for the first instead of meeting its
// half-received downloads and staged files. The lock is a named mutex of the user's session keyed by the
// folder's full path in the file system's letter case, so the system releases it when its process dies.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/handles.h"

// How long a run waits for another one on its folder before it gives up: about as long as a large update
// takes on a slow line.
constexpr uint32_t kFolderWaitMs = 10 * 60 * 1000;

struct FolderWait {
    uint32_t boundMs = kFolderWaitMs;
    std::function<bool()> cancelled;  // asked while waiting; null: the wait is not cancelled
    std::function<void()> onWait;     // told once, when the run has to wait
};

// Held while a run works on its folder; released when it goes out of scope. Owned by the thread that took it.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock of installDir, waiting as wait says.
    enum Outcome { Held, Busy, Cancelled };
    Outcome take(const std::wstring& installDir, const FolderWait& wait);
    void release();

private:
    UniqueHandle mutex_;
    bool owned_ = false;
};

// The status line while a run waits for another on its folder, and the failure when it waited in vain.
extern const wchar_t* const folderBusyStatus;
std::wstring folderBusyText(const std::wstring& installDir);

// The name of the folder's mutex: the same for every spelling Windows takes as that folder.
std::wstring folderLockName(const std::wstring& installDir);
