#include "engine/transfer_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <system_error>
#include <thread>

#include "engine/blob_transfer.h"
#include "engine/pack_plan.h"
#include "engine/pack_transfer.h"
#include "engine/staged_file.h"
#include "engine/transfers_in_flight.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

// Blobs that packs have delivered may wait this long for a transfer to unpack them; beyond it the transfer
// receiving them unpacks too, and the server waits meanwhile.
constexpr uint64_t kDeliveredBudget = uint64_t{8} << 20;

// What a transfer takes on: a blob group (its blob fetched on its own or taken from the cache), a piece of a
// pack, or a blob a pack delivered.
struct Work {
    enum Kind { Group, PackPiece, DeliveredBlob } kind = Group;
    size_t index = 0;  // into blobGroups or packFetches
    std::string blob;  // a delivered blob
};

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
    std::vector<PackFetch> packFetches;
    std::vector<std::vector<size_t>> groupsOfFetch;  // for each piece of a pack, the group of each of its blobs
    TransferContext transfer;
    TransferContext transferFromCache;  // for the files after the first of a group: their blob is held or cached
    std::atomic<bool> failed{false};
    // Each file's entry is set by the one transfer that staged it whole, and read once every transfer is over.
    std::vector<char> stagedWhole;

    std::mutex lock;  // guards what follows
    std::condition_variable changed;
    std::deque<Work> work;           // groups and pieces of packs not yet taken on, in order
    std::deque<Work> delivered;      // blobs of packs waiting to be unpacked
    uint64_t deliveredBytes = 0;
    size_t piecesArriving = 0;       // pieces of packs being received
    bool packsUnavailable = false;   // the server answered none: the rest come as blobs
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
    {
        std::lock_guard<std::mutex> hold(staging.lock);
        if (!staging.failed.exchange(true)) staging.failure = text;
    }
    staging.changed.notify_all();
}

// Stages the files of a group; delivered: its blob, when a pack brought it.
bool stageGroup(Staging& staging, size_t group, std::string* delivered) {
    for (const size_t index : staging.blobGroups[group]) {
        if (staging.failed.load()) return false;
        setInFlight(staging, index, true);
        std::wstring failure;
        const bool first = index == staging.blobGroups[group].front();
        const FilePatch* patch = index < staging.patches.size() ? staging.patches[index] : nullptr;
        const bool staged = first && delivered
                                ? stageReceivedBlob(staging.transfer, *staging.files[index], *delivered, failure)
                                : transferFile(first ? staging.transfer : staging.transferFromCache,
                                               *staging.files[index], failure, patch);
        setInFlight(staging, index, false);
        staging.stagedWhole[index] = staged;
        if (!staged) {
            recordFailure(staging, failure);
            return false;
        }
    }
    return true;
}

// Takes the next work: a delivered blob first (it holds memory), then a group or a piece of a pack in order;
// waits while pieces arrive and nothing else is left. False when the staging is over or has failed.
bool takeWork(Staging& staging, Work& work) {
    std::unique_lock<std::mutex> hold(staging.lock);
    for (;;) {
        if (staging.failed.load()) return false;
        if (!staging.delivered.empty()) {
            work = std::move(staging.delivered.front());
            staging.delivered.pop_front();
            staging.deliveredBytes -= work.blob.size();
            return true;
        }
        if (!staging.work.empty()) {
            work = std::move(staging.work.front());
            staging.work.pop_front();
            if (work.kind == Work::PackPiece) staging.piecesArriving += 1;
            return true;
        }
        if (staging.piecesArriving == 0) return false;
        staging.changed.wait(hold);
    }
}

