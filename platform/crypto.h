#pragma once
// SHA-256 and ECDSA P-256 verification on the platform's cryptography (CNG), Base64 via Crypt32.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"

// A SHA-256 fed piece by piece, for data that is never whole in memory. A failed step poisons it, so that
// finishing gives no digest rather than the digest of other bytes.
struct Sha256Stream {
    UniqueAlgorithmProvider provider;
    UniqueHashObject hash;
    bool failed = true;
};
// Starts (or starts over) a digest; false when the platform cannot hash.
bool startSha256(Sha256Stream& stream);
void addToSha256(Sha256Stream& stream, const uint8_t* data, size_t size);
// 64 lowercase hex digits of everything added; empty after any failure. The stream must be started again
// before further use.
std::string finishSha256Hex(Sha256Stream& stream);

// 64 lowercase hex digits; empty when the platform cannot hash.
std::string sha256Hex(const uint8_t* data, size_t size);
// 64 lowercase hex digits of the file's bytes, read in pieces; empty when it cannot be read or hashed.
std::string sha256OfFile(const std::wstring& path);
// The 32-byte digest; empty when the platform cannot hash.
std::vector<uint8_t> sha256Digest(const uint8_t* data, size_t size);
// The decoded bytes; empty when the text is not valid Base64.
std::vector<uint8_t> decodeBase64(const std::string& text);
// key: X||Y (64 bytes); signature: r||s (64 bytes) over SHA-256 of the message.
bool verifyEcdsaP256(const std::vector<uint8_t>& publicKey, const std::string& message,
                     const std::vector<uint8_t>& signature);
// True only when signatureText (Base64 of r||s) signs manifestText, byte for byte, with the built-in key.
bool verifyReleaseSignature(const std::string& manifestText, const std::string& signatureText);
