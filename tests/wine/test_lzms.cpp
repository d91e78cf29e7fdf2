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
