// Staging a run's files several at a time, in process, with a stand-in for the download host: every file
// staged whole, the status line, the first failure stopping the others, and a cancel stopping them all.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/blob_transfer.h"
#include "engine/pack_plan.h"
#include "engine/transfer_pool.h"
#include "engine/transfers_in_flight.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/lzms_container.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

constexpr DWORD kPatienceMs = 10000;

std::string sha256Of(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// An LZMS container whose one chunk is stored as it is, as Windows stores data that does not shrink.
std::string storedBlobOf(const std::string& content) {
    uint8_t header[kLzmsHeaderSize];
    writeLzmsHeader(LzmsContainerHeader{content.size(), content.size()}, header);
    std::string blob(reinterpret_cast<const char*>(header), sizeof header);
    const uint32_t length = uint32_t(content.size());
    blob.append(reinterpret_cast<const char*>(&length), sizeof length);
    return blob + content;
}

std::string blobRequestOf(const ManifestFile& file) { return "/maketor/app/blobs/" + file.sha256 + ".lzms"; }

// The download host in memory. Each request's blob is sent in pieces; a test decides per request, through
// its hook, whether to hold it, fail it or let it through.
struct FakeHost {
    std::map<std::string, std::string> bodies;  // request path -> body
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> requested;
    std::vector<std::string> completed;
    bool ignoresRanges = false;
    unsigned inFlight = 0;
    unsigned mostInFlight = 0;
    // Called after the first piece went out; false fails the request there.
    std::function<bool(const std::string& path, const FetchControl& control)> afterFirstPiece;

    bool fetch(const std::wstring& widePath, uint64_t offset, const BodySink& sink, const FetchControl& control) {
        const std::string path = toUtf8(widePath);
        {
            std::lock_guard<std::mutex> hold(lock);
            requested.push_back(path);
            mostInFlight = std::max(mostInFlight, ++inFlight);
        }
        changed.notify_all();
        const bool delivered = deliver(path, offset, sink, control);
        {
            std::lock_guard<std::mutex> hold(lock);
            --inFlight;
            if (delivered) completed.push_back(path);
        }
        changed.notify_all();
        return delivered;
    }

    // The bytes [offset, rangeEnd) of the body, or all of it from a server that ignores ranges.
    bool deliver(const std::string& path, uint64_t offset, const BodySink& sink, const FetchControl& control) {
        const auto body = bodies.find(path);
        if (body == bodies.end()) return false;
        if (ignoresRanges) offset = 0;
        const uint64_t end = control.rangeEnd && !ignoresRanges ? control.rangeEnd : body->second.size();
        if (offset > end || end > body->second.size() || !sink.start(offset, body->second.size())) return false;
        const auto* bytes = reinterpret_cast<const uint8_t*>(body->second.data()) + offset;
        const size_t length = size_t(end - offset);
        const size_t half = length / 2;
        if (!sink.piece(bytes, half)) return false;
        if (afterFirstPiece && !afterFirstPiece(path, control)) return false;
        Sleep(5);  // long enough for the transfers to overlap
        if (control.stopped && control.stopped()) return false;
        return sink.piece(bytes + half, length - half);
    }

    // Waits until condition holds (checked under the lock), at most kPatienceMs.
    template <typename Condition>
    bool waitFor(Condition condition) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::milliseconds(kPatienceMs), condition);
    }
};

// Holds a request until the run stops it, or the patience runs out; then fails it as a dropped connection.
bool holdUntilStopped(const FetchControl& control) {
    for (DWORD waited = 0; waited < kPatienceMs && !(control.stopped && control.stopped()); waited += 5) Sleep(5);
    return false;
}

class Staging : public ::testing::Test, public ScratchInstallFolder {
protected:
    Staging() : ScratchInstallFolder(L"staging") {}

    void SetUp() override {
        for (int i = 0; i < 24; ++i) {
            const std::string content = "file " + std::to_string(i) + std::string(3000 + 37 * i, char('a' + i % 26));
            ManifestFile file;
            file.path = "dir" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin";
            file.size = content.size();
            file.sha256 = sha256Of(content);
            const std::string blob = storedBlobOf(content);
            file.csize = blob.size();
            file.csha256 = sha256Of(blob);
            host.bodies[blobRequestOf(file)] = blob;
            contents.push_back(content);
            files.push_back(file);
        }
        for (const ManifestFile& file : files) fileList.push_back(&file);

        run.installDir = installDir;
        run.fetch = [this](const std::wstring& path, uint64_t offset, const BodySink& sink,
                           const FetchControl& control) { return host.fetch(path, offset, sink, control); };
        run.cancelRequested = &cancelRequested;
        run.bytesDone = &bytesDone;
        run.bytesTotal = &bytesTotal;
        run.showStatus = [this](const std::wstring& text) {
            std::lock_guard<std::mutex> hold(statusLock);
            statuses.push_back(text);
        };
    }

