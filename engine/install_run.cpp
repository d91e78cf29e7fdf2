#include "engine/install_run.h"

#include <windows.h>
#include <shlobj.h>

#include <unordered_set>

#include "engine/application.h"
#include "engine/blob_transfer.h"
#include "engine/components.h"
#include "engine/install_record.h"
#include "engine/patch_transfer.h"
#include "engine/recorded_files.h"
#include "engine/release_fetch.h"
#include "engine/staged_commit.h"
#include "engine/transfer_pool.h"
#include "engine/uninstall_entry.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/setup_log.h"
#include "platform/text.h"

namespace {

const DWORD kApplicationExitWaitMs = 60000;

// Spellings that Windows resolves to one file name that file: a recorded "Data/a.bin", "./data/a.bin" or
// "data//a.bin" that the release now calls "data/a.bin" must not take the file just placed with it.
std::wstring fileIdentityOf(const std::wstring& installDir, const std::string& path) {
    std::wstring wide = fullPathOf(pathJoin(installDir, toUtf16(path)));
    if (wide.empty()) wide = toUtf16(path);  // no full path: compared as written, with one separator kind
    wide = withBackslashes(std::move(wide));
    if (wide.empty()) return wide;
    std::wstring upper(wide.size(), L'\0');
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), static_cast<int>(wide.size()),
                                     upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    return length == static_cast<int>(upper.size()) ? upper : wide;
}

bool isSelected(const std::array<bool, 5>& selectedComponents, const std::string& path) {
    return selectedComponents[componentOfPath(path)];
}

std::string recordedDigest(const nlohmann::json& recordedFiles, const std::string& path) {
    const auto entry = recordedFiles.find(path);
    if (entry == recordedFiles.end() || !entry->is_string()) return {};
    return entry->get<std::string>();
}

bool isUpToDate(const ManifestFile& file, const nlohmann::json& recordedFiles, const std::wstring& installDir) {
    if (recordedDigest(recordedFiles, file.path) != file.sha256) return false;
    const std::wstring target = pathJoin(installDir, toUtf16(file.path));
    uint64_t sizeOnDisk = 0;
    return entryExists(target) && fileSizeOf(target, sizeOnDisk) && sizeOnDisk == file.size;
}

// Reports the failure itself.
bool fetchTrustedManifest(const RunContext& run, Manifest& manifest) {
    FetchControl control;
    control.stopped = [&run] { return isCancelRequested(run); };
    switch (fetchReleaseManifest(run.fetch, control, manifest)) {
        case ReleaseFetch::Trusted:
            return true;
        case ReleaseFetch::NoConnection:
            run.reportFailure(isCancelRequested(run) ? runCancelledText
                                                     : L"Нет связи с сайтом Торвел. Проверьте интернет и повторите.");
            return false;
        case ReleaseFetch::ProxySignIn:
            run.reportFailure(proxySignInText);
            return false;
        case ReleaseFetch::NotTrusted:
            break;
    }
    run.reportFailure(L"Файлы на сайте не прошли проверку подписи — установка остановлена.");
    return false;
}

void showStatus(const RunContext& run, const std::wstring& text) {
    if (run.showStatus) run.showStatus(text);
}

// The update is started by the application itself, which has to exit before its files can be replaced.
// After the timeout the run goes on; the in-use probe then decides.
void waitForApplicationExit(const RunContext& run, uint32_t processId) {
    if (processId == 0) return;
    showStatus(run, L"Ждём закрытия макетора…");
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (process) WaitForSingleObject(process.get(), kApplicationExitWaitMs);
}

// An executable often stays locked for a moment after its process has ended: after waiting for the
// application the probe is repeated within the lock bound. Without /pid a running application is final.
bool applicationStillInUse(const RunContext& run) {
    if (run.waitPid == 0) return applicationInUse(run.installDir);
    return !waitWhileInUse(applicationPathIn(run.installDir), run.lockWait);
}

void createShortcuts(const RunContext& run, const std::wstring& applicationPath) {
    showStatus(run, L"Ярлыки…");
    for (const wchar_t* legacyName : legacyShortcutNames) {
        DeleteFileW(linkPathIn(FOLDERID_Programs, legacyName).c_str());
        const std::wstring legacyDesktopLink = linkPathIn(FOLDERID_Desktop, legacyName);
        if (!legacyDesktopLink.empty() && entryExists(legacyDesktopLink)) {
            DeleteFileW(legacyDesktopLink.c_str());
            createShortcut(linkPathIn(FOLDERID_Desktop, shortcutName), applicationPath);
        }
    }
    createShortcut(linkPathIn(FOLDERID_Programs, shortcutName), applicationPath);
    if (run.desktopShortcut)
        createShortcut(linkPathIn(FOLDERID_Desktop, shortcutName), applicationPath);
}

// A failed run leaves the installation as it was: the staged files go, so that a full disk is freed.
void removeStagedFiles(const std::wstring& installDir, const std::vector<const ManifestFile*>& staged) {
    for (const ManifestFile* file : staged) {
        const std::wstring target = recordedFilePath(installDir, file->path);
        if (!target.empty()) DeleteFileW((target + L".new").c_str());
    }
}

