#include "engine/folder_lock.h"

#include <windows.h>

#include "engine/file_name_case.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/text.h"

const wchar_t* const folderBusyStatus = L"Ждём, пока другая копия установщика закончит работу с папкой…";

std::wstring folderBusyText(const std::wstring& installDir) {
    return L"Папкой " + installDir + L" занята другая копия установщика — дождитесь её окончания и повторите.";
}

namespace {

// Short enough that a cancel is seen at once.
constexpr DWORD kWaitSliceMs = 100;

}  // namespace

std::wstring folderLockName(const std::wstring& installDir) {
    std::wstring full = fullPathOf(installDir);
    if (full.empty()) full = installDir;
    const std::string identity = fileNameUppercase(toUtf8(withBackslashes(full)));
    // A mutex name may not hold a backslash and is at most MAX_PATH long: the folder goes in by its digest.
    return L"Local\\maketor-setup-folder-" +
           toUtf16(sha256Hex(reinterpret_cast<const uint8_t*>(identity.data()), identity.size()));
}

FolderLock::Outcome FolderLock::take(const std::wstring& installDir, const FolderWait& wait) {
    release();
    mutex_.reset(CreateMutexW(nullptr, FALSE, folderLockName(installDir).c_str()));
    // Without a mutex there is nothing to wait for; the run goes on as runs did before there was one.
    if (!mutex_) return Held;
    const ULONGLONG start = GetTickCount64();
    bool told = false;
    for (;;) {
        const DWORD result = WaitForSingleObject(mutex_.get(), kWaitSliceMs);
        // An abandoned mutex is owned all the same: its run died, and what it left is for this one to finish.
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            owned_ = true;
            return Held;
        }
        if (result != WAIT_TIMEOUT) return Held;
        if (wait.cancelled && wait.cancelled()) return Cancelled;
        if (GetTickCount64() - start >= wait.boundMs) return Busy;
        if (!told && wait.onWait) wait.onWait();
        told = true;
    }
}

void FolderLock::release() {
    if (owned_) ReleaseMutex(mutex_.get());
    owned_ = false;
    mutex_.reset();
}
