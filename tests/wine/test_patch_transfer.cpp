// Patches in the run, in process, with a download host in memory: which installed files a patch is planned
// for, a patch staged into the ".new" sibling, and each way a patch fails falling back to the blob with the
// progress counters kept sensible. The patches are zstd frames written here by hand (raw blocks): the
// product carries no compressor, and the real patches between real files are the end-to-end suite's.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/blob_transfer.h"
#include "engine/patch_transfer.h"
#include "engine/transfer_pool.h"
#include "platform/crypto.h"
#include "platform/lzms_container.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

std::string digestOf(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// One zstd frame of raw blocks that holds content (256 bytes or more), its size in the header.
std::string rawFrameOf(const std::string& content) {
    std::string frame("\x28\xb5\x2f\xfd", 4);
    // Single segment (the window is the content), its size in 2 bytes (less 256) or 4.
    const bool shortSize = content.size() < 65536 + 256;
    frame += char(shortSize ? 0x60 : 0xA0);
    const size_t sizeField = shortSize ? content.size() - 256 : content.size();
    for (size_t byte = 0; byte < (shortSize ? 2u : 4u); ++byte) frame += char((sizeField >> (8 * byte)) & 0xFF);
    constexpr size_t kBlock = 32 << 10;
    for (size_t at = 0; at < content.size(); at += kBlock) {
        const size_t length = std::min(kBlock, content.size() - at);
        const uint32_t header = uint32_t(length) << 3 | (at + length == content.size() ? 1 : 0);
        frame += char(header & 0xFF);
        frame += char((header >> 8) & 0xFF);
        frame += char(header >> 16);
        frame += content.substr(at, length);
    }
    return frame;
}

// The blob of content: an LZMS container of stored chunks of 8 KiB.
std::string containerOf(const std::string& content) {
    constexpr uint64_t kChunk = 8 << 10;
    uint8_t header[kLzmsHeaderSize];
    writeLzmsHeader(LzmsContainerHeader{content.size(), kChunk}, header);
    std::string blob(reinterpret_cast<const char*>(header), sizeof header);
    for (size_t at = 0; at < content.size(); at += kChunk) {
        const std::string chunk = content.substr(at, kChunk);
        const uint32_t length = uint32_t(chunk.size());
        blob.append(reinterpret_cast<const char*>(&length), sizeof length).append(chunk);
    }
    return blob;
}

std::string patterned(size_t size, char seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char(seed + i * 7 + i / 251);
    return bytes;
}

class PatchTransfer : public ::testing::Test, public ScratchInstallFolder {
protected:
    PatchTransfer() : ScratchInstallFolder(L"patches") {}

    void SetUp() override {
        file.path = "data/model.bin";
        releaseAs(fresh);
        ASSERT_TRUE(place(L"data\\model.bin", old));

        run.installDir = installDir;
        run.fetch = [this](const std::wstring& path, uint64_t offset, const BodySink& sink,
                           const FetchControl& control) {
            const std::string request = toUtf8(path);
            std::lock_guard<std::mutex> hold(lock);
            requested.push_back(request);
            if (onRequest && !onRequest(request, control)) return false;
            const auto body = bodies.find(request);
            if (body == bodies.end() || offset != 0 || !sink.start(0, body->second.size())) return false;
            return sink.piece(reinterpret_cast<const uint8_t*>(body->second.data()), body->second.size());
        };
        run.cancelRequested = &cancelRequested;
        run.bytesDone = &bytesDone;
        run.bytesTotal = &bytesTotal;
    }

    // The file of the release is content, its blob served.
    void releaseAs(const std::string& content) {
        file.size = content.size();
        file.sha256 = digestOf(content);
        const std::string blob = containerOf(content);
        file.csize = blob.size();
        file.csha256 = digestOf(blob);
        bodies["/maketor/app/blobs/" + file.sha256 + ".lzms"] = blob;
    }

    // Lists frame as the file's patch from the installed copy, with its own digest and size, and serves it
    // unless told otherwise.
    void offerPatch(const std::string& frame, bool served = true) {
        patch.from = digestOf(old);
        patch.sha256 = digestOf(frame);
        patch.size = frame.size();
        file.patches = {patch};
        if (served) bodies[patchRequest()] = frame;
    }

    // Stages the file as the run does: the patch planned, bytesTotal as the plan counts it.
    bool stage() {
        const FilePatch* planned = plannedPatch(file, digestOf(old), installDir);
        EXPECT_EQ(planned, file.patches.data());
        bytesTotal.store(planned ? planned->size : file.csize);
        failure.clear();
        HeldBlobs held;
        held.budgetBytes = 1 << 20;
        return stageFiles(run, {&file}, held, failure, {planned});
    }
    std::string patchRequest() const { return "/maketor/app/patches/" + patch.sha256 + ".zst"; }
    std::string blobRequest() const { return "/maketor/app/blobs/" + file.sha256 + ".lzms"; }
    std::wstring cached(const std::string& name) const {
        return at(std::wstring(downloadCacheName) + L"\\" + toUtf16(name));
    }

    const std::string old = patterned(30000, 'a');
    const std::string fresh = patterned(40000, 'b');
    ManifestFile file;
    FilePatch patch;
    std::map<std::string, std::string> bodies;
    std::function<bool(const std::string&, const FetchControl&)> onRequest;
    std::mutex lock;
    std::vector<std::string> requested;
    RunContext run;
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0}, bytesTotal{0};
    std::wstring failure;
};

