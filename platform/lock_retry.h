#pragma once
// Riding out transient locks. Antivirus scanners, search indexers and backup tools open a new or changed
// file for a moment, and an executable stays locked briefly after its process has ended; the operation that
// met such a lock succeeds a little later. Every other error is final at once.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// How long one file may keep an operation waiting, in all.
constexpr uint32_t kLockWaitMs = 10000;

struct LockWait {
    uint32_t boundMs = kLockWaitMs;
    // Told the file's path once, when the first retry begins (the status line says that the run waits),
    // and told again once that wait is over, whichever way it ended.
    std::function<void(const std::wstring& path)> onWait;
    std::function<void()> onWaitOver;
};

// A sharing violation, a lock violation or access denied: what a scanner's or a closing process's handle gives.
bool isTransientLockError(DWORD error);
// Calls attempt (which leaves its error in GetLastError on failure) until it succeeds, fails with an error
// that is not a transient lock, or the bound has passed. The last attempt's error stays in GetLastError.
bool retryWhileLocked(const std::wstring& path, const std::function<bool()>& attempt, const LockWait& wait);
// Waits, within the bound, until no other process holds the file (isFileInUse); true once it is free.
bool waitWhileInUse(const std::wstring& path, const LockWait& wait);