    std::wstring lastStatus() {
        std::lock_guard<std::mutex> hold(statusLock);
        return statuses.empty() ? std::wstring() : statuses.back();
    }
    std::wstring stagedPath(size_t index) const {
        return at(withBackslashes(toUtf16(files[index].path)) + L".new");
    }
    size_t stagedCount() const {
        size_t count = 0;
        for (size_t i = 0; i < files.size(); ++i) count += pathExists(stagedPath(i)) ? 1 : 0;
        return count;
    }
    bool stage() {
        failure.clear();
        heldBlobs.budgetBytes = kHeldBlobBudget;
        return stageFiles(run, fileList, heldBlobs, failure);
    }

    FakeHost host;
    std::vector<ManifestFile> files;
    std::vector<const ManifestFile*> fileList;
    std::vector<std::string> contents;
    RunContext run;
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0}, bytesTotal{0};
    std::mutex statusLock;
    std::vector<std::wstring> statuses;
    HeldBlobs heldBlobs;
    std::wstring failure;
};

TEST_F(Staging, EveryFileIsStagedWholeWithAFewTransfersInFlight) {
    ASSERT_TRUE(stage()) << toUtf8(failure);
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(readFileBytes(stagedPath(i)), contents[i]) << files[i].path;
    uint64_t blobBytes = 0;
    for (const ManifestFile& file : files) blobBytes += file.csize;
    EXPECT_EQ(bytesDone.load(), blobBytes);
    EXPECT_EQ(host.requested.size(), files.size()) << "each blob fetched once";
    EXPECT_GT(host.mostInFlight, 1u);
    EXPECT_LE(host.mostInFlight, kTransfersForSmallBlobs);
}

TEST_F(Staging, FilesOfTheSameContentShareOneBlob) {
    // Empty files, licences in two places: one blob, fetched once, however the transfers interleave.
    for (const char* copy : {"copies/a.bin", "copies/b.bin", "copies/c/d.bin"}) {
        files.push_back(files[5]);
        files.back().path = copy;
    }
    fileList.clear();
    for (const ManifestFile& file : files) fileList.push_back(&file);
    ASSERT_TRUE(stage()) << toUtf8(failure);
    EXPECT_EQ(host.requested.size(), files.size() - 3);
    uint64_t blobBytes = 0;
    for (const ManifestFile& file : files) blobBytes += file.csize;
    EXPECT_EQ(bytesDone.load(), blobBytes) << "each copy counts its blob, as the plan's total does";
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(readFileBytes(stagedPath(i)), i < contents.size() ? contents[i] : contents[5]) << files[i].path;
}

TEST_F(Staging, TheStatusNamesTheEarliestFileStillInFlight) {
    const std::string first = blobRequestOf(files[0]);
    std::wstring statusWhileFirstWaited;
    host.afterFirstPiece = [&](const std::string& path, const FetchControl&) {
        if (path != first) return true;
        // The first file is still arriving while every other one is done.
        EXPECT_TRUE(host.waitFor([&] { return host.completed.size() == files.size() - 1; }));
        statusWhileFirstWaited = lastStatus();
        return true;
    };
    ASSERT_TRUE(stage()) << toUtf8(failure);
    EXPECT_EQ(statusWhileFirstWaited, L"Скачивание 1 из 24: dir0\\f0.bin");
    for (const std::wstring& status : statuses)
        EXPECT_EQ(status.rfind(L"Скачивание ", 0), 0u) << toUtf8(status);
}

