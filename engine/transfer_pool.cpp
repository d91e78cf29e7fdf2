#include "engine/transfer_pool.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <system_error>
#include <thread>

#include "engine/blob_transfer.h"
#include "engine/staged_file.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

struct Staging {
    Staging(const RunContext& run, const std::vector<const ManifestFile*>& files,
            const std::vector<const FilePatch*>& patches)
        : run(run), files(files), patches(patches) {}

    const RunContext& run;
    const std::vector<const ManifestFile*>& files;
    const std::vector<const FilePatch*>& patches;
    // Indices into files, grouped by blob: files of the same content share one blob, which one transfer
    // fetches while the others of its group wait for it.
    std::vector<std::vector<size_t>> blobGroups;
    TransferContext transfer;
    TransferContext transferFromCache;  // for the files after the first of a group: their blob is held or cached
    std::atomic<size_t> nextGroup{0};
    std::atomic<bool> failed{false};
    // Each file's entry is set by the one transfer that staged it whole, and read once every transfer is over.
    std::vector<char> stagedWhole;

    std::mutex lock;  // guards the three below
    std::wstring failure;
    std::set<size_t> inFlight;  // indices into files
    size_t shownIndex = SIZE_MAX;
};

// The status line names the earliest file still in flight, so that a large file keeps its line while the
// small ones after it come and go.
void showEarliestInFlight(Staging& staging) {
    std::lock_guard<std::mutex> hold(staging.lock);
    if (staging.inFlight.empty()) return;
    const size_t index = *staging.inFlight.begin();
    if (index == staging.shownIndex) return;
    staging.shownIndex = index;
    if (!staging.run.showStatus) return;
    staging.run.showStatus(L"Скачивание " + std::to_wstring(index + 1) + L" из " +
                           std::to_wstring(staging.files.size()) + L": " +
                           withBackslashes(toUtf16(staging.files[index]->path)));
}

void setInFlight(Staging& staging, size_t index, bool inFlight) {
    {
        std::lock_guard<std::mutex> hold(staging.lock);
        if (inFlight)
            staging.inFlight.insert(index);
        else
            staging.inFlight.erase(index);
    }
    showEarliestInFlight(staging);
}

// The first failure is the one the user is told; those it caused by stopping the others are not news.
void recordFailure(Staging& staging, const std::wstring& text) {
    std::lock_guard<std::mutex> hold(staging.lock);
    if (!staging.failed.exchange(true)) staging.failure = text;
}

void transferUntilDone(Staging& staging) {
    for (;;) {
        const size_t group = staging.nextGroup.fetch_add(1);
        if (group >= staging.blobGroups.size()) return;
        for (const size_t index : staging.blobGroups[group]) {
            if (staging.failed.load()) return;
            setInFlight(staging, index, true);
            std::wstring failure;
            const bool first = index == staging.blobGroups[group].front();
            const FilePatch* patch = index < staging.patches.size() ? staging.patches[index] : nullptr;
            const bool staged = transferFile(first ? staging.transfer : staging.transferFromCache,
                                             *staging.files[index], failure, patch);
            setInFlight(staging, index, false);
            staging.stagedWhole[index] = staged;
            if (!staged) {
                recordFailure(staging, failure);
                return;
            }
        }
    }
}

std::vector<std::vector<size_t>> blobGroupsOf(const std::vector<const ManifestFile*>& files) {
    std::vector<std::vector<size_t>> groups;
    std::unordered_map<std::string, size_t> groupOfDigest;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto [found, added] = groupOfDigest.emplace(files[i]->sha256, groups.size());
        if (added) groups.emplace_back();
        groups[found->second].push_back(i);
    }
    return groups;
}

}  // namespace

bool stageFiles(const RunContext& run, const std::vector<const ManifestFile*>& files, HeldBlobs& heldBlobs,
                std::wstring& failure, const std::vector<const FilePatch*>& patches) {
    MemoryGate unpackGate;
    unpackGate.budgetBytes = kUnpackMemoryBudget;
    unpackGate.slots = std::max(1u, std::thread::hardware_concurrency());

    const std::vector<std::wstring> listed = entryNamesIn(pathJoin(run.installDir, downloadCacheName));
    const std::unordered_set<std::wstring> cacheNames(listed.begin(), listed.end());

    Staging staging(run, files, patches);
    staging.blobGroups = blobGroupsOf(files);
    staging.stagedWhole.assign(files.size(), false);
    staging.transfer.installDir = run.installDir;
    staging.transfer.cacheNames = &cacheNames;
    staging.transfer.heldBlobs = &heldBlobs;
    staging.transfer.fetch = run.fetch;
    staging.transfer.lockWait = run.lockWait;
    staging.transfer.unpackGate = &unpackGate;
    staging.transfer.bytesDone = run.bytesDone;
    staging.transfer.bytesTotal = run.bytesTotal;
    staging.transfer.cancelled = [&run] { return isCancelRequested(run); };
    staging.transfer.abandoned = [&staging] { return staging.failed.load(); };
    staging.transferFromCache = staging.transfer;
    staging.transferFromCache.cacheNames = nullptr;

    const size_t helpers = std::min<size_t>(kTransfersInFlight, staging.blobGroups.size());
    std::vector<std::thread> threads;
    try {
        for (size_t i = 1; i < helpers; ++i) threads.emplace_back(transferUntilDone, std::ref(staging));
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started, and this one, do the work.
    }
    transferUntilDone(staging);
    for (std::thread& thread : threads) thread.join();

    if (!staging.failed.load()) return true;
    failure = staging.failure;
    // The files this run staged whole go too, so that a full disk is freed; any other ".new" is not its own.
    for (size_t index = 0; index < files.size(); ++index) {
        if (!staging.stagedWhole[index]) continue;
        const std::wstring staged = stagedPathOf(run.installDir, files[index]->path);
        if (!staged.empty()) DeleteFileW(staged.c_str());
    }
    return false;
}
