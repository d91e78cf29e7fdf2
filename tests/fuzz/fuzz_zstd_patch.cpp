// libFuzzer target over the product's patch decoding (platform/zstd_patch with zstd's decompressor compiled
// from the Debian source, both instrumented). An input is
//   old size (4 bytes, little-endian) | new size (4 bytes) | piece size (1 byte) | the old file | the patch
// shaped like real ones by the seeds (tests/fuzz/make_patch_seeds.cpp). The old file, the patch and the new
// file each live in a buffer of exactly their size, so a read or write past any of them is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/zstd_patch.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

uint32_t readWord(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// Exactly size bytes on the heap (new of 0 bytes still gives a distinct pointer).
std::unique_ptr<uint8_t[]> exactCopy(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return copy;
}

constexpr size_t kHeaderSize = 9;
constexpr uint32_t kMaxNewSize = uint32_t(1) << 22;  // the fuzzer's memory, not a rule of the product

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return 0;
    const uint32_t oldSize = readWord(data);
    const uint32_t newSize = readWord(data + 4) % kMaxNewSize;
    const size_t pieceSize = size_t(data[8]) * 61 + 1;
    if (oldSize > size - kHeaderSize) return 0;
    const auto old = exactCopy(data + kHeaderSize, oldSize);
    const size_t patchSize = size - kHeaderSize - oldSize;
    const auto patch = exactCopy(data + kHeaderSize + oldSize, patchSize);
    std::unique_ptr<uint8_t[]> output(new uint8_t[newSize]);

    PatchDecoder decoder;
    if (!startPatchDecoder(decoder, old.get(), oldSize, output.get(), newSize)) {
        check(!isPatchableSize(oldSize, newSize));
        return 0;
    }
    for (size_t at = 0; at < patchSize; at += pieceSize) {
        const size_t before = decoder.produced;
        const bool decoded = decodePatchPiece(decoder, patch.get() + at, std::min(pieceSize, patchSize - at));
        check(decoder.produced >= before && decoder.produced <= newSize);
        if (!decoded) {
            check(!finishPatchDecoder(decoder));
            check(!decodePatchPiece(decoder, patch.get(), patchSize));  // a failed decoder stays failed
            return 0;
        }
    }
    if (finishPatchDecoder(decoder)) check(decoder.produced == newSize);
    return 0;
}
