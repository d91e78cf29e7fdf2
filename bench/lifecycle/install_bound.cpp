// bench-install-bound RELEASE_DIR OUT_DIR — does natively, on one core, what an install does per file after
// the download: hash the blob, unpack it with our LZMS decoder, hash the result, write it under ".new" and
// rename it into place. Prints the installed bytes per second: the bound the install under Wine is held to.
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/lzms_decoder.h"

namespace fs = std::filesystem;

namespace {

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string sha256Hex(const void* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench-install-bound RELEASE_DIR OUT_DIR\n");
        return 2;
    }
    const fs::path release = argv[1];
    const fs::path out = argv[2];
    nlohmann::json manifest;
    try {
        manifest = nlohmann::json::parse(readWhole(release / "manifest.json"));
    } catch (const nlohmann::json::exception& error) {
        std::fprintf(stderr, "bench-install-bound: manifest.json: %s\n", error.what());
        return 1;
    }
    // The blobs are read before the clock starts: the install gets them from the network, not from disk.
    struct Item {
        std::string path, sha256, csha256, blob;
        uint64_t size;
    };
    std::vector<Item> items;
    for (const auto& file : manifest["files"]) {
        const std::string sha = file["sha256"];
        items.push_back({file["path"], sha, file["csha256"], readWhole(release / "blobs" / (sha + ".lzms")),
                         file["size"].get<uint64_t>()});
    }

    uint64_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const Item& item : items) {
        if (sha256Hex(item.blob.data(), item.blob.size()) != item.csha256) {
            std::fprintf(stderr, "bench-install-bound: blob of %s does not match\n", item.path.c_str());
            return 1;
        }
        std::vector<uint8_t> unpacked(item.size);
        if (!decodeLzmsBlob(reinterpret_cast<const uint8_t*>(item.blob.data()), item.blob.size(), unpacked.data(),
                            item.size) ||
            sha256Hex(unpacked.data(), unpacked.size()) != item.sha256) {
            std::fprintf(stderr, "bench-install-bound: %s does not unpack\n", item.path.c_str());
            return 1;
        }
        const fs::path target = out / fs::u8path(item.path);
        fs::create_directories(target.parent_path());
        fs::path temporary = target;
        temporary += ".new";
        {
            std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(unpacked.data()), static_cast<std::streamsize>(unpacked.size()));
        }
        fs::rename(temporary, target);
        bytes += item.size;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu files, %.1f MB in %.3f s: %.1f MB/s\n", items.size(), bytes / 1e6, seconds,
                seconds > 0 ? bytes / 1e6 / seconds : 0.0);
    return 0;
}
