// unpackLzms in the product under Wine, whose Cabinet.dll lacks the Compression API: our decoder must
// unpack the genuine Windows blobs and the writer's blobs exactly as the host build does. The fixtures are
// written by the host build into its folder lzms-fixtures (MAKETOR_HOST_BUILD, else ../host).
#include "platform/lzms.h"
#include "platform/lzms_container.h"
#include "platform/text.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring fixturesFolder() {
    const char* hostBuild = std::getenv("MAKETOR_HOST_BUILD");
    if (hostBuild != nullptr && hostBuild[0] == '/') return L"Z:" + toUtf16(hostBuild) + L"\\lzms-fixtures";
    return testExeDir() + L"\\..\\host\\lzms-fixtures";
}

std::vector<std::string> fixtureNames() {
    std::istringstream index(readFileBytes(fixturesFolder() + L"\\index.txt"));
    std::vector<std::string> names;
    for (std::string line; std::getline(index, line);)
        if (!line.empty()) names.push_back(line);
    return names;
}

std::string fixture(const std::string& name, const wchar_t* extension) {
    return readFileBytes(fixturesFolder() + L"\\" + toUtf16(name) + extension);
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(UnpackLzms, EveryFixtureUnpacksExactly) {
    const std::vector<std::string> names = fixtureNames();
    ASSERT_GE(names.size(), 15u) << "fixtures missing: build the host tree first";
    for (const char* genuine : {"english", "pattern", "random", "sequential", "single_byte", "small", "zeros"})
        EXPECT_NE(std::find(names.begin(), names.end(), genuine), names.end()) << genuine;
    for (const std::string& name : names) {
        const std::string raw = fixture(name, L".raw");
        const std::string blob = fixture(name, L".lzms");
        ASSERT_FALSE(blob.empty()) << name;
        std::vector<uint8_t> out;
        EXPECT_TRUE(unpackLzms(blob, raw.size(), out)) << name;
        EXPECT_EQ(out, bytesOf(raw)) << name;
    }
}

// Walks the container as the blob transfer reads it from disk: header, then each chunk through the unpacker.
bool unpackChunkByChunk(const std::string& blob, std::vector<uint8_t>& out) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(blob.data());
    LzmsContainerHeader header;
    LzmsChunkUnpacker unpacker;
    if (!readLzmsHeader(bytes, blob.size(), header) || !openLzmsChunkUnpacker(unpacker)) return false;
    out.assign(size_t(header.totalSize), 0);
    size_t position = kLzmsHeaderSize;
    for (uint64_t produced = 0; produced < header.totalSize;) {
        const size_t chunkSize = size_t(std::min(header.chunkSize, header.totalSize - produced));
        if (blob.size() - position < 4) return false;
        const size_t packedSize = size_t(bytes[position]) | size_t(bytes[position + 1]) << 8 |
                                  size_t(bytes[position + 2]) << 16 | size_t(bytes[position + 3]) << 24;
        position += 4;
        if (packedSize > blob.size() - position) return false;
        uint8_t* const input = lzmsChunkInput(unpacker, packedSize);
        if (input == nullptr) return false;
        std::copy_n(bytes + position, packedSize, input);
        if (!unpackLzmsChunk(unpacker, packedSize, out.data() + produced, chunkSize)) return false;
        position += packedSize;
        produced += chunkSize;
    }
    return position == blob.size();
}

TEST(UnpackLzmsChunk, EveryFixtureUnpacksExactlyChunkByChunk) {
    const std::vector<std::string> names = fixtureNames();
    ASSERT_GE(names.size(), 15u) << "fixtures missing: build the host tree first";
    for (const std::string& name : names) {
        std::vector<uint8_t> out;
        EXPECT_TRUE(unpackChunkByChunk(fixture(name, L".lzms"), out)) << name;
        EXPECT_EQ(out, bytesOf(fixture(name, L".raw"))) << name;
    }
}

TEST(UnpackLzmsChunk, RefusesAnEmptyChunkAndMoreBytesThanWerePlaced) {
    LzmsChunkUnpacker unpacker;
    ASSERT_TRUE(openLzmsChunkUnpacker(unpacker));
    std::vector<uint8_t> out(64);
    uint8_t* input = lzmsChunkInput(unpacker, 64);
    ASSERT_NE(input, nullptr);
    std::fill_n(input, 64, uint8_t(0x5A));
    EXPECT_FALSE(unpackLzmsChunk(unpacker, 64, out.data(), 0)) << "an empty chunk does not exist";
    EXPECT_FALSE(unpackLzmsChunk(unpacker, 65, out.data(), out.size())) << "more bytes than were placed";
    ASSERT_TRUE(unpackLzmsChunk(unpacker, 64, out.data(), out.size())) << "a chunk as long as its output is raw";
    EXPECT_EQ(out, std::vector<uint8_t>(64, 0x5A));
}

TEST(UnpackLzms, OnlyTheExactSizeIsAccepted) {
    for (const std::string& name : fixtureNames()) {
        const std::string raw = fixture(name, L".raw");
        const std::string blob = fixture(name, L".lzms");
        std::vector<uint8_t> out;
        EXPECT_FALSE(unpackLzms(blob, raw.size() + 1, out)) << name << " one byte more";
        if (!raw.empty()) {
            EXPECT_FALSE(unpackLzms(blob, raw.size() - 1, out)) << name << " one byte less";
        }
    }
}

TEST(UnpackLzms, AnEmptyFileIsTheBareHeader) {
    const std::string blob = fixture("libwim-empty", L".lzms");
    ASSERT_EQ(blob.size(), kLzmsHeaderSize);
    std::vector<uint8_t> out = {1, 2, 3};
    EXPECT_TRUE(unpackLzms(blob, 0, out));
    EXPECT_TRUE(out.empty());
}

TEST(UnpackLzms, DamagedBlobsAreRefused) {
    const std::string raw = fixture("libwim-text", L".raw");
    const std::string good = fixture("libwim-text", L".lzms");
    ASSERT_GT(good.size(), kLzmsHeaderSize + 4);
    struct Case {
        const char* name;
        std::string blob;
    };
    std::string randomBytes(4096, '\0');
    uint32_t state = 12345;
    for (char& c : randomBytes) c = char((state = state * 1103515245u + 12345u) >> 24);
    const Case cases[] = {
        {"raw-mode stream without the container", good.substr(kLzmsHeaderSize + 4)},
        {"random bytes", randomBytes},
        {"truncated", good.substr(0, good.size() - 1)},
        {"trailing byte", good + '\0'},
        {"empty", std::string()},
        {"bad check byte", std::string(good).replace(6, 1, 1, char(good[6] ^ 0x40))},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out;
        EXPECT_FALSE(unpackLzms(c.blob, raw.size(), out)) << c.name;
    }
}

}  // namespace
