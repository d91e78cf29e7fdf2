// Our LZMS decoder against blobs made by Windows and by libwim (through our writer), and against every
// damaged form of the container and the stream that it must refuse.
#include "lzms_samples.h"
#include "platform/lzms_container.h"
#include "platform/lzms_decoder.h"
#include "tools/publisher/lzms_compress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * kKiB;
constexpr uint8_t kGuard = 0xA5;

const char* const kGenuineNames[] = {"english", "pattern", "random", "sequential", "single_byte", "small", "zeros"};

std::vector<uint8_t> readGenuine(const std::string& file) {
    std::ifstream in(std::string(MAKETOR_LZMS_GENUINE_DIR) + "/" + file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> compress(const std::vector<uint8_t>& data, uint64_t blockSize) {
    std::vector<uint8_t> blob;
    EXPECT_TRUE(compressLzmsBlob(data.data(), data.size(), blockSize, blob));
    return blob;
}

// Decodes into a buffer of exactly outSize bytes followed by guard bytes that must stay untouched.
bool decodeGuarded(const std::vector<uint8_t>& blob, uint64_t outSize, std::vector<uint8_t>& out) {
    out.assign(size_t(outSize) + 64, kGuard);
    const bool decoded = decodeLzmsBlob(blob.data(), blob.size(), out.data(), outSize);
    EXPECT_TRUE(std::all_of(out.begin() + ptrdiff_t(outSize), out.end(), [](uint8_t b) { return b == kGuard; }))
        << "wrote past the end of the output";
    out.resize(size_t(outSize));
    return decoded;
}

bool decodesTo(const std::vector<uint8_t>& blob, const std::vector<uint8_t>& expected) {
    std::vector<uint8_t> out;
    return decodeGuarded(blob, expected.size(), out) && out == expected;
}

bool rejects(const std::vector<uint8_t>& blob, uint64_t outSize) {
    std::vector<uint8_t> out;
    return !decodeGuarded(blob, outSize, out);
}

struct Chunk {
    size_t lengthOffset;  // where its u32 compressed length sits in the blob
    uint32_t packedSize;
    uint64_t size;
};

std::vector<Chunk> chunksOf(const std::vector<uint8_t>& blob) {
    LzmsContainerHeader header;
    std::vector<Chunk> chunks;
    if (!readLzmsHeader(blob.data(), blob.size(), header)) return chunks;
    size_t position = kLzmsHeaderSize;
    for (uint64_t produced = 0; produced < header.totalSize && position + 4 <= blob.size();) {
        Chunk chunk{position, 0, std::min(header.chunkSize, header.totalSize - produced)};
        std::memcpy(&chunk.packedSize, blob.data() + position, 4);
        chunks.push_back(chunk);
        position += 4 + chunk.packedSize;
        produced += chunk.size;
    }
    return chunks;
}

// A container around hand-made chunk payloads.
std::vector<uint8_t> makeBlob(uint64_t totalSize, uint64_t chunkSize, const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> blob(kLzmsHeaderSize);
    writeLzmsHeader({totalSize, chunkSize}, blob.data());
    for (const std::vector<uint8_t>& chunk : chunks) {
        const uint32_t length = uint32_t(chunk.size());
        for (int i = 0; i < 4; ++i) blob.push_back(uint8_t(length >> (8 * i)));
        blob.insert(blob.end(), chunk.begin(), chunk.end());
    }
    return blob;
}

void setHeaderField(std::vector<uint8_t>& blob, size_t offset, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) blob[offset + i] = uint8_t(value >> (8 * i));
    blob[6] = lzmsHeaderCheckByte(blob.data());
}

TEST(LzmsGenuineBlobs, DecodeExactly) {
    for (const char* name : kGenuineNames) {
        const std::vector<uint8_t> raw = readGenuine(std::string(name) + ".raw");
        const std::vector<uint8_t> blob = readGenuine(std::string(name) + ".lzms");
        ASSERT_FALSE(raw.empty()) << name;
        EXPECT_TRUE(decodesTo(blob, raw)) << name;
        uint64_t announced = 0;
        EXPECT_TRUE(readLzmsBlobSize(blob.data(), blob.size(), announced)) << name;
        EXPECT_EQ(announced, raw.size()) << name;
    }
}

TEST(LzmsWriter, HeadersMatchThoseOfWindows) {
    for (const char* name : kGenuineNames) {
        const std::vector<uint8_t> raw = readGenuine(std::string(name) + ".raw");
        const std::vector<uint8_t> genuine = readGenuine(std::string(name) + ".lzms");
        const std::vector<uint8_t> ours = compress(raw, 64 * kMiB);
        ASSERT_GE(ours.size(), kLzmsHeaderSize);
        EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + kLzmsHeaderSize, genuine.begin())) << name;
    }
}