// A verified blob out of a pack, queued for whichever transfer is free; while too much waits, the receiving
// transfer unpacks as well. False when the run has failed meanwhile.
bool deliver(Staging& staging, size_t group, std::string& blob) {
    {
        std::lock_guard<std::mutex> hold(staging.lock);
        if (staging.failed.load()) return false;
        staging.deliveredBytes += blob.size();
        staging.delivered.push_back(Work{Work::DeliveredBlob, group, std::move(blob)});
    }
    staging.changed.notify_one();
    for (;;) {
        Work waiting;
        {
            std::lock_guard<std::mutex> hold(staging.lock);
            if (staging.deliveredBytes <= kDeliveredBudget || staging.delivered.empty()) break;
            waiting = std::move(staging.delivered.front());
            staging.delivered.pop_front();
            staging.deliveredBytes -= waiting.blob.size();
        }
        if (!stageGroup(staging, waiting.index, &waiting.blob)) return false;
    }
    return !staging.failed.load();
}

// The groups of a piece's blobs from the first not delivered on, to be fetched on their own; the bytes in vain
// it would have fetched are no longer to come.
void fetchRestAsBlobs(Staging& staging, size_t piece, size_t firstBlob) {
    const std::vector<size_t>& groups = staging.groupsOfFetch[piece];
    if (firstBlob == 0 && staging.run.bytesTotal)
        staging.run.bytesTotal->fetch_sub(staging.packFetches[piece].bytesInVain);
    for (size_t blob = firstBlob; blob < groups.size(); ++blob)
        staging.work.push_back(Work{Work::Group, groups[blob], {}});
}

void receivePiece(Staging& staging, size_t piece) {
    const std::vector<size_t>& groups = staging.groupsOfFetch[piece];
    const auto fileOf = [&](size_t blob) { return staging.blobGroups[groups[blob]].front(); };
    bool unavailable = false;
    {
        std::lock_guard<std::mutex> hold(staging.lock);
        unavailable = staging.packsUnavailable;
    }
    PackPieceResult result;
    result.outcome = PackPieceOutcome::Unavailable;
    if (!unavailable) {
        // The file whose blob is arriving is in flight.
        setInFlight(staging, fileOf(0), true);
        result = fetchPackPiece(staging.transfer, staging.packFetches[piece], [&](size_t blob, std::string& bytes) {
            setInFlight(staging, fileOf(blob), false);
            if (blob + 1 < groups.size()) setInFlight(staging, fileOf(blob + 1), true);
            return deliver(staging, groups[blob], bytes);
        });
        if (result.blob < groups.size()) setInFlight(staging, fileOf(result.blob), false);
    }
    switch (result.outcome) {
        case PackPieceOutcome::Done:
            break;
        case PackPieceOutcome::Unavailable: {
            // A server without packs: their blobs come on their own, unannounced.
            std::lock_guard<std::mutex> hold(staging.lock);
            staging.packsUnavailable = true;
            fetchRestAsBlobs(staging, piece, result.blob);
            break;
        }
        case PackPieceOutcome::Cancelled:
            recordFailure(staging, transferFailureText(CacheFetch::Cancelled, staging.run.installDir,
                                                       *staging.files[fileOf(result.blob)]));
            break;
        case PackPieceOutcome::NotDownloaded:
        case PackPieceOutcome::Damaged:
            recordFailure(staging, transferFailureText(result.outcome == PackPieceOutcome::Damaged
                                                           ? CacheFetch::Damaged
                                                           : CacheFetch::NotDownloaded,
                                                       staging.run.installDir, *staging.files[fileOf(result.blob)]));
            break;
    }
    {
        std::lock_guard<std::mutex> hold(staging.lock);
        staging.piecesArriving -= 1;
    }
    staging.changed.notify_all();
}

