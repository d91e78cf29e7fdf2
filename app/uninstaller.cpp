#include "app/uninstaller.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "app/app_state.h"
#include "engine/application.h"
#include "engine/blob_transfer.h"
#include "engine/folder_lock.h"
#include "engine/install_record.h"
#include "engine/recorded_files.h"
#include "engine/staged_commit.h"
#include "engine/uninstall_entry.h"
#include "platform/file_system.h"
#include "platform/lock_retry.h"
#include "platform/setup_log.h"
#include "platform/text.h"

namespace {

const wchar_t* const kFixedSubfolders[] = {L"fonts", L"images", L"bench", L"handmodels", L"basalt"};

// Folders of the user and the system that an uninstall must never take as a whole.
const KNOWNFOLDERID* const kShellFolders[] = {
    &FOLDERID_Profile,         &FOLDERID_UserProfiles,     &FOLDERID_Desktop,          &FOLDERID_Documents,
    &FOLDERID_Downloads,       &FOLDERID_Pictures,         &FOLDERID_Music,            &FOLDERID_Videos,
    &FOLDERID_Favorites,       &FOLDERID_ProgramFiles,     &FOLDERID_ProgramFilesX86,  &FOLDERID_ProgramFilesX64,
    &FOLDERID_ProgramFilesCommon, &FOLDERID_UserProgramFiles, &FOLDERID_LocalAppData,  &FOLDERID_LocalAppDataLow,
    &FOLDERID_RoamingAppData,  &FOLDERID_ProgramData,      &FOLDERID_Windows,          &FOLDERID_System,
    &FOLDERID_Fonts,           &FOLDERID_StartMenu,        &FOLDERID_Programs,         &FOLDERID_Startup,
    &FOLDERID_Public,          &FOLDERID_PublicDesktop,    &FOLDERID_PublicDocuments,
};

bool isDriveRoot(const std::wstring& folder) {
    const std::wstring full = fullPathOf(folder);
    return full.empty() || PathIsRootW(full.c_str());  // what cannot be named cannot be judged safe
}

// Only shortcuts to a program in this folder go: those of another installation (also one in a folder below
// or above this one), or ones that cannot be read, stay.
void removeShortcutsOf(const std::wstring& installDir) {
    std::vector<const wchar_t*> names{shortcutName};
    for (const wchar_t* legacyName : legacyShortcutNames) names.push_back(legacyName);
    for (const wchar_t* name : names) {
        for (const KNOWNFOLDERID* folder : {&FOLDERID_Programs, &FOLDERID_Desktop}) {
            const std::wstring link = linkPathIn(*folder, name);
            if (link.empty()) continue;  // an unresolved folder is skipped
            if (samePathText(parentFolder(shortcutTarget(link)), installDir))
                retryWhileLocked(link, [&] { return DeleteFileW(link.c_str()) != FALSE; }, runLockWait());
        }
    }
}

void removeEmptyLeftovers(const std::wstring& installDir) {
    for (const wchar_t* name : kFixedSubfolders) {
        const std::wstring subfolder = pathJoin(installDir, name);
        if (isEmptyEntry(subfolder)) deleteFileOrEmptyFolder(subfolder);
    }
    if (isEmptyEntry(installDir)) deleteFileOrEmptyFolder(installDir);
}

void removeInstalledFiles(const std::wstring& installDir) {
    const std::wstring recordPath = pathJoin(installDir, installRecordName);
    const bool hadRecord = entryExists(recordPath);
    const nlohmann::json recordedFiles = recordedFilesOf(readInstallRecord(installDir));
    const LockWait wait = runLockWait();
    for (const auto& entry : recordedFiles.items()) {
        // Left by an update that stopped midway; only beside a file whose own key is sound.
        if (isSafeRecordKey(entry.key())) deleteRecordedFile(installDir, entry.key() + ".new", wait);
        deleteRecordedFile(installDir, entry.key(), wait);
    }
    discardCommit(installDir, wait);
    deleteRecordedFile(installDir, toUtf8(installRecordName), wait);
    // Blobs kept for a retry; a first install that failed has no record yet, so the folder's name decides.
    if (!isProtectedFolder(installDir)) deleteTree(pathJoin(installDir, downloadCacheName));
    deleteRecordedFile(installDir, "setup.exe", wait);

    // The whole folder goes only when it is an installation of ours, never a folder of the user's or the
    // system's that someone pointed the uninstaller at.
    if (appState.removeUserData && hadRecord && !isProtectedFolder(installDir))
        deleteTree(installDir);
    else
        removeEmptyLeftovers(installDir);
}

std::wstring userDataFolder() {
    const std::wstring localAppData = knownFolderPath(FOLDERID_LocalAppData);
    if (localAppData.empty()) return {};
    return pathJoin(pathJoin(localAppData, L"Torvel"), L"Maketor");
}

}  // namespace

bool isProtectedFolder(const std::wstring& folder) {
    if (isDriveRoot(folder)) return true;
    for (const KNOWNFOLDERID* id : kShellFolders) {
        const std::wstring shellFolder = knownFolderPath(*id);
        if (shellFolder.empty()) continue;
        if (samePathText(folder, shellFolder) || isStrictlyInside(shellFolder, folder)) return true;
    }
    // Where per-user programs go when the shell does not name that folder.
    const std::wstring localAppData = knownFolderPath(FOLDERID_LocalAppData);
    return !localAppData.empty() && samePathText(folder, pathJoin(localAppData, L"Programs"));
}

void uninstall() {
    setStatus(L"Удаление…");
    const std::wstring& installDir = appState.installDir;
    // An update of the folder that is still running finishes first: what it staged and committed goes with it.
    FolderLock folderLock;
    FolderWait wait;
    wait.boundMs = appState.folderWaitMs;
    wait.onWait = [] { setStatus(folderBusyStatus); };
    if (folderLock.take(installDir, wait) != FolderLock::Held) {
        reportFailure(folderBusyText(installDir));
        return;
    }
    setStatus(L"Удаление…");
    if (applicationInUse(installDir)) {
        reportFailure(applicationInUseText);
        return;
    }

    // An empty folder name would turn every name below into one relative to the current folder.
    if (!installDir.empty()) removeInstalledFiles(installDir);
    if (appState.removeUserData) {
        const std::wstring userData = userDataFolder();
        if (!userData.empty()) deleteTree(userData);
    }

    // An uninstall pointed at another folder leaves the real installation visible and removable.
    removeShortcutsOf(installDir);
    if (uninstallEntryBelongsTo(installDir)) RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKeyPath);
    logLine(L"удалено из " + installDir);
    appState.phase.exchange(Done);
}
