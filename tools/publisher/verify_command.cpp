// verify --public-key PUBLIC_KEY [--jobs N] [--previous DIR]... RELEASE_DIR: checks a release as the product
// will: the signature, the manifest's rules, every blob with its digests and unpacked content, every patch
// with its digest, applied to its old file, and every pack with every blob inside it. Files are checked on a pool of workers; the first problem in
// manifest order is the one reported, whatever the number of workers.
//
// A manifest that names an expiry is reported with it, and fails once that time has passed: clients refuse it
// a day later at most.
//
// A patch's old file is the blob named by its "from" in RELEASE_DIR (where earlier releases' blobs stay) or
// in a --previous folder. A patch whose old file is in none of them is checked for its digest only, and the
// run says how many were not applied: a mirror may hold the new release alone.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/manifest.h"
#include "engine/release_freshness.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/blob_check.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/key_files.h"
#include "tools/publisher/ordered_work.h"
#include "tools/publisher/pack_check.h"
#include "tools/publisher/patch_check.h"
#include "tools/publisher/previous_release.h"
#include "tools/publisher/progress.h"
#include "tools/publisher/signing.h"

namespace {

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

// Folders that may hold the old files of patches: the release's own, then those of --previous.
using OldFileFolders = std::vector<std::filesystem::path>;

// Empty when every patch of the file is there with its size and digest and, where its old file is found,
// yields the file. Patches whose old file is nowhere are counted in unapplied.
std::string patchesProblem(const std::filesystem::path& releaseDir, const OldFileFolders& folders,
                           const ManifestFile& file, std::atomic<size_t>& unapplied) {
    if (!file.patchesProblem.empty()) return file.path + ": " + file.patchesProblem;
    for (const FilePatch& patch : file.patches) {
        const std::filesystem::path path = releaseDir / "patches" / (patch.sha256 + ".zst");
        const std::string where = path.string() + " (for " + file.path + " from " + patch.from + "): ";
        std::string bytes;
        if (!readWholeFile(path, bytes)) return where + "missing or unreadable";
        if (bytes.size() != patch.size)
            return where + std::to_string(bytes.size()) + " bytes, the manifest says size " + std::to_string(patch.size);
        if (sha256Hex(bytes) != patch.sha256) return where + "its SHA-256 is not the manifest's sha256";
        const auto holder = std::find_if(folders.begin(), folders.end(), [&](const std::filesystem::path& folder) {
            return std::filesystem::exists(folder / "blobs" / (patch.from + ".lzms"));
        });
        if (holder == folders.end()) {
            unapplied += 1;
            continue;
        }
        UnpackedBlob old;
        std::string problem;
        if (!readOldFile(*holder, patch.from, old, problem) ||
            !patchYields(old.bytes.get(), size_t(old.size), reinterpret_cast<const uint8_t*>(bytes.data()),
                         bytes.size(), file.size, file.sha256, problem))
            return where + problem;
    }
    return {};
}

// Every blob and patch of the manifest, on jobs workers; false with problem set at the first bad one.
bool checkBlobs(const std::filesystem::path& releaseDir, const OldFileFolders& folders, const Manifest& manifest,
                size_t jobs, std::atomic<size_t>& unapplied, std::string& problem) {
    Progress progress("verifying", manifest.files.size(), 0);
    for (const ManifestFile& file : manifest.files) progress.bytesTotal += file.size;
    const std::vector<UniqueLzmsChunkDecoder> decoders = newChunkDecoders(jobs);
    const auto work = [&](size_t worker, size_t index) {
        const std::string found = blobProblem(releaseDir, manifest.files[index], *decoders[worker], progress.bytesDone);
        return found.empty() ? patchesProblem(releaseDir, folders, manifest.files[index], unapplied) : found;
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
    if (!parseArguments(arguments, {"public-key", "jobs"}, parsed, problem, {"previous"}) ||
        parsed.options.count("public-key") == 0 || parsed.operands.size() != 1)
        return failUsage((problem.empty() ? "" : problem + "; ") +
                         "usage: maketor-publish verify --public-key PUBLIC_KEY [--jobs N] [--previous DIR]... "
                         "RELEASE_DIR");
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
    if (!manifest.expires.empty() && currentUtcSeconds() >= manifest.expiresAt)
        return fail(manifestPath.string() + ": expired at " + manifest.expires +
                    "; clients refuse it from a day later on: sign it again (maketor-publish resign)");
    OldFileFolders folders{releaseDir};
    for (const std::string& folder : parsed.lists["previous"]) folders.push_back(folder);
    std::atomic<size_t> unapplied{0};
    if (!checkBlobs(releaseDir, folders, manifest, jobs, unapplied, problem)) return fail(problem);
    problem = packsProblem(releaseDir, manifest);
    if (!problem.empty()) return fail(problem);
    size_t patches = 0;
    for (const ManifestFile& file : manifest.files) patches += file.patches.size();
    std::printf("%s: release %s, %zu files, signature and every blob verified", releaseDir.c_str(),
                manifest.version.c_str(), manifest.files.size());
    if (!manifest.packs.empty()) std::printf(", %zu packs", manifest.packs.size());
    if (patches > 0) std::printf(", %zu patches applied to their old files", patches - unapplied.load());
    if (!manifest.expires.empty()) std::printf(", expires %s", manifest.expires.c_str());
    std::printf("\n");
    if (unapplied.load() > 0)
        std::fprintf(stderr, "maketor-publish: %zu patches not applied: their old files are in no folder given "
                             "(--previous DIR); their digests hold\n", unapplied.load());
    return 0;
}
