#pragma once
// Unpacking a whole blob in memory with the product's own LZMS decoder.
#include <cstdint>
#include <memory>
#include <string>

struct UnpackedBlob {
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t size = 0;
};

// Unpacks a whole blob, its size taken from the container header; on false, problem says why.
bool unpackBlob(const std::string& blob, UnpackedBlob& content, std::string& problem);
