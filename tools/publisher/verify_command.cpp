// verify --public-key PUBLIC_KEY RELEASE_DIR: checks a release as the product will: the signature, the
// manifest's rules, and every blob with its digests and unpacked content.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/manifest.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/blob_unpack.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/progress.h"
#include "tools/publisher/signing.h"

namespace {

// The build's key file form: the 88-character Base64 of X||Y, a trailing line break allowed.
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

// Empty when the file's blob is there with the manifest's csize and csha256 and unpacks to the file.
std::string blobProblem(const std::filesystem::path& releaseDir, const ManifestFile& file) {
    const std::string name = "blobs/" + file.sha256 + ".lzms";
    const std::string where = (releaseDir / name).string() + " (for " + file.path + "): ";
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(releaseDir / name, error);
    if (error) return where + "missing or unreadable";
    if (size != file.csize)
        return where + std::to_string(size) + " bytes, the manifest says csize " + std::to_string(file.csize);
    std::string blob;
    if (!readWholeFile(releaseDir / name, blob)) return where + "cannot be read";
    if (sha256Hex(blob) != file.csha256) return where + "its SHA-256 is not the manifest's csha256";
    const std::string contentProblem = blobContentProblem(blob, file.size, file.sha256);
    return contentProblem.empty() ? std::string() : where + contentProblem;
}

}  // namespace

int runVerify(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {"public-key"}, parsed, problem) || parsed.options.count("public-key") == 0 ||
        parsed.operands.size() != 1)
        return failUsage((problem.empty() ? "" : problem + "; ") +
                         "usage: maketor-publish verify --public-key PUBLIC_KEY RELEASE_DIR");
    const std::filesystem::path releaseDir = parsed.operands[0];
    const std::filesystem::path manifestPath = releaseDir / "manifest.json";
    const std::filesystem::path signaturePath = releaseDir / "manifest.sig";

    P256Pair publicKey;
    if (!readPublicKeyFile(parsed.options["public-key"], publicKey, problem)) return fail(problem);
    std::string manifestText;
    std::string signatureText;
    if (!readWholeFile(manifestPath, manifestText)) return fail(manifestPath.string() + ": cannot be read");
    if (!readWholeFile(signaturePath, signatureText)) return fail(signaturePath.string() + ": cannot be read");
    P256Pair signature;
    if (!decodeBase64(signatureText, signature))
        return fail(signaturePath.string() + ": not the bare 88-character Base64 text of r||s");
    if (!verifyMessage(publicKey, manifestText, signature))
        return fail(signaturePath.string() + ": does not sign the bytes of manifest.json with this public key");
    Manifest manifest;
    if (!parseManifest(manifestText, manifest, problem)) return fail(manifestPath.string() + ": " + problem);

    Progress progress{"verifying"};
    progress.filesTotal = manifest.files.size();
    for (const ManifestFile& file : manifest.files) progress.bytesTotal += file.size;
    for (const ManifestFile& file : manifest.files) {
        showProgress(progress, file.path);
        problem = blobProblem(releaseDir, file);
        if (!problem.empty()) return fail(problem);
        advanceProgress(progress, file.size);
    }
    clearProgressLine();
    std::printf("%s: release %s, %zu files, signature and every blob verified\n", releaseDir.c_str(),
                manifest.version.c_str(), manifest.files.size());
    return 0;
}
