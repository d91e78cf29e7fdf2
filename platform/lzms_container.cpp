#include "platform/lzms_container.h"

#include <array>

namespace {

constexpr size_t kCheckByteOffset = 6;

constexpr std::array<uint32_t, 256> makeCrc32Table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrc32Table = makeCrc32Table();

// Low byte of the CRC-32 of the header with the check byte itself left out.
uint8_t headerCheckByte(const uint8_t* header) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < kLzmsHeaderSize; ++i) {
        if (i == kCheckByteOffset) continue;
        crc = kCrc32Table[(crc ^ header[i]) & 0xFF] ^ (crc >> 8);
    }
    return uint8_t(~crc);
}

uint64_t readLittleEndian(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

void writeLittleEndian(uint8_t* p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(value >> (8 * i));
}

}  // namespace

void writeLzmsHeader(const LzmsContainerHeader& header, uint8_t* out) {
    writeLittleEndian(out, kLzmsContainerMagic, 4);
    writeLittleEndian(out + 4, kLzmsHeaderSize, 2);
    out[kCheckByteOffset] = 0;
    out[7] = kLzmsAlgorithmId;
    writeLittleEndian(out + 8, header.totalSize, 8);
    writeLittleEndian(out + 16, header.chunkSize, 8);
    out[kCheckByteOffset] = headerCheckByte(out);
}

bool readLzmsHeader(const uint8_t* blob, size_t blobSize, LzmsContainerHeader& header) {
    if (blob == nullptr || blobSize < kLzmsHeaderSize) return false;
    if (readLittleEndian(blob, 4) != kLzmsContainerMagic || readLittleEndian(blob + 4, 2) != kLzmsHeaderSize ||
        blob[kCheckByteOffset] != headerCheckByte(blob) || blob[7] != kLzmsAlgorithmId)
        return false;
    LzmsContainerHeader read;
    read.totalSize = readLittleEndian(blob + 8, 8);
    read.chunkSize = readLittleEndian(blob + 16, 8);
    if (read.chunkSize > kLzmsMaxChunkSize || (read.chunkSize == 0 && read.totalSize != 0)) return false;
    header = read;
    return true;
}