TEST_F(Staging, TheFirstFailureIsReportedAndStopsTheOtherTransfers) {
    const std::string failing = blobRequestOf(files[2]);
    host.afterFirstPiece = [&](const std::string& path, const FetchControl& control) {
        if (path != failing) return holdUntilStopped(control);
        // Fails once the three others are in flight, so that they are the ones to stop.
        EXPECT_TRUE(host.waitFor([&] { return host.inFlight == kTransfersForSmallBlobs; }));
        return false;
    };
    EXPECT_FALSE(stage());
    EXPECT_EQ(failure, L"Не скачан dir2\\f2.bin — проверьте интернет и повторите.");
    EXPECT_EQ(host.requested.size(), kTransfersForSmallBlobs) << "no file is started after the failure";
    EXPECT_EQ(stagedCount(), 0u) << "no transfer in flight staged a file";
    for (size_t i = 0; i < kTransfersForSmallBlobs; ++i) {
        const std::wstring part =
            at(std::wstring(downloadCacheName) + L"\\" + toUtf16(files[i].sha256) + L".lzms.part");
        EXPECT_EQ(readFileBytes(part).size(), files[i].csize / 2) << "the half received is kept for the retry";
    }
}

TEST_F(Staging, ACancelStopsEveryTransferInFlight) {
    host.afterFirstPiece = [&](const std::string&, const FetchControl& control) {
        if (host.waitFor([&] { return host.inFlight == kTransfersForSmallBlobs || cancelRequested.load(); }))
            cancelRequested.store(true);
        return holdUntilStopped(control);
    };
    const DWORD started = GetTickCount();
    EXPECT_FALSE(stage());
    EXPECT_LT(GetTickCount() - started, kPatienceMs) << "the transfers ended at the cancel, not at their patience";
    EXPECT_EQ(failure, L"Установка отменена.");
    EXPECT_EQ(host.requested.size(), kTransfersForSmallBlobs);
    EXPECT_EQ(stagedCount(), 0u);
}

// The 24 blobs in one pack, as the publisher makes it.
ReleasePack packOf(const std::vector<ManifestFile>& files, FakeHost& host) {
    ReleasePack pack;
    std::string bytes;
    for (const ManifestFile& file : files) {
        pack.blobs.push_back(PackedBlob{file.sha256, bytes.size(), file.csize, file.csha256});
        bytes += host.bodies[blobRequestOf(file)];
    }
    pack.sha256 = sha256Of(bytes);
    pack.size = bytes.size();
    host.bodies[toUtf8(packRequestPath(pack))] = bytes;
    return pack;
}

TEST_F(Staging, BlobsComeOutOfAPackHoweverTheServerAnswers) {
    const std::vector<ReleasePack> packs{packOf(files, host)};
    const std::string packPath = toUtf8(packRequestPath(packs[0]));
    struct Case {
        const char* name;
        size_t first, count;  // the files to stage
        bool ignoresRanges;
        bool packServed;
        std::vector<std::string> requests;  // "pack" or "blobs"
    };
    const Case cases[] = {
        {"a first install: the whole pack", 0, 24, false, true, {"pack"}},
        {"a run of files: a piece of the pack", 5, 7, false, true, {"pack"}},
        {"a piece, from a server without ranges", 5, 7, true, true, {"pack"}},
        {"a server without the pack: each blob alone", 5, 7, false, false, {"pack", "blobs"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        deleteTree(installDir);
        createFolderTree(installDir);
        host.requested.clear();
        host.ignoresRanges = c.ignoresRanges;
        const std::string packBody = host.bodies[packPath];
        if (!c.packServed) host.bodies.erase(packPath);
        fileList.assign({});
        uint64_t blobBytes = 0;
        for (size_t i = c.first; i < c.first + c.count; ++i) {
            fileList.push_back(&files[i]);
            blobBytes += files[i].csize;
        }
        bytesDone = 0;
        bytesTotal = blobBytes;
        failure.clear();
        HeldBlobs held;
        held.budgetBytes = kHeldBlobBudget;
        ASSERT_TRUE(stageFiles(run, fileList, held, failure, {}, packs)) << toUtf8(failure);
        host.bodies[packPath] = packBody;
        for (size_t i = c.first; i < c.first + c.count; ++i)
            EXPECT_EQ(readFileBytes(stagedPath(i)), contents[i]) << files[i].path;
        std::vector<std::string> kinds;
        for (const std::string& path : host.requested) {
            const std::string kind = path == packPath ? "pack" : "blobs";
            if (kinds.empty() || kinds.back() != kind) kinds.push_back(kind);
        }
        EXPECT_EQ(kinds, c.requests);
        if (c.requests.back() == "blobs") {
            EXPECT_EQ(host.requested.size(), c.count + 1);
        }
        // The piece's bytes count, those a server without ranges sends around it do not.
        EXPECT_EQ(bytesDone.load(), blobBytes);
        EXPECT_EQ(bytesTotal.load(), blobBytes) << "the blobs lie back to back: nothing in vain";
    }
}

}  // namespace
