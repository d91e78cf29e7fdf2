#include "tools/publisher/blob_check.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/lzms_container.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/signing.h"

namespace {

// Reads a file front to back, hashing and counting every byte it hands out.
struct HashingReader {
    explicit HashingReader(const std::filesystem::path& path) : file(openForReading(path)) {}

    bool readExactly(void* data, size_t size) {
        auto* cursor = static_cast<uint8_t*>(data);
        while (size > 0) {
            const ssize_t got = readSome(file, cursor, size);
            if (got <= 0) {
                failed = got < 0;
                return false;
            }
            take(cursor, size_t(got));
            cursor += got;
            size -= size_t(got);
        }
        return true;
    }
    // Reads (and hashes) whatever is left; true when something was.
    bool drain() {
        uint8_t buffer[1 << 16];
        bool more = false;
        for (ssize_t got; (got = readSome(file, buffer, sizeof buffer)) != 0;) {
            if (got < 0) {
                failed = true;
                break;
            }
            take(buffer, size_t(got));
            more = true;
        }
        return more;
    }
    void take(const uint8_t* bytes, size_t size) {
        hash.add(bytes, size);
        count += size;
    }

    FileDescriptor file;
    Sha256Stream hash;
    uint64_t count = 0;
    bool failed = false;
};

// Unpacks the chunks after the header; empty when they are exactly the expected content and the blob ends
// after the last one.
std::string unpackedProblem(HashingReader& reader, const LzmsContainerHeader& header, const std::string& sha256,
                            LzmsChunkDecoder& decoder, std::atomic<uint64_t>& unpackedBytes) {
    const std::string damaged = "damaged LZMS data";
    const size_t largestChunk = size_t(std::min(header.chunkSize, header.totalSize));
    std::vector<uint8_t> packed(largestChunk);
    std::vector<uint8_t> unpacked(largestChunk);
    Sha256Stream content;
    for (uint64_t produced = 0; produced < header.totalSize;) {
        const size_t chunkSize = size_t(std::min(header.chunkSize, header.totalSize - produced));
        uint8_t lengthWord[4];
        if (!reader.readExactly(lengthWord, 4)) return damaged;
        const size_t packedSize = size_t(lengthWord[0]) | size_t(lengthWord[1]) << 8 | size_t(lengthWord[2]) << 16 |
                                  size_t(lengthWord[3]) << 24;
        // A chunk never packs larger than it is (such a chunk is stored raw), so this bounds the memory.
        if (packedSize > chunkSize || !reader.readExactly(packed.data(), packedSize) ||
            !decodeLzmsChunk(decoder, packed.data(), packedSize, unpacked.data(), chunkSize))
            return damaged;
        content.add(unpacked.data(), chunkSize);
        produced += chunkSize;
        unpackedBytes += chunkSize;
    }
    if (reader.drain()) return damaged;
    if (content.finishHex() != sha256) return "unpacks to content whose SHA-256 is not the manifest's sha256";
    return {};
}

}  // namespace

std::vector<UniqueLzmsChunkDecoder> newChunkDecoders(size_t count) {
    std::vector<UniqueLzmsChunkDecoder> decoders(count);
    for (UniqueLzmsChunkDecoder& decoder : decoders) {
        decoder = newLzmsChunkDecoder();
        if (!decoder) throw std::bad_alloc();
    }
    return decoders;
}

BlobFacts readBlobFacts(const std::filesystem::path& path, uint64_t size, const std::string& sha256,
                        LzmsChunkDecoder& decoder, std::atomic<uint64_t>& unpackedBytes) {
    BlobFacts facts;
    HashingReader reader(path);
    if (!reader.file) {
        facts.problem = "missing or unreadable";
        return facts;
    }
    uint8_t headerBytes[kLzmsHeaderSize];
    LzmsContainerHeader header;
    if (!reader.readExactly(headerBytes, sizeof headerBytes) ||
        !readLzmsHeader(headerBytes, sizeof headerBytes, header))
        facts.problem = "not an LZMS blob (bad container header)";
    else if (header.totalSize != size)
        facts.problem = "unpacks to " + std::to_string(header.totalSize) + " bytes, the manifest says size " +
                        std::to_string(size);
    else
        facts.problem = unpackedProblem(reader, header, sha256, decoder, unpackedBytes);
    reader.drain();  // the blob's own digest covers every byte, whatever stopped the unpacking
    if (reader.failed) {
        facts.problem = "missing or unreadable";
        return facts;
    }
    facts.readable = true;
    facts.csize = reader.count;
    facts.csha256 = reader.hash.finishHex();
    return facts;
}
