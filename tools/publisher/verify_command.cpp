// verify --public-key PUBLIC_KEY RELEASE_DIR: checks a release as the product will, and every blob in it.
#include <filesystem>

#include "engine/manifest.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
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
    return 0;
}