TEST_F(PatchTransfer, APatchIsPlannedOnlyForTheRecordedFileStillOnDisk) {
    offerPatch(rawFrameOf(fresh));
    const std::string recorded = digestOf(old);
    struct Case {
        const char* name;
        std::function<void(ManifestFile&, std::string& recordedDigest)> change;
        bool planned;
    };
    const Case cases[] = {
        {"the recorded file on disk", [](ManifestFile&, std::string&) {}, true},
        {"another file recorded", [](ManifestFile&, std::string& digest) { digest = std::string(64, 'c'); }, false},
        {"nothing recorded", [](ManifestFile&, std::string& digest) { digest.clear(); }, false},
        {"the file changed on disk, same size",
         [this](ManifestFile&, std::string&) { place(L"data\\model.bin", patterned(30000, 'z')); }, false},
        {"the file gone from disk",
         [this](ManifestFile&, std::string&) { DeleteFileW(at(L"data\\model.bin").c_str()); }, false},
        {"an empty file on disk, recorded as such",
         [this](ManifestFile& f, std::string& digest) {
             place(L"data\\model.bin", "");
             digest = digestOf("");
             f.patches[0].from = digest;
         },
         false},
        {"a patch from the file's own content",
         [](ManifestFile& f, std::string& digest) { digest = f.patches[0].from = f.sha256; }, false},
        {"no patches listed", [](ManifestFile& f, std::string&) { f.patches.clear(); }, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(place(L"data\\model.bin", old));
        ManifestFile entry = file;
        std::string digest = recorded;
        c.change(entry, digest);
        const FilePatch* planned = plannedPatch(entry, digest, installDir);
        EXPECT_EQ(planned != nullptr, c.planned) << c.name;
        if (planned) {
            EXPECT_EQ(planned, &entry.patches[0]) << c.name;
        }
    }
}

TEST_F(PatchTransfer, AGoodPatchIsStagedAndOnlyItsBytesAreFetched) {
    offerPatch(rawFrameOf(fresh));
    ASSERT_TRUE(stage()) << toUtf8(failure);
    EXPECT_EQ(readFileBytes(at(L"data\\model.bin.new")), fresh);
    EXPECT_EQ(readFileBytes(at(L"data\\model.bin")), old) << "the installed file stays until the commit";
    EXPECT_EQ(requested, std::vector<std::string>{patchRequest()});
    EXPECT_EQ(bytesDone.load(), patch.size);
    EXPECT_EQ(bytesTotal.load(), patch.size);
}

// A patch too large to be received into memory goes through the download cache, as large blobs do.
TEST_F(PatchTransfer, ALargePatchIsStagedThroughTheCache) {
    const std::string large = patterned(3 << 19, 'L');
    releaseAs(large);
    offerPatch(rawFrameOf(large));
    ASSERT_GT(patch.size, uint64_t(1) << 20);
    ASSERT_TRUE(stage()) << toUtf8(failure);
    EXPECT_EQ(readFileBytes(at(L"data\\model.bin.new")), large);
    EXPECT_EQ(requested, std::vector<std::string>{patchRequest()});
    EXPECT_EQ(readFileBytes(cached(patch.sha256 + ".zst")), bodies[patchRequest()]);
    EXPECT_EQ(bytesDone.load(), patch.size);
}

struct FallbackCase {
    const char* name;
    std::function<std::string(const std::string& fresh)> frame;  // the patch served
    bool served;                                                  // false: the host has no such patch
    bool patchBytesArrive;
};

const FallbackCase kFallbackCases[] = {
    {"no patch on the host", [](const std::string& fresh) { return rawFrameOf(fresh); }, false, false},
    {"a patch of other content", [](const std::string& fresh) { return rawFrameOf(patterned(fresh.size(), 'q')); },
     true, true},
    {"a patch one byte short of the file",
     [](const std::string& fresh) { return rawFrameOf(fresh.substr(0, fresh.size() - 1)); }, true, true},
    {"a damaged block header",
     [](const std::string& fresh) {
         std::string frame = rawFrameOf(fresh);
         frame[7] = char(0x07);  // a reserved block type
         return frame;
     },
     true, true},
    {"bytes after the frame", [](const std::string& fresh) { return rawFrameOf(fresh) + "x"; }, true, true},
};

TEST_F(PatchTransfer, EachFailingPatchFallsBackToTheBlobWithProgressKeptSensible) {
    for (const FallbackCase& c : kFallbackCases) {
        if (!patch.sha256.empty()) bodies.erase(patchRequest());
        removeTree(at(downloadCacheName));
        requested.clear();
        bytesDone.store(0);
        offerPatch(c.frame(fresh), c.served);
        ASSERT_TRUE(stage()) << c.name << ": " << toUtf8(failure);
        EXPECT_EQ(readFileBytes(at(L"data\\model.bin.new")), fresh) << c.name;
        EXPECT_EQ(requested, (std::vector<std::string>{patchRequest(), blobRequest()})) << c.name;
        const uint64_t patchBytes = c.patchBytesArrive ? patch.size : 0;
        EXPECT_EQ(bytesDone.load(), patchBytes + file.csize) << c.name;
        EXPECT_EQ(bytesTotal.load(), patch.size + file.csize) << c.name;
        EXPECT_FALSE(pathExists(cached(patch.sha256 + ".zst"))) << c.name << ": a useless patch leaves the cache";
        DeleteFileW(at(L"data\\model.bin.new").c_str());
    }
}

TEST_F(PatchTransfer, ACancelWhileThePatchArrivesEndsTheRunWithoutTheBlob) {
    offerPatch(rawFrameOf(fresh));
    onRequest = [this](const std::string&, const FetchControl&) {
        cancelRequested.store(true);
        return false;
    };
    EXPECT_FALSE(stage());
    EXPECT_EQ(failure, L"Установка отменена.");
    EXPECT_EQ(requested, std::vector<std::string>{patchRequest()});
    EXPECT_FALSE(pathExists(at(L"data\\model.bin.new")));
}

}  // namespace
