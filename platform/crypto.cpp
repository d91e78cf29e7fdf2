#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/file_system.h"
#include "platform/handles.h"
#include "platform/release_key.h"

namespace {

constexpr ULONG kDigestBytes = 32;
constexpr size_t kPointBytes = 64;      // X||Y, and r||s
constexpr ULONG kCoordinateBytes = 32;  // one of X, Y, r, s
// BCryptHashData takes a 32-bit length: larger buffers are hashed in pieces of this size.
constexpr size_t kHashPieceBytes = size_t(1) << 30;
// Files are hashed in pieces of this size, so memory stays flat whatever their length.
constexpr size_t kFilePieceBytes = size_t(1) << 20;

UniqueAlgorithmProvider openProvider(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0))) return {};
    return UniqueAlgorithmProvider(provider);
}

// The built-in key text: stored byte i XOR the low byte of the index hash of i.
std::string rebuildReleaseKeyText() {
    std::string text(kReleaseKeyTextLength, '\0');
    for (uint32_t i = 0; i < kReleaseKeyTextLength; ++i) {
        uint32_t hash = i * kReleaseKeyHash[0];
        hash ^= kReleaseKeyHash[1];
        hash ^= hash >> 15;
        hash *= kReleaseKeyHash[2];
        hash ^= hash >> 12;
        hash *= kReleaseKeyHash[3];
        hash ^= hash >> 15;
        text[i] = char(kScrambledReleaseKey[i] ^ uint8_t(hash));
    }
    return text;
}

}  // namespace

bool startSha256(Sha256Stream& stream) {
    stream.failed = true;
    stream.hash.reset();
    if (!stream.provider) stream.provider = openProvider(BCRYPT_SHA256_ALGORITHM);
    if (!stream.provider) return false;
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(stream.provider.get(), &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
    stream.hash.reset(rawHash);
    stream.failed = false;
    return true;
}

void addToSha256(Sha256Stream& stream, const uint8_t* data, size_t size) {
    for (size_t offset = 0; offset < size && !stream.failed;) {
        const ULONG piece = ULONG(std::min(size - offset, kHashPieceBytes));
        if (!BCRYPT_SUCCESS(BCryptHashData(stream.hash.get(), const_cast<PUCHAR>(data + offset), piece, 0)))
            stream.failed = true;
        offset += piece;
    }
}

namespace {

std::vector<uint8_t> finishSha256(Sha256Stream& stream) {
    std::vector<uint8_t> digest(kDigestBytes);
    const bool finished =
        !stream.failed && BCRYPT_SUCCESS(BCryptFinishHash(stream.hash.get(), digest.data(), kDigestBytes, 0));
    stream.failed = true;
    stream.hash.reset();
    if (!finished) digest.clear();
    return digest;
}

std::string hexOf(const std::vector<uint8_t>& digest) {
    static const char kHexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(digest.size() * 2);
    for (const uint8_t byte : digest) {
        hex += kHexDigits[byte >> 4];
        hex += kHexDigits[byte & 0x0F];
    }
    return hex;
}

}  // namespace

std::string finishSha256Hex(Sha256Stream& stream) { return hexOf(finishSha256(stream)); }

std::vector<uint8_t> sha256Digest(const uint8_t* data, size_t size) {
    Sha256Stream stream;
    if (!startSha256(stream)) return {};
    addToSha256(stream, data, size);
    return finishSha256(stream);
}

std::string sha256Hex(const uint8_t* data, size_t size) { return hexOf(sha256Digest(data, size)); }

std::string sha256OfFile(const std::wstring& path) {
    UniqueHandle file = openForReading(path);
    Sha256Stream hash;
    if (!file || !startSha256(hash)) return {};
    std::vector<uint8_t> piece(kFilePieceBytes);
    for (;;) {
        size_t got = 0;
        if (!readUpTo(file.get(), piece.data(), piece.size(), got)) return {};
        if (got == 0) return finishSha256Hex(hash);
        addToSha256(hash, piece.data(), got);
    }
}

std::vector<uint8_t> decodeBase64(const std::string& text) {
    // The decoder takes a 32-bit length; a zero length would mean "up to the first NUL".
    if (text.empty() || text.size() > MAXDWORD) return {};
    const DWORD textLength = DWORD(text.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.data(), textLength, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr) ||
        size == 0)
        return {};
    std::vector<uint8_t> bytes(size);
    if (!CryptStringToBinaryA(text.data(), textLength, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr, nullptr))
        return {};
    bytes.resize(size);
    return bytes;
}

bool verifyEcdsaP256(const std::vector<uint8_t>& publicKey, const std::string& message,
                     const std::vector<uint8_t>& signature) {
    if (publicKey.size() != kPointBytes || signature.size() != kPointBytes) return false;
    const UniqueAlgorithmProvider provider = openProvider(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!provider) return false;

    std::array<uint8_t, sizeof(BCRYPT_ECCKEY_BLOB) + kPointBytes> keyBlob{};
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
    std::memcpy(keyBlob.data(), &header, sizeof header);
    std::memcpy(keyBlob.data() + sizeof header, publicKey.data(), kPointBytes);
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &rawKey, keyBlob.data(),
                                            ULONG(keyBlob.size()), 0)))
        return false;
    const UniqueCryptoKey key(rawKey);

    const std::vector<uint8_t> digest =
        sha256Digest(reinterpret_cast<const uint8_t*>(message.data()), message.size());
    if (digest.size() != kDigestBytes) return false;
    return BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest.data()), kDigestBytes,
                                                const_cast<PUCHAR>(signature.data()), ULONG(signature.size()), 0));
}

bool verifyReleaseSignature(const std::string& manifestText, const std::string& signatureText) {
    const std::vector<uint8_t> signature = decodeBase64(signatureText);
    std::vector<uint8_t> publicKey;
    {
        const std::string keyText = rebuildReleaseKeyText();
        publicKey = decodeBase64(keyText);
    }  // the clear key text lives only for its decoding
    return verifyEcdsaP256(publicKey, manifestText, signature);
}
