#pragma once
// What one install or update run is given by its caller: the installation it works on, the choices it carries
// out, where it fetches from and where it reports. The engine keeps no process-wide state of its own.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/folder_lock.h"
#include "platform/http.h"
#include "platform/lock_retry.h"

struct RunContext {
    std::wstring installDir;
    std::array<bool, 5> selectedComponents{};
    bool desktopShortcut = false;  // a shortcut on the desktop too, besides the Start menu's
    uint32_t waitPid = 0;          // the application process that must end before its files are replaced
    LockWait lockWait;             // patience with a locked file, and how a wait is shown
    uint32_t folderWaitMs = kFolderWaitMs;  // patience with another run on the same folder

    BodyFetch fetch = httpFetch;

    // Owned by the caller, which watches them while the run works.
    std::atomic<bool>* cancelRequested = nullptr;  // honoured before each file and between received pieces
    std::atomic<uint64_t>* bytesDone = nullptr;
    std::atomic<uint64_t>* bytesTotal = nullptr;
    std::function<void(const std::wstring& text)> showStatus;
    // Called once, with the complete sentence, when the run fails.
    std::function<void(const std::wstring& text)> reportFailure;
};

inline bool isCancelRequested(const RunContext& run) { return run.cancelRequested && run.cancelRequested->load(); }
