// release --key PRIVATE_KEY --version VERSION [--date DATE] [--block-size BYTES] SOURCE_DIR RELEASE_DIR:
// every regular file below SOURCE_DIR becomes a blob and a manifest entry; then the signed manifest.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/manifest.h"
#include "platform/lzms_container.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/blob_unpack.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/lzms_compress.h"
#include "tools/publisher/progress.h"
#include "tools/publisher/signing.h"

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::ordered_json;

struct SourceFile {
    std::string path;  // as the manifest names it: relative, "/" between folders, UTF-8
    fs::path location;
    uint64_t size = 0;
};

bool isUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();  // the JSON writer refuses anything but UTF-8
        return true;
    } catch (const Json::exception&) {
        return false;
    }
}

bool parseBlockSize(const std::string& text, uint64_t& blockSize) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    blockSize = std::stoull(text);
    return blockSize > 0 && blockSize <= kLzmsMaxChunkSize;
}

std::string todayUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

// Why the product could not take this path, or why it would mean another file on Windows; empty if fine.
std::string sourcePathProblem(const std::string& path) {
    if (!isUtf8(path)) return "is not UTF-8";
    const std::string ruleProblem = manifestPathProblem(path);
    if (!ruleProblem.empty()) return ruleProblem + ", which the manifest rules refuse";
    if (path.find('\\') != std::string::npos) return "contains \"\\\", a folder separator on Windows";
    return {};
}

// Every regular file below source, in byte order of the manifest path. Stops at the first path that the
// release could not carry.
bool listSourceFiles(const fs::path& source, std::vector<SourceFile>& files, std::string& problem) {
    std::error_code error;
    if (!fs::is_directory(source, error)) {
        problem = source.string() + ": not a folder";
        return false;
    }
    for (fs::recursive_directory_iterator entry(source, error), end; !error && entry != end; entry.increment(error)) {
        if (!entry->is_regular_file(error)) continue;
        SourceFile file;
        file.location = entry->path();
        file.path = file.location.lexically_relative(source).generic_string();
        file.size = entry->file_size(error);
        const std::string pathProblem = sourcePathProblem(file.path);
        if (!pathProblem.empty()) {
            problem = file.location.string() + ": path \"" + file.path + "\" " + pathProblem;
            return false;
        }
        files.push_back(std::move(file));
    }
    if (error) {
        problem = source.string() + ": cannot be listed: " + error.message();
        return false;
    }
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    // Windows file names ignore letter case: two such paths would be one installed file.
    std::map<std::string, const SourceFile*> byIdentity;
    for (const SourceFile& file : files) {
        const auto added = byIdentity.emplace(manifestPathIdentity(file.path), &file);
        if (!added.second) {
            problem = file.location.string() + ": path \"" + file.path + "\" differs from \"" +
                      added.first->second->path + "\" only in letter case, one file on Windows";
            return false;
        }
    }
    if (files.empty()) problem = source.string() + ": holds no regular file to release";
    return !files.empty();
}

struct BlobWork {
    size_t written = 0;
    size_t reused = 0;
};

// Makes (or finds) the blob of one file and returns its manifest entry; false with problem on failure.
bool publishFile(const SourceFile& source, const fs::path& blobsDir, uint64_t blockSize, Json& entry,
                 BlobWork& work, std::string& problem) {
    std::string content;
    if (!readWholeFile(source.location, content)) {
        problem = source.location.string() + ": cannot be read";
        return false;
    }
    const std::string sha256 = sha256Hex(content);
    const fs::path blobPath = blobsDir / (sha256 + ".lzms");
    std::string blob;
    if (readWholeFile(blobPath, blob) && blobContentProblem(blob, content.size(), sha256).empty()) {
        work.reused += 1;
    } else {
        std::vector<uint8_t> packed;
        if (!compressLzmsBlob(reinterpret_cast<const uint8_t*>(content.data()), content.size(), blockSize, packed)) {
            problem = source.location.string() + ": the LZMS compressor failed";
            return false;
        }
        if (!writeFileReplacing(blobPath, packed.data(), packed.size())) {
            problem = blobPath.string() + ": cannot be written";
            return false;
        }
        blob.assign(packed.begin(), packed.end());
        work.written += 1;
    }
    entry = Json{{"path", source.path},
                 {"size", uint64_t(content.size())},
                 {"sha256", sha256},
                 {"csize", uint64_t(blob.size())},
                 {"csha256", sha256Hex(blob)}};
    return true;
}

}  // namespace

