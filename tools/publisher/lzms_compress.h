#pragma once
// Makes LZMS blobs in the Compression API's buffer-mode container, with libwim as the LZMS compressor: whole
// blobs in memory, or one chunk at a time for writers that stream.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct wimlib_compressor;
struct WimlibCompressorFreer {
    void operator()(wimlib_compressor* compressor) const;
};

// libwim's LZMS state for chunks of up to chunkSize bytes. It is large (about nine times chunkSize), so a
// worker keeps one and reuses it while the chunk size stays the same.
struct LzmsChunkCompressor {
    std::unique_ptr<wimlib_compressor, WimlibCompressorFreer> compressor;
    uint64_t chunkSize = 0;
};

// The container's chunk size for a file of totalSize bytes: blockSize capped at 64 MiB, or the whole file
// when that is smaller.
uint64_t lzmsChunkSizeFor(uint64_t totalSize, uint64_t blockSize);
// Makes compressor ready for chunks of chunkSize bytes (1..64 MiB), creating it anew only when the size
// differs: the compressed bytes depend on it. False when libwim cannot create it.
bool prepareLzmsCompressor(LzmsChunkCompressor& compressor, uint64_t chunkSize);
// Compresses one chunk of at most the compressor's chunk size into packed. packed is left empty when the
// chunk is to be stored raw: LZMS would not make it strictly smaller, or it is too small to bother.
void packLzmsChunk(LzmsChunkCompressor& compressor, const uint8_t* data, size_t size, std::vector<uint8_t>& packed);
// The 32-bit little-endian length word that precedes each chunk in the container.
void storeLzmsChunkLength(uint32_t length, uint8_t* out);

// Compresses data into blob, in chunks of blockSize bytes (capped at 64 MiB; 0 is refused). A chunk that
// LZMS would not make strictly smaller is stored raw. Empty input gives the bare header (total 0).
// False only when blockSize is 0 or the compressor cannot be created; blob is then empty.
bool compressLzmsBlob(const uint8_t* data, size_t size, uint64_t blockSize, std::vector<uint8_t>& blob);
