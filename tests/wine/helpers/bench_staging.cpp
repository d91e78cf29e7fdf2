// Staging benchmark (not a test): where the time of staging a release goes, in process under Wine.
//   fetch only         every blob requested from the download host, a few at a time, its bytes dropped
//   stage from memory  the run's staging with the blobs handed over from memory: cache, unpack, hash, write
//   stage over HTTPS   the run's staging as an install does it
// The release folder must be served at the build's download host while it runs.
//   wine bench_staging.exe RELEASE_FOLDER WORK_FOLDER
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/blob_transfer.h"
#include "engine/manifest.h"
#include "engine/transfer_pool.h"
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

double fetchOnly(const std::vector<const ManifestFile*>& files) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    const LARGE_INTEGER start = now();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < kTransfersInFlight; ++i)
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

double stage(const std::wstring& workFolder, const std::vector<const ManifestFile*>& files, const BodyFetch& fetch) {
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
    const bool staged = stageFiles(run, files, heldBlobs, failure);
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
    std::map<std::wstring, std::string> blobs;
    uint64_t blobBytes = 0;
    for (const ManifestFile& file : manifest.files) {
        files.push_back(&file);
        std::string& blob = blobs[blobRequestOf(file)];
        if (!readWholeFile(pathJoin(release, L"blobs\\" + toUtf16(file.sha256) + L".lzms"), blob)) {
            std::printf("missing blob of %s\n", file.path.c_str());
            return 1;
        }
        blobBytes += blob.size();
    }
    const BodyFetch fromMemory = [&blobs](const std::wstring& path, uint64_t offset, const BodySink& sink,
                                          const FetchControl&) {
        const auto blob = blobs.find(path);
        if (blob == blobs.end() || offset != 0 || !sink.start(0, blob->second.size())) return false;
        return sink.piece(reinterpret_cast<const uint8_t*>(blob->second.data()), blob->second.size());
    };

    std::printf("%zu files, %.1f MB of blobs, %u transfers in flight\n", files.size(), double(blobBytes) / 1e6,
                kTransfersInFlight);
    report("fetch only", fetchOnly(files), files.size(), blobBytes);
    report("stage from memory", stage(workFolder, files, fromMemory), files.size(), blobBytes);
    report("stage over HTTPS", stage(workFolder, files, httpFetch), files.size(), blobBytes);
    return 0;
}