// Reports the failure itself.
bool finishInterruptedCommit(const RunContext& run) {
    std::wstring blockedTarget;
    if (completeCommit(run.installDir, run.lockWait, blockedTarget)) return true;
    run.reportFailure(L"Файл занят: " + blockedTarget + L" — закройте макетор.");
    return false;
}

// Every file is staged: the renames, deletions and the record, through the journal. A target that another
// process holds stops the run before the first rename, so the installation stays as it was. Reports the
// failure itself.
bool commitStagedFiles(const RunContext& run, const RunPlan& plan, std::vector<std::string> dropped,
                       std::string recordText) {
    const std::wstring& installDir = run.installDir;
    CommitJournal journal;
    for (const ManifestFile* file : plan.fetchList) {
        const std::wstring target = pathJoin(installDir, toUtf16(file->path));
        if (!waitWhileInUse(target, run.lockWait)) {
            removeStagedFiles(installDir, plan.fetchList);
            run.reportFailure(L"Файл занят: " + target + L" — закройте макетор.");
            return false;
        }
        journal.renames.push_back(file->path);
    }
    journal.deletions = std::move(dropped);
    journal.recordText = std::move(recordText);
    if (!writeCommitJournal(installDir, journal)) {
        removeStagedFiles(installDir, plan.fetchList);
        run.reportFailure(L"Не записать " + pathJoin(installDir, commitJournalName));
        return false;
    }
    return finishInterruptedCommit(run);
}

}  // namespace

RunPlan planRun(const Manifest& manifest, const nlohmann::json& recordedFiles,
                const std::array<bool, 5>& selectedComponents, const std::wstring& installDir) {
    RunPlan plan;
    for (const ManifestFile& file : manifest.files) {
        if (!isSelected(selectedComponents, file.path)) continue;
        plan.installedSize += file.size;
        if (isUpToDate(file, recordedFiles, installDir)) continue;
        plan.fetchList.push_back(&file);
        const FilePatch* patch = plannedPatch(file, recordedDigest(recordedFiles, file.path), installDir);
        plan.patches.push_back(patch);
        plan.downloadTotal += patch ? patch->size : file.csize;
    }
    return plan;
}

std::vector<std::string> droppedRecordKeys(const Manifest& manifest, const nlohmann::json& recordedFiles,
                                           const std::array<bool, 5>& selectedComponents,
                                           const std::wstring& installDir) {
    std::unordered_set<std::wstring> kept;
    for (const ManifestFile& file : manifest.files)
        if (isSelected(selectedComponents, file.path)) kept.insert(fileIdentityOf(installDir, file.path));
    std::vector<std::string> dropped;
    for (const auto& entry : recordedFiles.items())
        if (kept.count(fileIdentityOf(installDir, entry.key())) == 0) dropped.push_back(entry.key());
    return dropped;
}

bool installRun(const RunContext& run, std::string& installedVersion) {
    run.bytesDone->store(0);
    run.bytesTotal->store(0);
    showStatus(run, L"Получаем сведения о версии…");

    Manifest manifest;
    if (!fetchTrustedManifest(run, manifest)) return false;

    waitForApplicationExit(run, run.waitPid);
    const std::wstring& installDir = run.installDir;
    const std::wstring applicationPath = applicationPathIn(installDir);
    if (applicationStillInUse(run)) {
        run.reportFailure(applicationInUseText);
        return false;
    }
    if (!createFolderTree(installDir)) {
        run.reportFailure(L"Не создать папку " + installDir);
        return false;
    }

    if (!finishInterruptedCommit(run)) return false;

    const nlohmann::json recordedFiles = recordedFilesOf(readInstallRecord(installDir));
    const RunPlan plan = planRun(manifest, recordedFiles, run.selectedComponents, installDir);
    run.bytesTotal->store(plan.downloadTotal);

    HeldBlobs heldBlobs;
    heldBlobs.budgetBytes = kHeldBlobBudget;
    std::wstring failure;
    if (!stageFiles(run, plan.fetchList, heldBlobs, failure, plan.patches)) {
        removeStagedFiles(installDir, plan.fetchList);
        writeHeldBlobs(heldBlobs, installDir);
        run.reportFailure(failure);
        return false;
    }
    // A commit stopped before its first rename (a file in use) leaves the run to be retried.
    if (!commitStagedFiles(run, plan, droppedRecordKeys(manifest, recordedFiles, run.selectedComponents, installDir),
                           installRecordText(manifest, run.selectedComponents))) {
        writeHeldBlobs(heldBlobs, installDir);
        return false;
    }
    deleteTree(pathJoin(installDir, downloadCacheName));
    createShortcuts(run, applicationPath);
    writeUninstallEntry(installDir, manifest, plan.installedSize);

    logLine(L"установлено " + toUtf16(manifest.version) + L" в " + installDir + L": скачано файлов " +
            std::to_wstring(plan.fetchList.size()) + L", " + std::to_wstring(run.bytesDone->load() >> 10) + L" КБ");
    installedVersion = manifest.version;
    return true;
}
