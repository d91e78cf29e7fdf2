// libFuzzer target over our LZMS decoder. Most inputs get a well-formed header rebuilt from their own
// total and chunk-size fields, so that mutations reach the chunk framing and the LZMS stream instead of
// dying at the check byte; one input in four is decoded exactly as given.
#include "platform/lzms_container.h"
#include "platform/lzms_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
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
    // Into exactly the announced size, then into one byte less, which must be refused; both outputs are
    // heap blocks of just that size, so that AddressSanitizer sees the first byte past them.
    const size_t exact = size_t(totalSize);
    const std::unique_ptr<uint8_t[]> out(exact > 0 ? new uint8_t[exact] : nullptr);
    decodeLzmsBlob(blob.data(), blob.size(), out.get(), totalSize);
    if (exact > 0) {
        const std::unique_ptr<uint8_t[]> shorter(exact > 1 ? new uint8_t[exact - 1] : nullptr);
        if (decodeLzmsBlob(blob.data(), blob.size(), shorter.get(), totalSize - 1)) __builtin_trap();
    }
    return 0;
}
