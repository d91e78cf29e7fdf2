// Staging benchmark (not a test): where the time of staging a release goes, in process under Wine.
//   SHA-256            the blobs hashed in memory by the platform's SHA-256, one thread
//   fetch only         every blob requested from the download host, a few at a time, its bytes dropped
//   stage from memory  the run's staging with the blobs handed over from memory: cache, unpack, hash, write
//   stage over HTTPS   the run's staging as an install of a release without packs does it: a request a blob
//   ... through packs  the same with the release's packs, when it has some, as an install does it
// The release folder must be served at the build's download host while it runs.
//   wine bench_staging.exe RELEASE_FOLDER WORK_FOLDER
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/blob_transfer.h"
#include "engine/manifest.h"
#include "engine/pack_plan.h"
#include "engine/transfer_pool.h"
#include "engine/transfers_in_flight.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/http.h"
#include "platform/text.h"

namespace {

double secondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER now() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value;
}

std::wstring blobRequestOf(const ManifestFile& file) {
    return L"/maketor/app/blobs/" + toUtf16(file.sha256) + L".lzms";
}

void report(const char* what, double seconds, size_t files, uint64_t bytes) {
    std::printf("%-18s %7.2f s  %6.3f ms a file  %7.1f MB/s\n", what, seconds, 1000.0 * seconds / double(files),
                double(bytes) / 1e6 / seconds);
}

double fetchOnly(const std::vector<const ManifestFile*>& files, unsigned transfers) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    const LARGE_INTEGER start = now();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < transfers; ++i)
        threads.emplace_back([&] {
            BodySink sink;
            sink.start = [](uint64_t, uint64_t) { return true; };
            sink.piece = [](const uint8_t*, size_t) { return true; };
            for (size_t index = next++; index < files.size(); index = next++)
                if (!httpFetch(blobRequestOf(*files[index]), 0, sink, {})) failed = true;
        });
    for (std::thread& thread : threads) thread.join();
    return failed ? -1 : secondsSince(start);
}

double stage(const std::wstring& workFolder, const std::vector<const ManifestFile*>& files, const BodyFetch& fetch,
             const std::vector<ReleasePack>& packs) {
    deleteTree(workFolder);
    createFolderTree(workFolder);
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0}, bytesTotal{0};
    RunContext run;
    run.installDir = workFolder;
    run.fetch = fetch;
    run.cancelRequested = &cancelRequested;
    run.bytesDone = &bytesDone;
    run.bytesTotal = &bytesTotal;
    HeldBlobs heldBlobs;
    heldBlobs.budgetBytes = kHeldBlobBudget;
    std::wstring failure;
    const LARGE_INTEGER start = now();
    const bool staged = stageFiles(run, files, heldBlobs, failure, {}, packs);
    const double seconds = secondsSince(start);
    deleteTree(workFolder);
    if (!staged) std::printf("staging failed: %s\n", toUtf8(failure).c_str());
    return staged ? seconds : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: bench_staging.exe RELEASE_FOLDER WORK_FOLDER\n");
        return 2;
    }
    const std::wstring release = argv[1], workFolder = argv[2];
    std::string text;
    Manifest manifest;
    if (!readWholeFile(pathJoin(release, L"manifest.json"), text) || !parseManifest(text, manifest)) {
        std::printf("no manifest in the release folder\n");
        return 1;
    }
    std::vector<const ManifestFile*> files;
    std::map<std::wstring, std::string> bodies;  // request path -> body: every blob and pack
    uint64_t blobBytes = 0;
    size_t smallBlobs = 0;
    for (const ManifestFile& file : manifest.files) {
        files.push_back(&file);
        std::string& blob = bodies[blobRequestOf(file)];
        if (!readWholeFile(pathJoin(release, L"blobs\\" + toUtf16(file.sha256) + L".lzms"), blob)) {
            std::printf("missing blob of %s\n", file.path.c_str());
            return 1;
        }
        blobBytes += blob.size();
        smallBlobs += blob.size() <= kLargestPackedBlob ? 1 : 0;
    }
    for (const ReleasePack& pack : manifest.packs) {
        if (!readWholeFile(pathJoin(release, L"packs\\" + toUtf16(pack.sha256) + L".pack"), bodies[packRequestPath(pack)])) {
            std::printf("missing pack %s\n", pack.sha256.c_str());
            return 1;
        }
    }
    // The bytes [offset, rangeEnd) of a body, as the download host answers a request.
    const BodyFetch fromMemory = [&bodies](const std::wstring& path, uint64_t offset, const BodySink& sink,
                                           const FetchControl& control) {
        const auto body = bodies.find(path);
        if (body == bodies.end() || offset > body->second.size() || !sink.start(offset, body->second.size()))
            return false;
        const uint64_t end = control.rangeEnd ? std::min<uint64_t>(control.rangeEnd, body->second.size())
                                              : body->second.size();
        return sink.piece(reinterpret_cast<const uint8_t*>(body->second.data()) + offset, size_t(end - offset));
    };

    const unsigned transfers = transfersInFlight(TransferWork{files.size(), smallBlobs, 0, 1});
    std::printf("%zu files, %.1f MB of blobs, %zu packs; each blob on its own: %u transfers in flight\n",
                files.size(), double(blobBytes) / 1e6, manifest.packs.size(), transfers);
    const LARGE_INTEGER hashStart = now();
    for (const auto& [path, body] : bodies) sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    report("SHA-256 (CNG), 1 thread", secondsSince(hashStart), files.size(), blobBytes);
    report("fetch only", fetchOnly(files, transfers), files.size(), blobBytes);
    report("stage from memory", stage(workFolder, files, fromMemory, {}), files.size(), blobBytes);
    report("stage over HTTPS", stage(workFolder, files, httpFetch, {}), files.size(), blobBytes);
    if (!manifest.packs.empty()) {
        report("... through packs", stage(workFolder, files, httpFetch, manifest.packs), files.size(), blobBytes);
    }
    return 0;
}
