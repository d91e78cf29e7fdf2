#include "tools/publisher/key_files.h"

#include "tools/publisher/file_io.h"

bool readPrivateKeyFile(const std::filesystem::path& path, UniquePkey& key, P256Pair& publicPoint,
                        std::string& problem) {
    std::string pem;
    if (!readWholeFile(path, pem)) {
        problem = path.string() + ": cannot be read";
        return false;
    }
    key = readP256PrivateKey(pem);
    if (!key) {
        problem = path.string() + ": not an unencrypted P-256 private key in PEM";
        return false;
    }
    if (!publicKeyPoint(key.get(), publicPoint)) {
        problem = path.string() + ": no public point";
        return false;
    }
    return true;
}

bool readPublicKeyFile(const std::filesystem::path& path, P256Pair& point, std::string& problem) {
    std::string text;
    if (!readWholeFile(path, text)) {
        problem = path.string() + ": cannot be read";
        return false;
    }
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    if (!decodeBase64(text, point)) {
        problem = path.string() + ": not a public key file (88 characters of Base64 of X||Y)";
        return false;
    }
    if (!isP256Point(point)) {
        problem = path.string() + ": X||Y is not a point of P-256";
        return false;
    }
    return true;
}
