#pragma once
// P-256 keys, signatures and SHA-256 with OpenSSL, in the forms the product reads: a public key is X||Y,
// a signature r||s (32 bytes each, big-endian), both kept as 88 characters of Base64.
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using P256Pair = std::array<uint8_t, 64>;  // X||Y or r||s

struct PkeyFreer {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyFreer>;

// The 88-character Base64 text (ending in "==") of 64 bytes.
std::string encodeBase64(const P256Pair& bytes);
// The 64 bytes of exactly that text; false for anything else, surrounding white space included.
bool decodeBase64(const std::string& text, P256Pair& bytes);

// A new P-256 key pair; null when OpenSSL cannot make one.
UniquePkey generateP256Key();
// The private key as unencrypted PKCS#8 PEM.
bool privateKeyPem(EVP_PKEY* key, std::string& pem);
// The public point X||Y of a P-256 key.
bool publicKeyPoint(EVP_PKEY* key, P256Pair& point);
// A P-256 private key from unencrypted PEM; null for anything else.
UniquePkey readP256PrivateKey(const std::string& pem);
// True when point is a point of P-256 (an X||Y that OpenSSL accepts as a public key).
bool isP256Point(const P256Pair& point);

// ECDSA over SHA-256 of message, as r||s.
bool signMessage(EVP_PKEY* key, const std::string& message, P256Pair& signature);
bool verifyMessage(const P256Pair& publicKey, const std::string& message, const P256Pair& signature);

// 64 lowercase hex digits.
std::string sha256Hex(const uint8_t* data, size_t size);
std::string sha256Hex(const std::string& bytes);

struct MdContextFreer {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using UniqueMdContext = std::unique_ptr<EVP_MD_CTX, MdContextFreer>;

// SHA-256 of bytes that arrive piece by piece.
struct Sha256Stream {
    Sha256Stream();
    void add(const void* data, size_t size);
    // 64 lowercase hex digits of everything added; empty if OpenSSL failed on the way.
    std::string finishHex();

    UniqueMdContext context;
    bool good = false;
};
