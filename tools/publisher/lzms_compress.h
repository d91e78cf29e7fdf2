#pragma once
// Makes LZMS blobs in the Compression API's buffer-mode container, with libwim as the LZMS compressor.
#include <cstddef>
#include <cstdint>
#include <vector>

// Compresses data into blob, in chunks of blockSize bytes (capped at 64 MiB; 0 is refused). A chunk that
// LZMS would not make strictly smaller is stored raw. Empty input gives the bare header (total 0).
// False only when blockSize is 0 or the compressor cannot be created; blob is then empty.
bool compressLzmsBlob(const uint8_t* data, size_t size, uint64_t blockSize, std::vector<uint8_t>& blob);