TEST(LzmsWriter, StoresChunksThatWouldNotShrink) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
    };
    std::vector<Case> cases = {{"random", sampleRandom(100000, 3)}};
    for (size_t size = 1; size <= 8; ++size) cases.push_back({"tiny", std::vector<uint8_t>(size, 'a')});
    for (const Case& c : cases) {
        const std::vector<uint8_t> blob = compress(c.data, 64 * kMiB);
        const std::vector<Chunk> chunks = chunksOf(blob);
        ASSERT_EQ(chunks.size(), 1u) << c.name;
        EXPECT_EQ(chunks[0].packedSize, c.data.size()) << c.name << " " << c.data.size();
        EXPECT_EQ(blob.size(), kLzmsHeaderSize + 4 + c.data.size()) << c.name;
        EXPECT_TRUE(decodesTo(blob, c.data)) << c.name << " " << c.data.size();
    }
}

TEST(LzmsWriter, RefusesABlockSizeOfZero) {
    std::vector<uint8_t> blob;
    const std::vector<uint8_t> data(100, 'x');
    EXPECT_FALSE(compressLzmsBlob(data.data(), data.size(), 0, blob));
    EXPECT_TRUE(blob.empty());
}

TEST(LzmsRoundTrip, EverySampleAtEveryChunkSize) {
    const uint64_t blockSizes[] = {32 * kKiB, 64 * kKiB, 1 * kMiB, 64 * kMiB};
    for (const LzmsSample& sample : allLzmsSamples(1200000)) {
        ASSERT_EQ(sample.bytes.size(), 1200000u) << sample.name;
        for (uint64_t blockSize : blockSizes) {
            const std::vector<uint8_t> blob = compress(sample.bytes, blockSize);
            const std::vector<Chunk> chunks = chunksOf(blob);
            EXPECT_EQ(chunks.size(), (sample.bytes.size() + blockSize - 1) / blockSize) << sample.name;
            EXPECT_TRUE(decodesTo(blob, sample.bytes)) << sample.name << " in chunks of " << blockSize;
        }
    }
}

TEST(LzmsRoundTrip, StoredAndCompressedChunksInOneBlob) {
    std::vector<uint8_t> data = sampleText(64 * kKiB);
    const std::vector<uint8_t> noise = sampleRandom(64 * kKiB, 9);
    data.insert(data.end(), noise.begin(), noise.end());
    const std::vector<uint8_t> code = sampleX86Code(64 * kKiB + 123);
    data.insert(data.end(), code.begin(), code.end());

    const std::vector<uint8_t> blob = compress(data, 32 * kKiB);
    const std::vector<Chunk> chunks = chunksOf(blob);
    const auto stored = std::count_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.packedSize == c.size; });
    EXPECT_EQ(chunks.size(), 7u);
    EXPECT_EQ(stored, 2);
    EXPECT_TRUE(decodesTo(blob, data));
}

