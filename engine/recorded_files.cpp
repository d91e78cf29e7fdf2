#include "engine/recorded_files.h"

#include "platform/file_system.h"
#include "platform/text.h"

bool isSafeRecordKey(const std::string& key) {
    if (key.empty()) return false;
    if (key.front() == '/' || key.front() == '\\') return false;
    return key.find("..") == std::string::npos && key.find(':') == std::string::npos;
}

std::wstring recordedFilePath(const std::wstring& installDir, const std::string& key) {
    if (installDir.empty() || !isSafeRecordKey(key)) return {};
    const std::wstring path = pathJoin(installDir, toUtf16(key));
    // Names such as "." or a key that the platform's rules would still lead elsewhere end here.
    if (!isStrictlyInside(path, installDir)) return {};
    return path;
}

bool deleteRecordedFile(const std::wstring& installDir, const std::string& key, const LockWait& wait) {
    std::wstring path = recordedFilePath(installDir, key);
    if (path.empty()) return false;
    retryWhileLocked(path, [&] { return deleteFileOrEmptyFolder(path); }, wait);
    for (;;) {
        path = parentFolder(path);
        if (path.empty() || path == installDir) break;
        if (path.size() <= installDir.size() || !isEmptyEntry(path)) break;
        deleteFileOrEmptyFolder(path);
    }
    return true;
}
