#include "tools/publisher/lzms_compress.h"

#include "platform/lzms_container.h"

#include <wimlib.h>

#include <algorithm>
#include <memory>

namespace {

struct CompressorFreer {
    void operator()(wimlib_compressor* compressor) const { wimlib_free_compressor(compressor); }
};
using UniqueCompressor = std::unique_ptr<wimlib_compressor, CompressorFreer>;

// Windows stores chunks this small raw; doing the same keeps our blobs within what it is known to accept.
constexpr size_t kLargestAlwaysStoredChunk = 8;

void appendChunk(std::vector<uint8_t>& blob, const uint8_t* bytes, size_t length) {
    for (int i = 0; i < 4; ++i) blob.push_back(uint8_t(length >> (8 * i)));
    blob.insert(blob.end(), bytes, bytes + length);
}

}  // namespace

bool compressLzmsBlob(const uint8_t* data, size_t size, uint64_t blockSize, std::vector<uint8_t>& blob) {
    blob.clear();
    if (blockSize == 0) return false;
    LzmsContainerHeader header;
    header.totalSize = size;
    header.chunkSize = std::min<uint64_t>(size, std::min(blockSize, kLzmsMaxChunkSize));
    blob.resize(kLzmsHeaderSize);
    writeLzmsHeader(header, blob.data());
    if (size == 0) return true;

    wimlib_compressor* created = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, header.chunkSize, 0, &created) != 0) {
        blob.clear();
        return false;
    }
    UniqueCompressor compressor(created);
    std::vector<uint8_t> packed(header.chunkSize);
    for (size_t offset = 0; offset < size;) {
        const size_t length = std::min<size_t>(header.chunkSize, size - offset);
        // Room for one byte less than the input: a chunk is compressed only when that makes it smaller.
        const size_t packedLength = length > kLargestAlwaysStoredChunk
                                        ? wimlib_compress(data + offset, length, packed.data(), length - 1,
                                                          compressor.get())
                                        : 0;
        if (packedLength != 0)
            appendChunk(blob, packed.data(), packedLength);
        else
            appendChunk(blob, data + offset, length);
        offset += length;
    }
    return true;
}
