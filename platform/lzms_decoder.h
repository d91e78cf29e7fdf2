#pragma once
// Our own decoder of LZMS blobs in the Compression API's buffer-mode container. Portable C++, safe on any
// input: it never reads or writes outside its buffers and always ends.
#include <cstddef>
#include <cstdint>
#include <memory>

// Reads the total uncompressed size from a well-formed container header.
bool readLzmsBlobSize(const uint8_t* blob, size_t blobSize, uint64_t& totalSize);
// Decodes the whole blob into out (capacity outSize). True only when the container and every chunk are
// well formed, the total size equals outSize and the blob ends right after its last chunk.
bool decodeLzmsBlob(const uint8_t* blob, size_t blobSize, uint8_t* out, uint64_t outSize);

// Decoding state of one chunk at a time (its tables are large, so one is kept per worker and reused).
struct LzmsChunkDecoder;
struct LzmsChunkDecoderDeleter {
    void operator()(LzmsChunkDecoder* decoder) const;
};
using UniqueLzmsChunkDecoder = std::unique_ptr<LzmsChunkDecoder, LzmsChunkDecoderDeleter>;
// Empty when memory is short.
UniqueLzmsChunkDecoder newLzmsChunkDecoder();
// Decodes one chunk (its packed bytes, without the length word in front) into exactly outSize bytes. A chunk
// whose packed size equals outSize is stored raw and copied. True only when the chunk is well formed.
bool decodeLzmsChunk(LzmsChunkDecoder& decoder, const uint8_t* packed, size_t packedSize, uint8_t* out,
                     size_t outSize);
