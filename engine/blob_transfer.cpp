#include "engine/blob_transfer.h"

#include <windows.h>

#include <vector>

#include "app/app_state.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/lock_retry.h"
#include "platform/http.h"
#include "platform/lzms.h"
#include "platform/setup_log.h"
#include "platform/text.h"

const wchar_t* const downloadCacheName = L"update-cache";

namespace {

const wchar_t kBlobPathPrefix[] = L"/maketor/app/blobs/";

std::string sha256Of(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A cached blob counts only when its digest matches; anything else reads as no blob.
bool readValidCachedBlob(const ManifestFile& file, std::string& blob) {
    const std::wstring cached =
        pathJoin(pathJoin(appState.installDir, downloadCacheName), toUtf16(file.sha256) + L".lzms");
    if (!entryExists(cached) || !readWholeFile(cached, blob) || sha256Of(blob) != file.csha256) {
        blob.clear();
        return false;
    }
    appState.bytesDone.fetch_add(blob.size());
    return true;
}

bool unpacksToTheListedFile(const std::string& blob, const ManifestFile& file, std::vector<uint8_t>& unpacked) {
    if (!unpackLzms(blob, file.size, unpacked) || unpacked.size() != file.size) return false;
    return sha256Hex(unpacked.data(), unpacked.size()) == file.sha256;
}

}  // namespace

bool transferFile(size_t position, size_t count, const ManifestFile& file) {
    if (appState.cancelRequested.load()) {
        reportFailure(L"Установка отменена.");
        return false;
    }
    const std::wstring path = toUtf16(file.path);
    setStatus(L"Скачивание " + std::to_wstring(position) + L" из " + std::to_wstring(count) + L": " + path);

    std::string blob;
    const bool fromCache = readValidCachedBlob(file, blob);
    if (!fromCache && !httpGet(kBlobPathPrefix + toUtf16(file.sha256) + L".lzms", blob, true)) {
        if (appState.cancelRequested.load())
            reportFailure(L"Установка отменена.");
        else
            reportFailure(L"Не скачан " + path + L" — проверьте интернет и повторите.");
        return false;
    }

    std::vector<uint8_t> unpacked;
    const bool blobIntact = fromCache || sha256Of(blob) == file.csha256;
    if (!blobIntact || !unpacksToTheListedFile(blob, file, unpacked)) {
        reportFailure(L"Файл " + path + L" повреждён при загрузке — повторите.");
        return false;
    }
    blob = std::string();  // release the blob before the file is written

    const std::wstring target = pathJoin(appState.installDir, path);
    const std::wstring temporary = target + L".new";
    createFolderTree(parentFolder(target));
    if (!writeWholeFile(temporary, unpacked.data(), unpacked.size(), false)) {
        reportFailure(L"Не записать " + target);
        return false;
    }
    const bool replaced = retryWhileLocked(target, [&] {
        return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }, runLockWait());
    if (!replaced) {
        DeleteFileW(temporary.c_str());
        reportFailure(L"Файл занят: " + target + L" — закройте макетор.");
        return false;
    }
    return true;
}
