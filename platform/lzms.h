#pragma once
// Unpacking of one LZMS blob (Compression API buffer-mode container): the platform decompressor when the
// system has one, otherwise our own decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/lzms_decoder.h"

// True only when the blob unpacked into exactly expectedSize bytes (then held in out).
bool unpackLzms(const std::string& blob, uint64_t expectedSize, std::vector<uint8_t>& out);

// One chunk at a time, for blobs read piece by piece. The platform decompressor gets each chunk as a container
// of its own (a header announcing just that chunk, its length word, its bytes), which is why the packed bytes
// are read into the unpacker's own buffer, behind room for that header.
struct LzmsChunkUnpacker {
    UniqueDecompressor platformDecompressor;  // when the system has the Compression API
    UniqueLzmsChunkDecoder ownDecoder;        // otherwise
    std::vector<uint8_t> container;
};
// False when neither decoder can be made (memory is short).
bool openLzmsChunkUnpacker(LzmsChunkUnpacker& unpacker);
// Where the caller puts a chunk's packedSize bytes before unpacking it; null when memory is short.
uint8_t* lzmsChunkInput(LzmsChunkUnpacker& unpacker, size_t packedSize);
// Unpacks the chunk placed at lzmsChunkInput into exactly outSize bytes. True only when it is well formed.
bool unpackLzmsChunk(LzmsChunkUnpacker& unpacker, size_t packedSize, uint8_t* out, size_t outSize);
