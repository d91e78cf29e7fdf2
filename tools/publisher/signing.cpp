#include "tools/publisher/signing.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>

#include <cstring>
#include <vector>

namespace {

constexpr size_t kCoordinateBytes = 32;
constexpr size_t kBase64Length = 88;
const char kCurveName[] = "prime256v1";

struct PkeyContextFreer {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using UniquePkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFreer>;
struct BioFreer {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using UniqueBio = std::unique_ptr<BIO, BioFreer>;
struct EcdsaSigFreer {
    void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
using UniqueEcdsaSig = std::unique_ptr<ECDSA_SIG, EcdsaSigFreer>;
struct BignumFreer {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
using UniqueBignum = std::unique_ptr<BIGNUM, BignumFreer>;

bool isBase64Digit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// A key that holds the public point only.
UniquePkey publicKeyFromPoint(const P256Pair& point) {
    unsigned char encoded[1 + 64];
    encoded[0] = 0x04;  // uncompressed point
    std::memcpy(encoded + 1, point.data(), point.size());
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(kCurveName), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded),
        OSSL_PARAM_construct_end(),
    };
    const UniquePkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return {};
    return UniquePkey(key);
}

}  // namespace

std::string encodeBase64(const P256Pair& bytes) {
    unsigned char text[kBase64Length + 1];
    const int length = EVP_EncodeBlock(text, bytes.data(), int(bytes.size()));
    return std::string(reinterpret_cast<const char*>(text), size_t(length));
}

bool decodeBase64(const std::string& text, P256Pair& bytes) {
    // 86 digits, the last carrying 2 bits and four zero bits, then "==": the one spelling of 64 bytes.
    if (text.size() != kBase64Length || text.compare(86, 2, "==") != 0) return false;
    for (size_t i = 0; i < 86; ++i) {
        if (!isBase64Digit(text[i])) return false;
    }
    if (std::strchr("AQgw", text[85]) == nullptr) return false;
    unsigned char decoded[66];
    if (EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(text.data()), int(text.size())) != 66)
        return false;
    std::memcpy(bytes.data(), decoded, bytes.size());
    return true;
}

UniquePkey generateP256Key() { return UniquePkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")); }

bool privateKeyPem(EVP_PKEY* key, std::string& pem) {
    const UniqueBio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) return false;
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    if (length <= 0) return false;
    pem.assign(data, size_t(length));
    return true;
}

bool publicKeyPoint(EVP_PKEY* key, P256Pair& point) {
    unsigned char encoded[1 + 64];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded, &length) != 1 ||
        length != sizeof encoded || encoded[0] != 0x04)
        return false;
    std::memcpy(point.data(), encoded + 1, point.size());
    return true;
}

UniquePkey readP256PrivateKey(const std::string& pem) {
    if (pem.size() > size_t(INT32_MAX)) return {};
    const UniqueBio bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    if (!bio) return {};
    // No pass phrase callback: an encrypted key is refused rather than prompted for.
    UniquePkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr));
    char group[32] = {};
    size_t groupLength = 0;
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &groupLength) != 1 ||
        std::strcmp(group, kCurveName) != 0)
        return {};
    return key;
}

bool isP256Point(const P256Pair& point) { return publicKeyFromPoint(point) != nullptr; }

bool signMessage(EVP_PKEY* key, const std::string& message, P256Pair& signature) {
    const UniqueMdContext context(EVP_MD_CTX_new());
    size_t derLength = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &derLength, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1)
        return false;
    std::vector<unsigned char> der(derLength);
    if (EVP_DigestSign(context.get(), der.data(), &derLength, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1)
        return false;
    const unsigned char* cursor = der.data();
    const UniqueEcdsaSig parsed(d2i_ECDSA_SIG(nullptr, &cursor, long(derLength)));
    if (!parsed) return false;
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(parsed.get(), &r, &s);
    return BN_bn2binpad(r, signature.data(), kCoordinateBytes) == int(kCoordinateBytes) &&
           BN_bn2binpad(s, signature.data() + kCoordinateBytes, kCoordinateBytes) == int(kCoordinateBytes);
}

bool verifyMessage(const P256Pair& publicKey, const std::string& message, const P256Pair& signature) {
    const UniquePkey key = publicKeyFromPoint(publicKey);
    if (!key) return false;
    UniqueBignum r(BN_bin2bn(signature.data(), kCoordinateBytes, nullptr));
    UniqueBignum s(BN_bin2bn(signature.data() + kCoordinateBytes, kCoordinateBytes, nullptr));
    const UniqueEcdsaSig parsed(ECDSA_SIG_new());
    if (!r || !s || !parsed || ECDSA_SIG_set0(parsed.get(), r.get(), s.get()) != 1) return false;
    r.release();  // owned by parsed now
    s.release();
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(parsed.get(), &der);
    if (derLength <= 0) return false;
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* bytes) { OPENSSL_free(bytes); });
    const UniqueMdContext context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), der, size_t(derLength), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

namespace {

std::string hexDigits(const unsigned char* bytes, unsigned int length) {
    static const char kHexDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHexDigits[bytes[i] >> 4];
        hex += kHexDigits[bytes[i] & 0x0F];
    }
    return hex;
}

}  // namespace

std::string sha256Hex(const uint8_t* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1) return {};
    return hexDigits(digest, length);
}

Sha256Stream::Sha256Stream() : context(EVP_MD_CTX_new()) {
    good = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
}

void Sha256Stream::add(const void* data, size_t size) {
    good = good && EVP_DigestUpdate(context.get(), data, size) == 1;
}

std::string Sha256Stream::finishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    good = good && EVP_DigestFinal_ex(context.get(), digest, &length) == 1;
    return good ? hexDigits(digest, length) : std::string();
}

std::string sha256Hex(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
