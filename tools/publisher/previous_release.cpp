#include "tools/publisher/previous_release.h"

#include "tools/publisher/file_io.h"

bool readPreviousRelease(const std::filesystem::path& folder, const P256Pair& publicKey, PreviousRelease& release,
                         std::string& problem) {
    const std::filesystem::path manifestPath = folder / "manifest.json";
    const std::filesystem::path signaturePath = folder / "manifest.sig";
    std::string manifestText;
    std::string signatureText;
    P256Pair signature;
    if (!readWholeFile(manifestPath, manifestText) || !readWholeFile(signaturePath, signatureText)) {
        problem = folder.string() + ": no published release (manifest.json and manifest.sig)";
        return false;
    }
    if (!decodeBase64(signatureText, signature) || !verifyMessage(publicKey, manifestText, signature)) {
        problem = signaturePath.string() + ": does not sign manifest.json with this release key";
        return false;
    }
    release.folder = folder;
    release.manifestText = manifestText;
    if (!parseManifest(manifestText, release.manifest, problem)) {
        problem = manifestPath.string() + ": " + problem;
        return false;
    }
    return true;
}

bool readOldFile(const std::filesystem::path& folder, const std::string& sha256, UnpackedBlob& content,
                 std::string& problem) {
    const std::filesystem::path path = folder / "blobs" / (sha256 + ".lzms");
    std::string blob;
    if (!readWholeFile(path, blob)) {
        problem = path.string() + ": missing or unreadable";
        return false;
    }
    if (!unpackBlob(blob, content, problem)) {
        problem = path.string() + ": " + problem;
        return false;
    }
    if (sha256Hex(content.bytes.get(), size_t(content.size)) != sha256) {
        problem = path.string() + ": does not unpack to the file its name says";
        return false;
    }
    return true;
}