TEST(LzmsRoundTrip, SmallAndOddSizes) {
    const std::vector<uint8_t> text = sampleText(5000);
    for (size_t size : {1, 2, 3, 4, 9, 10, 16, 17, 18, 19, 31, 100, 257, 1023, 1025, 4999}) {
        const std::vector<uint8_t> data(text.begin(), text.begin() + ptrdiff_t(size));
        EXPECT_TRUE(decodesTo(compress(data, 64 * kMiB), data)) << size;
        EXPECT_TRUE(decodesTo(compress(data, 7), data)) << size << " in chunks of 7";
    }
}

// Small files whose single chunk ends soon after a match with a short offset (5 to 7 bytes back) and a
// length of a few bytes: the kind of match whose fast copy once ran past the end of the output.
TEST(LzmsRoundTrip, ShortOffsetMatchesNearTheEndOfASmallChunk) {
    const char* const texts[] = {
        R"({"v":11,"ok":"a","tag":1,"v":"ab","on":aa,"ab":0,"x":"a","ab":aa,"a":"a","id":"a"})",
        R"({"ab":1,"id":0,"on":aa,"id":aa,"on":true,"id":1})",
        R"({"x":true,"ab":true,"ab":[1,1],"a":1,"id":11,"v":null,"a":11,"x":true,"v":0,"a":1})",
        R"({"v":11,"ab":"a","tag":1,"tag":"a","a":[1,1],"v":aa,"id":aa,"x":null,"ab":11,"a":"a","tag":"ab"})",
        R"({"x":11,"a":1,"tag":11,"x":0,"a":1,"ab":[1,1],"x":1,"ab":[1,1],"v":11,"a":"ab","tag":"a","a":[1,1],"ab":[1,1],"tag":0,"on":aa,"on":11,"ok":null,"ab":[1,1]})",
    };
    for (const char* text : texts) {
        const std::vector<uint8_t> data(text, text + std::strlen(text));
        const std::vector<uint8_t> blob = compress(data, data.size());
        ASSERT_LT(blob.size(), kLzmsHeaderSize + 4 + data.size()) << "must be compressed: " << text;
        EXPECT_TRUE(decodesTo(blob, data)) << data.size() << " bytes: " << text;
    }
}

TEST(LzmsRoundTrip, ChunksOfTheLargestSize) {
    // A block size above 64 MiB is capped: two chunks, the first of 64 MiB.
    std::vector<uint8_t> data = sampleLongRepeats(64 * kMiB + 5000);
    const std::vector<uint8_t> code = sampleX86Code(256 * kKiB);
    std::copy(code.begin(), code.end(), data.begin() + ptrdiff_t(32 * kMiB));
    const std::vector<uint8_t> blob = compress(data, 256 * kMiB);
    LzmsContainerHeader header;
    ASSERT_TRUE(readLzmsHeader(blob.data(), blob.size(), header));
    EXPECT_EQ(header.chunkSize, 64 * kMiB);
    EXPECT_EQ(chunksOf(blob).size(), 2u);
    EXPECT_TRUE(decodesTo(blob, data));
}

TEST(LzmsEmptyFile, IsTheBareHeader) {
    const std::vector<uint8_t> blob = compress({}, 64 * kMiB);
    ASSERT_EQ(blob.size(), kLzmsHeaderSize);
    EXPECT_EQ(blob, makeBlob(0, 0, {}));
    EXPECT_TRUE(decodeLzmsBlob(blob.data(), blob.size(), nullptr, 0));
    EXPECT_TRUE(rejects(blob, 1));
    EXPECT_TRUE(rejects(makeBlob(0, 0, {{}}), 0)) << "a chunk after an empty total is trailing data";
}

