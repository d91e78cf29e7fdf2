#include "engine/staged_file.h"

#include <windows.h>

#include "engine/blob_transfer.h"
#include "engine/recorded_files.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

const wchar_t kStagedSuffix[] = L".new";
const wchar_t kStagedInCache[] = L"staged";

// Whether an existing file (not a folder) stands where the path needs one of its folders. Folders are looked at
// from the top: below one that does not exist, nothing does.
bool fileStandsInTheWay(const std::wstring& installDir, const std::wstring& relative) {
    for (size_t slash = relative.find(L'\\'); slash != std::wstring::npos; slash = relative.find(L'\\', slash + 1)) {
        const DWORD attributes = GetFileAttributesW(pathJoin(installDir, relative.substr(0, slash)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return false;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    }
    return false;
}

}  // namespace

std::wstring stagedPathOf(const std::wstring& installDir, const std::string& path) {
    const std::wstring target = recordedFilePath(installDir, path);
    if (target.empty()) return {};
    const std::wstring relative = withBackslashes(toUtf16(path));
    if (!fileStandsInTheWay(installDir, relative)) return target + kStagedSuffix;
    const std::wstring holding = pathJoin(pathJoin(installDir, downloadCacheName), kStagedInCache);
    return pathJoin(holding, relative) + kStagedSuffix;
}
