#pragma once
// A published blob file read once from end to end: its length and SHA-256, and its content unpacked chunk by
// chunk with the product's own decoder and checked against the file it stands for. Memory: one chunk packed
// and unpacked, whatever the blob's size.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/lzms_decoder.h"

struct BlobFacts {
    bool readable = false;  // false when the blob is missing or cannot be read; nothing else is known then
    uint64_t csize = 0;     // its length and SHA-256, known whenever it is readable
    std::string csha256;
    std::string problem;  // empty when it unpacks to exactly the expected bytes
};

// One decoder state for each of count workers; throws std::bad_alloc when memory is short.
std::vector<UniqueLzmsChunkDecoder> newChunkDecoders(size_t count);

// Reads the blob at path, expecting it to unpack to size bytes whose SHA-256 is sha256. Unpacked bytes are
// added to unpackedBytes as they come (progress).
BlobFacts readBlobFacts(const std::filesystem::path& path, uint64_t size, const std::string& sha256,
                        LzmsChunkDecoder& decoder, std::atomic<uint64_t>& unpackedBytes);