TEST(LzmsDamaged, EveryDamagedFormIsRejected) {
    const std::vector<uint8_t> data = sampleText(100000);
    const std::vector<uint8_t> good = compress(data, 32 * kKiB);
    const std::vector<Chunk> chunks = chunksOf(good);
    ASSERT_EQ(chunks.size(), 4u);
    ASSERT_TRUE(decodesTo(good, data));
    const std::vector<uint8_t> firstPayload(good.begin() + ptrdiff_t(chunks[0].lengthOffset + 4),
                                            good.begin() + ptrdiff_t(chunks[0].lengthOffset + 4 + chunks[0].packedSize));

    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>& blob, uint64_t& expectedSize)> damage;
    };
    const Case cases[] = {
        {"magic", [](auto& b, auto&) { b[0] ^= 0x01; b[6] = lzmsHeaderCheckByte(b.data()); }},
        {"header length", [](auto& b, auto&) { setHeaderField(b, 4, 32, 2); }},
        {"check byte", [](auto& b, auto&) { b[6] ^= 0x80; }},
        {"algorithm XPRESS_HUFF", [](auto& b, auto&) { setHeaderField(b, 7, 4, 1); }},
        {"total one more", [](auto& b, auto&) { setHeaderField(b, 8, 100001, 8); }},
        {"total one less", [](auto& b, auto&) { setHeaderField(b, 8, 99999, 8); }},
        {"expected one more", [](auto&, auto& n) { n += 1; }},
        {"expected one less", [](auto&, auto& n) { n -= 1; }},
        {"chunk size zero", [](auto& b, auto&) { setHeaderField(b, 16, 0, 8); }},
        {"chunk size above 64 MiB", [](auto& b, auto&) { setHeaderField(b, 16, 64 * kMiB + 2, 8); }},
        {"chunk size flags set", [](auto& b, auto&) { setHeaderField(b, 20, 1, 4); }},
        {"chunk length past the end", [&](auto& b, auto&) { setHeaderField(b, chunks[3].lengthOffset, 0xFFFFFFFF, 4); }},
        {"last chunk one byte longer", [&](auto& b, auto&) {
             setHeaderField(b, chunks[3].lengthOffset, chunks[3].packedSize + 1, 4);
         }},
        {"last byte missing", [](auto& b, auto&) { b.pop_back(); }},
        {"trailing byte", [](auto& b, auto&) { b.push_back(0); }},
        {"last chunk missing", [&](auto& b, auto&) { b.resize(chunks[3].lengthOffset); }},
        {"header only", [](auto& b, auto&) { b.resize(kLzmsHeaderSize); }},
        {"shorter than a header", [](auto& b, auto&) { b.resize(kLzmsHeaderSize - 1); }},
        {"raw stream without container", [&](auto& b, auto& n) {
             b = firstPayload;
             n = chunks[0].size;
         }},
        {"odd compressed length", [](auto& b, auto& n) {
             b = makeBlob(100, 100, {{0x00, 0x00, 0x00, 0x00, 0x00}});
             n = 100;
         }},
        {"compressed chunk under four bytes", [](auto& b, auto& n) {
             b = makeBlob(100, 100, {{0x00, 0x00}});
             n = 100;
         }},
        {"stream that opens with a match", [](auto& b, auto& n) {
             b = makeBlob(100, 100, {std::vector<uint8_t>(16, 0xFF)});
             n = 100;
         }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> blob = good;
        uint64_t expectedSize = data.size();
        c.damage(blob, expectedSize);
        EXPECT_TRUE(rejects(blob, expectedSize)) << c.name;
    }
}

TEST(LzmsDamaged, FlippedBitsNeverReachOutsideTheBuffers) {
    const std::vector<uint8_t> data = sampleX86Code(40000);
    const std::vector<uint8_t> good = compress(data, 64 * kMiB);
    ASSERT_LT(good.size(), kLzmsHeaderSize + 4 + data.size()) << "the sample must be compressed";
    for (size_t i = kLzmsHeaderSize + 4; i < good.size(); i += 7) {
        std::vector<uint8_t> blob = good;
        blob[i] ^= uint8_t(1u << (i % 8));
        std::vector<uint8_t> out;
        decodeGuarded(blob, data.size(), out);  // the guard bytes are checked inside
    }
}

}  // namespace
