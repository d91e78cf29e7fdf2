// Hashing, Base64 and ECDSA P-256 verification on the platform's cryptography, and the built-in key.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/manifest.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string sha256HexOf(const std::string& text) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A Unix path of the build machine as Wine sees it.
std::wstring winePath(const std::string& unixPath) {
    std::wstring path = L"Z:" + toUtf16(unixPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

struct HashCase {
    std::string message;
    const char* hex;
};

TEST(Sha256, MatchesPublishedVectors) {
    const HashCase cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const HashCase& c : cases) EXPECT_EQ(sha256HexOf(c.message), c.hex) << c.message.substr(0, 60);
    // An empty buffer may come without storage at all.
    EXPECT_EQ(sha256Hex(nullptr, 0), cases[0].hex);
}

TEST(Sha256, DigestHoldsTheBytesOfTheHexDigest) {
    const std::string message = "abc";
    const std::vector<uint8_t> digest = sha256Digest(reinterpret_cast<const uint8_t*>(message.data()), message.size());
    ASSERT_EQ(digest.size(), 32u);
    std::string hex;
    for (const uint8_t byte : digest) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    EXPECT_EQ(hex, sha256HexOf(message));
}

TEST(Sha256, HashesEveryByteOfABufferBeyond4GiB) {
    // 4 GiB of zeros then "xyz": a 32-bit length would hash only "xyz". Untouched pages cost no memory.
    const size_t size = (size_t(1) << 32) + 3;
    auto* buffer = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(buffer, nullptr);
    std::copy_n("xyz", 3, buffer + (size - 3));
    const std::string hex = sha256Hex(buffer, size);
    VirtualFree(buffer, 0, MEM_RELEASE);
    // (head -c 4294967296 /dev/zero; printf xyz) | sha256sum
    EXPECT_EQ(hex, "3f2b9f5ab3792542b76e2deb6039c0beb8dbe514ec5184adb13af5e8b8703591");
}

TEST(Sha256Stream, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const std::string message = std::string(1000000, 'a');
    const std::string whole = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    const size_t pieceSizes[] = {1, 63, 64, 65, 4096, 999999, 1000000};
    for (const size_t pieceSize : pieceSizes) {
        Sha256Stream stream;
        ASSERT_TRUE(startSha256(stream));
        for (size_t offset = 0; offset < message.size(); offset += pieceSize) {
            const size_t size = std::min(pieceSize, message.size() - offset);
            addToSha256(stream, reinterpret_cast<const uint8_t*>(message.data()) + offset, size);
        }
        EXPECT_EQ(finishSha256Hex(stream), whole) << pieceSize;
    }
}

TEST(Sha256Stream, StartingAgainForgetsWhatWasAddedAndFinishingEndsIt) {
    Sha256Stream stream;
    ASSERT_TRUE(startSha256(stream));
    addToSha256(stream, reinterpret_cast<const uint8_t*>("stale"), 5);
    ASSERT_TRUE(startSha256(stream));
    addToSha256(stream, reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(finishSha256Hex(stream), sha256HexOf("abc"));
    EXPECT_EQ(finishSha256Hex(stream), "") << "a finished stream gives no second digest";
    addToSha256(stream, reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(finishSha256Hex(stream), "") << "nor takes bytes until started again";
    Sha256Stream neverStarted;
    EXPECT_EQ(finishSha256Hex(neverStarted), "");
}

TEST(DecodeBase64, DecodesTheStandardAlphabetWithPadding) {
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"QUJD", "ABC"},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"+/+/", "\xfb\xff\xbf"},
        {"AAEC", std::string("\x00\x01\x02", 3)},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeBase64(c.text), bytesOf(c.bytes)) << c.text;
}

TEST(DecodeBase64, GivesNothingForTextThatIsNotBase64) {
    const char* const texts[] = {"", "not base64!", "%%%%", "QUJD*", "QU JD?", "-_-_", "\xd0\x90\xd0\x91"};
    for (const char* text : texts) EXPECT_TRUE(decodeBase64(text).empty()) << text;
}

TEST(VerifyEcdsaP256, RefusesKeysAndSignaturesOfTheWrongLength) {
    const std::vector<uint8_t> point(64, 0x11);
    for (const size_t length : {0, 32, 63, 65, 70, 72}) {
        const std::vector<uint8_t> other(length, 0x11);
        EXPECT_FALSE(verifyEcdsaP256(other, "message", point)) << "key of " << length;
        EXPECT_FALSE(verifyEcdsaP256(point, "message", other)) << "signature of " << length;
    }
}

// Made by tests/fixtures/make-signed-fixture with maketor-publish and the openssl tool (OpenSSL signatures).
std::string fixture(const char* name) {
    return readFileBytes(winePath(std::string(MAKETOR_SOURCE_DIR) + "/tests/fixtures/signed/" + name));
}

std::string replacedAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(ReleaseSignature, AcceptsAManifestThatOpenSslSignedWithTheReleaseKey) {
    const std::string manifestText = fixture("manifest.json");
    ASSERT_FALSE(manifestText.empty());
    EXPECT_TRUE(verifyReleaseSignature(manifestText, fixture("manifest.sig")));
    Manifest manifest;
    EXPECT_TRUE(parseManifest(manifestText, manifest));
}

TEST(ReleaseSignature, RefusesAnyOtherManifestOrSignature) {
    const std::string manifestText = fixture("manifest.json");
    const std::string signature = fixture("manifest.sig");
    ASSERT_EQ(signature.size(), 88u);
    ASSERT_NE(manifestText.find('\n'), std::string::npos);
    std::string oneByteChanged = manifestText;
    oneByteChanged[manifestText.find("1.0.0")] = '2';
    struct Case {
        const char* name;
        std::string manifest;
        std::string signature;
    };
    const Case cases[] = {
        {"one manifest byte changed", oneByteChanged, signature},
        {"LF changed to CR LF", replacedAll(manifestText, "\n", "\r\n"), signature},
        {"a line break added", manifestText + "\n", signature},
        {"the last byte cut", manifestText.substr(0, manifestText.size() - 1), signature},
        {"a DER signature", manifestText, fixture("der.sig")},
        {"another key's signature", manifestText, fixture("other-key.sig")},
        {"a signature cut to 63 bytes", manifestText, signature.substr(0, 84)},
        {"an empty signature", manifestText, ""},
        {"a signature that is not Base64", manifestText, std::string(88, '*')},
    };
    for (const Case& c : cases) EXPECT_FALSE(verifyReleaseSignature(c.manifest, c.signature)) << c.name;
}

TEST(ReleaseSignature, AnotherKeysSignatureHoldsForThatKey) {
    // So the refusal above comes from the key, not from a broken file.
    EXPECT_TRUE(verifyEcdsaP256(decodeBase64(fixture("other-key.pub")), fixture("manifest.json"),
                                decodeBase64(fixture("other-key.sig"))));
    EXPECT_GE(decodeBase64(fixture("der.sig")).size(), 70u) << "DER form";
}

TEST(ReleaseKey, TheExecutableHoldsNoClearKeyText) {
    std::string keyText = readFileBytes(winePath(MAKETOR_RELEASE_KEY_FILE));
    keyText.erase(keyText.find_last_not_of(" \t\r\n") + 1);
    ASSERT_EQ(keyText.size(), 88u);
    const std::string image = readFileBytes(productExePath());
    ASSERT_FALSE(image.empty());
    // Neither the text nor a good part of it.
    EXPECT_EQ(image.find(keyText.substr(0, 24)), std::string::npos);
    EXPECT_EQ(image.find(keyText.substr(40, 24)), std::string::npos);
}

}  // namespace
