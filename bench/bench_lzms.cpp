// Decoding speed of our LZMS decoder against libwim's on the same blobs: real x86-64 code (the machine's
// shared libraries) and text (its C headers). Prints MB/s (10^6 bytes of output per second), best of
// several runs, one thread. Usage: bench_lzms [runs] [block size in MiB]
#include "platform/lzms_container.h"
#include "platform/lzms_decoder.h"
#include "tools/publisher/lzms_compress.h"

#include <wimlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Corpus {
    const char* name;
    const char* folder;
    bool (*wanted)(const fs::path&);
    size_t bytes;
};

bool isSharedLibrary(const fs::path& path) { return path.filename().string().find(".so") != std::string::npos; }
bool isHeader(const fs::path& path) { return path.extension() == ".h" || path.extension() == ".hpp"; }

const Corpus kCorpora[] = {
    {"x86-64 code", "/usr/lib/x86_64-linux-gnu", isSharedLibrary, size_t(32) << 20},
    {"text", "/usr/include", isHeader, size_t(16) << 20},
};

// Regular files in path order until the wanted size is reached; the same machine gives the same bytes.
std::vector<uint8_t> gatherCorpus(const Corpus& corpus) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(corpus.folder, fs::directory_options::skip_permission_denied, error), end;
         it != end; it.increment(error)) {
        if (error) break;
        if (it->is_regular_file(error) && !it->is_symlink(error) && corpus.wanted(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> data;
    for (const fs::path& file : files) {
        if (data.size() >= corpus.bytes) break;
        std::ifstream in(file, std::ios::binary);
        data.insert(data.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    data.resize(std::min(data.size(), corpus.bytes));
    return data;
}

struct DecompressorFreer {
    void operator()(wimlib_decompressor* decompressor) const { wimlib_free_decompressor(decompressor); }
};

// libwim decodes the chunks; the container is walked here, as our decoder walks it.
bool decodeWithLibwim(const std::vector<uint8_t>& blob, std::vector<uint8_t>& out) {
    LzmsContainerHeader header;
    if (!readLzmsHeader(blob.data(), blob.size(), header) || header.totalSize != out.size()) return false;
    wimlib_decompressor* created = nullptr;
    if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, header.chunkSize, &created) != 0) return false;
    std::unique_ptr<wimlib_decompressor, DecompressorFreer> decompressor(created);
    size_t position = kLzmsHeaderSize;
    for (uint64_t produced = 0; produced < header.totalSize;) {
        uint32_t packedSize;
        std::memcpy(&packedSize, blob.data() + position, 4);
        position += 4;
        const size_t chunkSize = size_t(std::min(header.chunkSize, header.totalSize - produced));
        if (packedSize == chunkSize)
            std::memcpy(out.data() + produced, blob.data() + position, chunkSize);
        else if (wimlib_decompress(blob.data() + position, packedSize, out.data() + produced, chunkSize,
                                   decompressor.get()) != 0)
            return false;
        position += packedSize;
        produced += chunkSize;
    }
    return true;
}

bool decodeWithOurs(const std::vector<uint8_t>& blob, std::vector<uint8_t>& out) {
    return decodeLzmsBlob(blob.data(), blob.size(), out.data(), out.size());
}

using Decoder = bool (*)(const std::vector<uint8_t>&, std::vector<uint8_t>&);

// Seconds for one decode; negative when it fails or gives other bytes than the corpus.
double timeOnce(Decoder decode, const std::vector<uint8_t>& blob, const std::vector<uint8_t>& expected,
                std::vector<uint8_t>& out) {
    std::fill(out.begin(), out.end(), 0);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = decode(blob, out);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ok && out == expected ? seconds : -1;
}

struct Speeds {
    double ours = 0;  // MB/s; both 0 when a run of either failed
    double libwim = 0;
};

// The two decoders take turns, so that a busy moment of the machine hits both alike; best run of each.
Speeds measure(const std::vector<uint8_t>& blob, const std::vector<uint8_t>& expected, int runs) {
    std::vector<uint8_t> out(expected.size());
    double bestOurs = 1e30, bestLibwim = 1e30;
    for (int run = 0; run < runs; ++run) {
        const double ours = timeOnce(decodeWithOurs, blob, expected, out);
        const double libwim = timeOnce(decodeWithLibwim, blob, expected, out);
        if (ours < 0 || libwim < 0) return {};
        bestOurs = std::min(bestOurs, ours);
        bestLibwim = std::min(bestLibwim, libwim);
    }
    return {double(expected.size()) / bestOurs / 1e6, double(expected.size()) / bestLibwim / 1e6};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const uint64_t blockSize = (argc > 2 ? std::max(1, std::atoi(argv[2])) : 64) * (uint64_t(1) << 20);
    std::printf("LZMS decoding, best of %d runs, block size %llu MiB, one thread\n", runs,
                (unsigned long long)(blockSize >> 20));
    std::printf("%-12s %10s %10s %12s %12s\n", "corpus", "MiB", "ratio", "ours MB/s", "libwim MB/s");
    bool failed = false;
    for (const Corpus& corpus : kCorpora) {
        const std::vector<uint8_t> data = gatherCorpus(corpus);
        std::vector<uint8_t> blob;
        if (data.empty() || !compressLzmsBlob(data.data(), data.size(), blockSize, blob)) {
            std::printf("%-12s could not be gathered or compressed\n", corpus.name);
            failed = true;
            continue;
        }
        const Speeds speeds = measure(blob, data, runs);
        std::printf("%-12s %10.1f %10.3f %12.1f %12.1f\n", corpus.name, data.size() / 1048576.0,
                    double(blob.size()) / data.size(), speeds.ours, speeds.libwim);
        failed = failed || speeds.ours == 0 || speeds.libwim == 0;
    }
    return failed ? 1 : 0;
}