int runRelease(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {"key", "version", "date", "block-size"}, parsed, problem) ||
        parsed.options.count("key") == 0 || parsed.options.count("version") == 0 || parsed.operands.size() != 2)
        return failUsage((problem.empty() ? "" : problem + "; ") +
                         "usage: maketor-publish release --key PRIVATE_KEY --version VERSION [--date DATE] "
                         "[--block-size BYTES] SOURCE_DIR RELEASE_DIR");
    const std::string version = parsed.options["version"];
    const std::string date = parsed.options.count("date") ? parsed.options["date"] : todayUtc();
    uint64_t blockSize = kLzmsMaxChunkSize;
    if (parsed.options.count("block-size") && !parseBlockSize(parsed.options["block-size"], blockSize))
        return fail("--block-size: a whole number of bytes from 1 to " + std::to_string(kLzmsMaxChunkSize));
    if (version.empty() || !isUtf8(version)) return fail("--version: an empty or non-UTF-8 version");
    if (!isUtf8(date)) return fail("--date: not UTF-8");
    const fs::path keyPath = parsed.options["key"];
    const fs::path sourceDir = parsed.operands[0];
    const fs::path releaseDir = parsed.operands[1];

    std::string pem;
    if (!readWholeFile(keyPath, pem)) return fail(keyPath.string() + ": cannot be read");
    const UniquePkey key = readP256PrivateKey(pem);
    if (!key) return fail(keyPath.string() + ": not an unencrypted P-256 private key in PEM");
    std::vector<SourceFile> sources;
    if (!listSourceFiles(sourceDir, sources, problem)) return fail(problem);
    const fs::path blobsDir = releaseDir / "blobs";
    std::error_code error;
    fs::create_directories(blobsDir, error);
    if (error) return fail(blobsDir.string() + ": cannot be created: " + error.message());

    Json files = Json::array();
    BlobWork work;
    Progress progress{"releasing"};
    progress.filesTotal = sources.size();
    for (const SourceFile& source : sources) progress.bytesTotal += source.size;
    for (const SourceFile& source : sources) {
        showProgress(progress, source.path);
        Json entry;
        if (!publishFile(source, blobsDir, blockSize, entry, work, problem)) return fail(problem);
        files.push_back(std::move(entry));
        advanceProgress(progress, source.size);
    }
    clearProgressLine();

    const Json document = {{"app", "maketor"}, {"version", version}, {"date", date}, {"exe", "maketor.exe"},
                           {"files", std::move(files)}};
    const std::string manifestText = document.dump(1) + "\n";
    Manifest check;
    if (!parseManifest(manifestText, check, problem)) return fail("the new manifest breaks a rule: " + problem);
    P256Pair signature;
    if (!signMessage(key.get(), manifestText, signature)) return fail("OpenSSL could not sign the manifest");
    if (!writeFileReplacing(releaseDir / "manifest.json", manifestText))
        return fail((releaseDir / "manifest.json").string() + ": cannot be written");
    if (!writeFileReplacing(releaseDir / "manifest.sig", encodeBase64(signature)))
        return fail((releaseDir / "manifest.sig").string() + ": cannot be written");
    std::printf("%s: release %s, %zu files, %zu blobs written, %zu reused\n", releaseDir.c_str(), version.c_str(),
                sources.size(), work.written, work.reused);
    return 0;
}
