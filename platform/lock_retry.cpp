#include "platform/lock_retry.h"

#include <algorithm>

#include "platform/file_system.h"

namespace {

constexpr DWORD kFirstPauseMs = 50;
constexpr DWORD kLongestPauseMs = 1000;

}  // namespace

bool isTransientLockError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool retryWhileLocked(const std::wstring& path, const std::function<bool()>& attempt, const LockWait& wait) {
    const ULONGLONG start = GetTickCount64();
    DWORD pause = kFirstPauseMs;
    bool told = false;
    const auto waitIsOver = [&] {
        if (told && wait.onWaitOver) wait.onWaitOver();
    };
    for (;;) {
        if (attempt()) {
            waitIsOver();
            return true;
        }
        const DWORD error = GetLastError();
        const ULONGLONG waited = GetTickCount64() - start;
        if (!isTransientLockError(error) || waited >= wait.boundMs) {
            waitIsOver();
            SetLastError(error);
            return false;
        }
        if (!told && wait.onWait) wait.onWait(path);
        told = true;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, wait.boundMs - waited)));
        pause = std::min(pause * 2, kLongestPauseMs);
    }
}

bool waitWhileInUse(const std::wstring& path, const LockWait& wait) {
    return retryWhileLocked(path, [&] {
        if (!isFileInUse(path)) return true;
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }, wait);
}
