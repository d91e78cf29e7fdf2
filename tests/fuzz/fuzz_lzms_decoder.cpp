// libFuzzer target over our LZMS decoder. Most inputs get a well-formed header rebuilt from their own
// total and chunk-size fields, so that mutations reach the chunk framing and the LZMS stream instead of
// dying at the check byte; one input in four is decoded exactly as given.
#include "platform/lzms_container.h"
#include "platform/lzms_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr uint64_t kLargestOutput = uint64_t(4) << 20;  // keeps each run quick and its memory small

uint64_t readField(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kLzmsHeaderSize) {
        uint64_t ignored;
        readLzmsBlobSize(data, size, ignored);
        return 0;
    }
    std::vector<uint8_t> blob(data, data + size);
    if ((data[6] & 3) != 0) {
        LzmsContainerHeader header;
        header.totalSize = readField(data + 8) % (kLargestOutput + 1);
        header.chunkSize = readField(data + 16) % (kLzmsMaxChunkSize + 1);
        writeLzmsHeader(header, blob.data());
    }
    uint64_t totalSize = 0;
    if (!readLzmsBlobSize(blob.data(), blob.size(), totalSize) || totalSize > kLargestOutput) return 0;
    // The exact size, then one byte less, which must be refused without touching the byte past it.
    std::vector<uint8_t> out(size_t(totalSize) + 1);
    decodeLzmsBlob(blob.data(), blob.size(), out.data(), totalSize);
    if (totalSize > 0 && decodeLzmsBlob(blob.data(), blob.size(), out.data(), totalSize - 1)) __builtin_trap();
    return 0;
}
