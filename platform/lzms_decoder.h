#pragma once
// Our own decoder of LZMS blobs in the Compression API's buffer-mode container. Portable C++, safe on any
// input: it never reads or writes outside its buffers and always ends.
#include <cstddef>
#include <cstdint>

// Reads the total uncompressed size from a well-formed container header.
bool readLzmsBlobSize(const uint8_t* blob, size_t blobSize, uint64_t& totalSize);
// Decodes the whole blob into out (capacity outSize). True only when the container and every chunk are
// well formed, the total size equals outSize and the blob ends right after its last chunk.
bool decodeLzmsBlob(const uint8_t* blob, size_t blobSize, uint8_t* out, uint64_t outSize);
