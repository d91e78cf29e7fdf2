#pragma once
// Unpacking blobs with the product's own LZMS decoder, and the check that a blob holds a file's content.
#include <cstdint>
#include <memory>
#include <string>

struct UnpackedBlob {
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t size = 0;
};

// Unpacks a whole blob, its size taken from the container header; on false, problem says why.
bool unpackBlob(const std::string& blob, UnpackedBlob& content, std::string& problem);
// Empty when blob unpacks to exactly size bytes whose SHA-256 is sha256; otherwise what is wrong with it.
std::string blobContentProblem(const std::string& blob, uint64_t size, const std::string& sha256);
