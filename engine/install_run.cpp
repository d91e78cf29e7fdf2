#include "engine/install_run.h"

#include <windows.h>
#include <shlobj.h>

#include <unordered_set>

#include "engine/application.h"
#include "engine/blob_transfer.h"
#include "engine/components.h"
#include "engine/file_name_case.h"
#include "engine/folder_lock.h"
#include "engine/install_record.h"
#include "engine/patch_transfer.h"
#include "engine/recorded_files.h"
#include "engine/release_fetch.h"
#include "engine/release_refusal.h"
#include "engine/staged_commit.h"
#include "engine/staged_file.h"
#include "engine/transfer_pool.h"
#include "engine/uninstall_entry.h"
#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/setup_log.h"
#include "platform/text.h"

namespace {

const DWORD kApplicationExitWaitMs = 60000;

// Spellings that Windows resolves to one file name that file: a recorded "Data/a.bin", "./data/a.bin" or
// "data//a.bin" that the release now calls "data/a.bin" must not take the file just placed with it. Letter
// case as the file system compares names, so that "ı" and "I" stay two files, as they are on disk.
std::string fileIdentityOf(const std::wstring& installDir, const std::string& path) {
    std::wstring wide = fullPathOf(pathJoin(installDir, toUtf16(path)));
    if (wide.empty()) wide = toUtf16(path);  // no full path: compared as written, with one separator kind
    return fileNameUppercase(toUtf8(withBackslashes(std::move(wide))));
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

// The staged file's place relative to the installation folder, as the journal keeps it.
std::wstring relativeToFolder(const std::wstring& installDir, const std::wstring& path) {
    size_t start = installDir.size();
    while (start < path.size() && (path[start] == L'\\' || path[start] == L'/')) ++start;
    return path.substr(start);
}

// Waits while another run works on the folder, saying so. Returns the failure's sentence, empty once held.
std::wstring takeInstallFolder(const RunContext& run, FolderLock& lock, bool& statusReplaced) {
    FolderWait wait;
    wait.boundMs = run.folderWaitMs;
    wait.cancelled = [&run] { return isCancelRequested(run); };
    wait.onWait = [&run, &statusReplaced] {
        showStatus(run, folderBusyStatus);
        statusReplaced = true;
    };
    switch (lock.take(run.installDir, wait)) {
        case FolderLock::Held:
            return {};
        case FolderLock::Cancelled:
            return runCancelledText;
        case FolderLock::Busy:
            break;
    }
    return folderBusyText(run.installDir);
}

// A run that fails before its commit leaves the installation as it was: its staged files go, so that a full
// disk is freed.
void removeStagedFiles(const std::wstring& installDir, const std::vector<const ManifestFile*>& staged) {
    for (const ManifestFile* file : staged) {
        const std::wstring path = stagedPathOf(installDir, file->path);
        if (!path.empty()) DeleteFileW(path.c_str());
    }
}

std::wstring failureTextOf(const CommitOutcome& outcome) {
    return commitFailureText(outcome.failedPath, outcome.error, failedPathState(outcome.failedPath));
}

std::wstring vanishedStagedFileText(const std::wstring& staged) {
    return L"Подготовленный файл " + staged + L" пропал до замены — повторите.";
}

// A journal left by a run killed while committing is carried out first, before any request: the installation is
// whole again even with no network, and whatever the release says now is planned against a true record.
// Returns the failure's sentence, empty on success.
std::wstring finishInterruptedCommit(const RunContext& run, bool& waitedForApplication) {
    if (!commitJournalPending(run.installDir)) return {};
    waitForApplicationExit(run, run.waitPid);
    waitedForApplication = true;
    showStatus(run, L"Завершаем прерванное обновление…");
    const CommitOutcome outcome = completeCommit(run.installDir, run.lockWait, TargetCheck::HashEveryTarget);
    if (!outcome.completed) return failureTextOf(outcome);
    logLine(L"прерванное обновление завершено в " + run.installDir + L"; файлов скачать заново: " +
            std::to_wstring(outcome.notPlaced.size()));
    return {};
}

// Every file is staged: each is checked on disk, then the journal of the deletions, renames and record is
// written and carried out. A target that another process holds, or a staged file that is gone, stops the run
// before the journal, so the installation stays as it was. Returns the failure's sentence, empty on success;
// stagedFilesKept tells whether the staged files are still there for the caller to remove.
std::wstring commitStagedFiles(const RunContext& run, const RunPlan& plan, const nlohmann::json& recordedFiles,
                               std::vector<std::string> dropped, std::string recordText, bool& stagedFilesKept) {
    const std::wstring& installDir = run.installDir;
    stagedFilesKept = true;
    CommitJournal journal;
    for (const ManifestFile* file : plan.fetchList) {
        const std::wstring target = pathJoin(installDir, toUtf16(file->path));
        const std::wstring staged = stagedPathOf(installDir, file->path);
        uint64_t stagedSize = 0;
        if (!fileSizeOf(staged, stagedSize) || stagedSize != file->size) return vanishedStagedFileText(staged);
        if (!waitWhileInUse(target, run.lockWait)) return L"Файл занят: " + target + L" — закройте макетор.";
        journal.renames.push_back(file->path);
        const std::string previous = recordedDigest(recordedFiles, file->path);
        if (!previous.empty()) journal.previousDigests[file->path] = previous;
        if (staged != target + L".new") journal.stagedElsewhere[file->path] = relativeToFolder(installDir, staged);
    }
    journal.deletions = std::move(dropped);
    journal.recordText = std::move(recordText);
    if (!writeCommitJournal(installDir, journal))
        return commitFailureText(pathJoin(installDir, commitJournalName), GetLastError(), FailedPathState::File);
    // From here on the journal finishes what this run began, should it stop.
    stagedFilesKept = false;
    const CommitOutcome outcome = completeCommit(installDir, run.lockWait, TargetCheck::StagedByThisRun);
    if (!outcome.completed) return failureTextOf(outcome);
    if (!outcome.notPlaced.empty())
        return vanishedStagedFileText(stagedPathOf(installDir, outcome.notPlaced.front()));
    return {};
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
    std::unordered_set<std::string> kept;
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

    const std::wstring& installDir = run.installDir;
    FolderLock folderLock;
    bool statusReplaced = false;
    std::wstring failure = takeInstallFolder(run, folderLock, statusReplaced);
    bool waitedForApplication = false;
    if (failure.empty()) failure = finishInterruptedCommit(run, waitedForApplication);
    if (!failure.empty()) {
        run.reportFailure(failure);
        return false;
    }
    if (statusReplaced || waitedForApplication) showStatus(run, L"Получаем сведения о версии…");

    Manifest manifest;
    if (!fetchTrustedManifest(run, manifest)) return false;
    if (!acceptRelease(run, manifest)) return false;

    if (!waitedForApplication) waitForApplicationExit(run, run.waitPid);
    const std::wstring applicationPath = applicationPathIn(installDir);
    if (applicationStillInUse(run)) {
        run.reportFailure(applicationInUseText);
        return false;
    }
    if (!createFolderTree(installDir)) {
        run.reportFailure(L"Не создать папку " + installDir);
        return false;
    }

    const nlohmann::json recordedFiles = recordedFilesOf(readInstallRecord(installDir));
    const RunPlan plan = planRun(manifest, recordedFiles, run.selectedComponents, installDir);
    run.bytesTotal->store(plan.downloadTotal);

    // Whatever way the run fails, the small blobs it received reach the cache before the failure is told: a
    // retry may start as soon as it is.
    HeldBlobs heldBlobs;
    heldBlobs.budgetBytes = kHeldBlobBudget;
    if (!stageFiles(run, plan.fetchList, heldBlobs, failure, plan.patches, manifest.packs)) {
        writeHeldBlobs(heldBlobs, installDir);
        run.reportFailure(failure);
        return false;
    }
    bool stagedFilesKept = false;
    failure = commitStagedFiles(run, plan, recordedFiles,
                                droppedRecordKeys(manifest, recordedFiles, run.selectedComponents, installDir),
                                installRecordText(manifest, run.selectedComponents), stagedFilesKept);
    if (!failure.empty()) {
        if (stagedFilesKept) removeStagedFiles(installDir, plan.fetchList);
        writeHeldBlobs(heldBlobs, installDir);
        run.reportFailure(failure);
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
