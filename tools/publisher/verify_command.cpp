// verify --public-key PUBLIC_KEY [--jobs N] RELEASE_DIR: checks a release as the product will: the signature,
// the manifest's rules, and every blob with its digests and unpacked content. Blobs are checked on a pool of
// workers; the first problem in manifest order is the one reported, whatever the number of workers.
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/manifest.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/blob_check.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/ordered_work.h"
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
std::string blobProblem(const std::filesystem::path& releaseDir, const ManifestFile& file, LzmsChunkDecoder& decoder,
                        std::atomic<uint64_t>& bytesDone) {
    const std::filesystem::path path = releaseDir / "blobs" / (file.sha256 + ".lzms");
    const std::string where = path.string() + " (for " + file.path + "): ";
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return where + "missing or unreadable";
    if (size != file.csize)
        return where + std::to_string(size) + " bytes, the manifest says csize " + std::to_string(file.csize);
    const BlobFacts facts = readBlobFacts(path, file.size, file.sha256, decoder, bytesDone);
    if (!facts.readable) return where + facts.problem;
    if (facts.csha256 != file.csha256) return where + "its SHA-256 is not the manifest's csha256";
    return facts.problem.empty() ? std::string() : where + facts.problem;
}

// Every blob of the manifest, on jobs workers; false with problem set at the first bad one.
bool checkBlobs(const std::filesystem::path& releaseDir, const Manifest& manifest, size_t jobs, std::string& problem) {
    Progress progress("verifying", manifest.files.size(), 0);
    for (const ManifestFile& file : manifest.files) progress.bytesTotal += file.size;
    const std::vector<UniqueLzmsChunkDecoder> decoders = newChunkDecoders(jobs);
    const auto work = [&](size_t worker, size_t index) {
        return blobProblem(releaseDir, manifest.files[index], *decoders[worker], progress.bytesDone);
    };
    const auto take = [&](size_t index, std::string& found) {
        problem = found;
        progress.filesDone = index + 1;
        progress.path = index + 1 < manifest.files.size() ? manifest.files[index + 1].path : "";
        showProgress(progress);
        return problem.empty();
    };
    if (!manifest.files.empty()) progress.path = manifest.files.front().path;
    std::string failure;
    const bool done = runInOrder<std::string>(manifest.files.size(), OrderedWorkSettings{jobs, 2 * jobs}, work,
                                              take, [&] { showProgress(progress); }, failure);
    clearProgressLine();
    if (!failure.empty()) problem = "checking the blobs failed: " + failure;
    return done;
}

}  // namespace

int runVerify(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {"public-key", "jobs"}, parsed, problem) || parsed.options.count("public-key") == 0 ||
        parsed.operands.size() != 1)
        return failUsage((problem.empty() ? "" : problem + "; ") +
                         "usage: maketor-publish verify --public-key PUBLIC_KEY [--jobs N] RELEASE_DIR");
    size_t jobs = 1;
    if (!parseJobs(parsed, jobs)) return fail("--jobs: a whole number from 1 to 256");
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
    if (!checkBlobs(releaseDir, manifest, jobs, problem)) return fail(problem);
    std::printf("%s: release %s, %zu files, signature and every blob verified\n", releaseDir.c_str(),
                manifest.version.c_str(), manifest.files.size());
    return 0;
}
