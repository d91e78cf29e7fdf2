// libFuzzer target of round trips: the fuzzer's bytes are plain data, the publisher's writer compresses them
// with libwim, and our decoder must give them back, into an output of exactly their size (no slack, so that
// AddressSanitizer sees the first byte past it). An input whose first byte is below 0x80 is the data itself,
// in one chunk of its own size, as the publisher writes small files; otherwise the first two bytes pick a
// chunk size of 1 to 32768 bytes and the rest is the data.
#include "platform/lzms_decoder.h"
#include "tools/publisher/lzms_compress.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    const uint8_t* data = input;
    uint64_t chunkSize = size;
    if (size >= 2 && input[0] >= 0x80) {
        chunkSize = ((uint64_t(input[0] & 0x7F) << 8) | input[1]) + 1;
        data += 2;
        size -= 2;
    }
    std::vector<uint8_t> blob;
    if (!compressLzmsBlob(data, size, chunkSize == 0 ? 1 : chunkSize, blob)) __builtin_trap();

    uint64_t announced = 0;
    if (!readLzmsBlobSize(blob.data(), blob.size(), announced) || announced != size) __builtin_trap();
    const std::unique_ptr<uint8_t[]> out(size > 0 ? new uint8_t[size] : nullptr);
    if (!decodeLzmsBlob(blob.data(), blob.size(), out.get(), size)) __builtin_trap();
    if (size > 0 && std::memcmp(out.get(), data, size) != 0) __builtin_trap();
    return 0;
}
