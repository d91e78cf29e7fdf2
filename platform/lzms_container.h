#pragma once
// The Compression API's buffer-mode container around LZMS chunks: a 24-byte header, then each chunk as a
// 32-bit compressed length and its bytes. Shared by our decoder and the publisher's blob writer.
#include <cstddef>
#include <cstdint>

constexpr uint32_t kLzmsContainerMagic = 0xC0E5510A;
constexpr size_t kLzmsHeaderSize = 24;
constexpr uint8_t kLzmsAlgorithmId = 5;
// Windows' default block size, and the largest chunk we write or accept.
constexpr uint64_t kLzmsMaxChunkSize = uint64_t(64) << 20;

struct LzmsContainerHeader {
    uint64_t totalSize = 0;  // uncompressed bytes of the whole blob
    uint64_t chunkSize = 0;  // uncompressed bytes of every chunk but the last
};

// Writes the 24 header bytes, check byte included.
void writeLzmsHeader(const LzmsContainerHeader& header, uint8_t* out);
// True when blob starts with a well-formed LZMS header: magic, length 24, check byte, algorithm, and a
// chunk size that is non-zero (unless the blob is empty) and no larger than kLzmsMaxChunkSize.
bool readLzmsHeader(const uint8_t* blob, size_t blobSize, LzmsContainerHeader& header);
