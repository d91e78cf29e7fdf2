#include "tools/publisher/lzms_compress.h"

#include "platform/lzms_container.h"

#include <wimlib.h>

#include <algorithm>

namespace {

// Windows stores chunks this small raw; doing the same keeps our blobs within what it is known to accept.
constexpr size_t kLargestAlwaysStoredChunk = 8;

void appendChunk(std::vector<uint8_t>& blob, const uint8_t* bytes, size_t length) {
    uint8_t lengthWord[4];
    storeLzmsChunkLength(uint32_t(length), lengthWord);
    blob.insert(blob.end(), lengthWord, lengthWord + 4);
    blob.insert(blob.end(), bytes, bytes + length);
}

}  // namespace

void WimlibCompressorFreer::operator()(wimlib_compressor* compressor) const { wimlib_free_compressor(compressor); }

uint64_t lzmsChunkSizeFor(uint64_t totalSize, uint64_t blockSize) {
    return std::min(totalSize, std::min(blockSize, kLzmsMaxChunkSize));
}

bool prepareLzmsCompressor(LzmsChunkCompressor& compressor, uint64_t chunkSize) {
    if (compressor.compressor && compressor.chunkSize == chunkSize) return true;
    compressor.compressor.reset();
    compressor.chunkSize = 0;
    if (chunkSize == 0 || chunkSize > kLzmsMaxChunkSize) return false;
    wimlib_compressor* created = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, size_t(chunkSize), 0, &created) != 0) return false;
    compressor.compressor.reset(created);
    compressor.chunkSize = chunkSize;
    return true;
}

void packLzmsChunk(LzmsChunkCompressor& compressor, const uint8_t* data, size_t size, std::vector<uint8_t>& packed) {
    packed.clear();
    if (size <= kLargestAlwaysStoredChunk) return;
    // Room for one byte less than the input: a chunk is compressed only when that makes it smaller.
    packed.resize(size - 1);
    packed.resize(wimlib_compress(data, size, packed.data(), size - 1, compressor.compressor.get()));
}

void storeLzmsChunkLength(uint32_t length, uint8_t* out) {
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(length >> (8 * i));
}

bool compressLzmsBlob(const uint8_t* data, size_t size, uint64_t blockSize, std::vector<uint8_t>& blob) {
    blob.clear();
    if (blockSize == 0) return false;
    LzmsContainerHeader header;
    header.totalSize = size;
    header.chunkSize = lzmsChunkSizeFor(size, blockSize);
    blob.resize(kLzmsHeaderSize);
    writeLzmsHeader(header, blob.data());
    if (size == 0) return true;

    LzmsChunkCompressor compressor;
    if (!prepareLzmsCompressor(compressor, header.chunkSize)) {
        blob.clear();
        return false;
    }
    std::vector<uint8_t> packed;
    for (size_t offset = 0; offset < size;) {
        const size_t length = std::min<size_t>(header.chunkSize, size - offset);
        packLzmsChunk(compressor, data + offset, length, packed);
        if (!packed.empty())
            appendChunk(blob, packed.data(), packed.size());
        else
            appendChunk(blob, data + offset, length);
        offset += length;
    }
    return true;
}