void transferUntilDone(Staging& staging) {
    Work work;
    while (takeWork(staging, work)) {
        switch (work.kind) {
            case Work::Group:
                stageGroup(staging, work.index, nullptr);
                break;
            case Work::DeliveredBlob:
                stageGroup(staging, work.index, &work.blob);
                break;
            case Work::PackPiece:
                receivePiece(staging, work.index);
                break;
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

// Whether a group's blob may come out of a pack: none of its files is planned with a patch, and the cache
// holds neither the blob nor a part of it (a part is continued on its own).
bool mayComeFromPack(const Staging& staging, const std::vector<size_t>& group,
                     const std::unordered_set<std::wstring>& cacheNames) {
    for (const size_t index : group)
        if (index < staging.patches.size() && staging.patches[index]) return false;
    const std::wstring name = toUtf16(staging.files[group.front()]->sha256) + L".lzms";
    return cacheNames.count(name) == 0 && cacheNames.count(name + L".part") == 0;
}

// The pieces of packs to fetch, and the work in order: those pieces first (their blobs keep the transfers
// busy unpacking), then the groups whose blobs come on their own. Returns the work's measure for the number of
// transfers.
TransferWork planWork(Staging& staging, const std::vector<ReleasePack>& packs,
                      const std::unordered_set<std::wstring>& cacheNames) {
    std::unordered_map<std::string, size_t> groupOfBlob;
    for (size_t group = 0; group < staging.blobGroups.size(); ++group) {
        if (mayComeFromPack(staging, staging.blobGroups[group], cacheNames))
            groupOfBlob.emplace(staging.files[staging.blobGroups[group].front()]->sha256, group);
    }
    std::unordered_set<std::string> needed;
    for (const auto& entry : groupOfBlob) needed.insert(entry.first);
    staging.packFetches = planPackFetches(packs, needed);

    TransferWork measure;
    measure.cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<bool> packed(staging.blobGroups.size(), false);
    for (size_t piece = 0; piece < staging.packFetches.size(); ++piece) {
        std::vector<size_t> groups;
        for (const PackedBlob* blob : staging.packFetches[piece].blobs) {
            groups.push_back(groupOfBlob.at(blob->sha256));
            packed[groups.back()] = true;
        }
        staging.groupsOfFetch.push_back(std::move(groups));
        staging.work.push_back(Work{Work::PackPiece, piece, {}});
        if (staging.run.bytesTotal) staging.run.bytesTotal->fetch_add(staging.packFetches[piece].bytesInVain);
    }
    measure.packFetches = staging.packFetches.size();
    measure.units = measure.packFetches;
    for (size_t group = 0; group < staging.blobGroups.size(); ++group) {
        if (packed[group]) continue;
        staging.work.push_back(Work{Work::Group, group, {}});
        const size_t first = staging.blobGroups[group].front();
        const FilePatch* patch = first < staging.patches.size() ? staging.patches[first] : nullptr;
        measure.units += 1;
        if ((patch ? patch->size : staging.files[first]->csize) <= kLargestPackedBlob) measure.smallUnits += 1;
    }
    return measure;
}

}  // namespace

bool stageFiles(const RunContext& run, const std::vector<const ManifestFile*>& files, HeldBlobs& heldBlobs,
                std::wstring& failure, const std::vector<const FilePatch*>& patches,
                const std::vector<ReleasePack>& packs) {
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

    const unsigned transfers = transfersInFlight(planWork(staging, packs, cacheNames));
    std::vector<std::thread> threads;
    try {
        for (unsigned i = 1; i < transfers; ++i) threads.emplace_back(transferUntilDone, std::ref(staging));
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started, and this one, do the work.
    }
    transferUntilDone(staging);
    for (std::thread& thread : threads) thread.join();

    if (!staging.failed.load()) return true;
    // Blobs that packs delivered and no transfer unpacked wait for the retry like any received blob.
    for (Work& waiting : staging.delivered) {
        std::lock_guard<std::mutex> hold(heldBlobs.lock);
        heldBlobs.blobOfDigest[files[staging.blobGroups[waiting.index].front()]->sha256] = std::move(waiting.blob);
    }
    failure = staging.failure;
    // The files this run staged whole go too, so that a full disk is freed; any other ".new" is not its own.
    for (size_t index = 0; index < files.size(); ++index) {
        if (!staging.stagedWhole[index]) continue;
        const std::wstring staged = stagedPathOf(run.installDir, files[index]->path);
        if (!staged.empty()) DeleteFileW(staged.c_str());
    }
    return false;
}
