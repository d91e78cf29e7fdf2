#include "engine/manifest.h"

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "engine/file_name_case.h"
#include "engine/release_freshness.h"

namespace {

using Json = nlohmann::json;

constexpr size_t kHexDigestLength = 64;

// What the setup program itself keeps in the installation folder, in identity form (manifestPathIdentity):
// the install record and the commit journal, each with the ".new" it is written through, and the download
// cache. A release file of such a name would be overwritten by the program, or overwrite its state.
const char* const kSetupOwnFiles[] = {"INSTALL.JSON", "INSTALL.JSON.NEW", "INSTALL-COMMIT.JSON",
                                      "INSTALL-COMMIT.JSON.NEW"};
const std::string kDownloadCacheIdentity = "UPDATE-CACHE";
// A staged file is its target's name with this suffix.
const char kStagedSuffixIdentity[] = ".NEW";

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }
std::string entryName(size_t index) { return "files[" + std::to_string(index) + "]"; }

// A string member; fallback is taken when the key is absent, and nullptr makes the key required.
bool readString(const Json& object, const char* key, const char* fallback, std::string& value, std::string& problem) {
    const auto found = object.find(key);
    if (found == object.end()) {
        if (fallback == nullptr) {
            problem = inQuotes(key) + " is missing";
            return false;
        }
        value = fallback;
        return true;
    }
    if (!found->is_string()) {
        problem = inQuotes(key) + " is not a string";
        return false;
    }
    value = found->get<std::string>();
    return true;
}

// A byte count: an integer as it stands, a fraction truncated toward zero. Negative values and values
// beyond 64 bits have no meaning as a size, and truncating them would be undefined: they are refused.
bool readSize(const Json& object, const char* key, uint64_t& value, std::string& problem) {
    const auto found = object.find(key);
    if (found == object.end()) {
        problem = inQuotes(key) + " is missing";
        return false;
    }
    if (found->is_number_unsigned()) {
        value = found->get<uint64_t>();
        return true;
    }
    if (found->is_number_float()) {
        const double number = found->get<double>();
        if (number >= 0.0 && number < 18446744073709551616.0) {
            value = uint64_t(number);
            return true;
        }
    }
    problem = inQuotes(key) + (found->is_number() ? " is not a size in bytes" : " is not a number");
    return false;
}

// Digests name blobs on the host and in the download cache, so only the exact form is let through.
bool readDigest(const Json& object, const char* key, std::string& value, std::string& problem) {
    if (!readString(object, key, nullptr, value, problem)) return false;
    const bool wellFormed = value.size() == kHexDigestLength &&
                            value.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (!wellFormed) problem = inQuotes(key) + " is not 64 lowercase hex digits";
    return wellFormed;
}

// Patches only save bytes, and every copy installed before them ignores the key: a malformed "patches" value
// costs its entry the patches (the full blob stays), never the release.
void readPatches(const Json& entry, ManifestFile& file) {
    const auto found = entry.find("patches");
    if (found == entry.end()) return;
    std::string problem;
    std::vector<FilePatch> patches;
    if (!found->is_array()) problem = "\"patches\" is not an array";
    for (size_t index = 0; problem.empty() && found->is_array() && index < found->size(); ++index) {
        const Json& element = (*found)[index];
        FilePatch patch;
        if (!element.is_object())
            problem = "is not an object";
        else if (readDigest(element, "from", patch.from, problem) && readSize(element, "size", patch.size, problem) &&
                 readDigest(element, "sha256", patch.sha256, problem))
            patches.push_back(std::move(patch));
        if (!problem.empty()) problem = "patches[" + std::to_string(index) + "]: " + problem;
    }
    if (problem.empty())
        file.patches = std::move(patches);
    else
        file.patchesProblem = problem;
}

// Why a blob of a pack cannot lie where it says (empty when it can); end: where the blob before it ends.
std::string packedBlobProblem(const PackedBlob& blob, const ReleasePack& pack, uint64_t end) {
    if (blob.offset < end) return "overlaps the blob before it";
    if (blob.csize > pack.size || blob.offset > pack.size - blob.csize) return "reaches beyond the pack's size";
    return {};
}

// One pack's description; blobOf gives the file entry whose digest names a blob.
bool readPack(const Json& element, const std::unordered_map<std::string, const ManifestFile*>& blobOf,
              ReleasePack& pack, std::string& problem) {
    if (!element.is_object()) {
        problem = "is not an object";
        return false;
    }
    if (!readDigest(element, "sha256", pack.sha256, problem) || !readSize(element, "size", pack.size, problem))
        return false;
    const auto blobs = element.find("blobs");
    if (blobs == element.end() || !blobs->is_array() || blobs->empty()) {
        problem = "\"blobs\" is not a list of blobs";
        return false;
    }
    uint64_t end = 0;  // of the blob before
    for (size_t index = 0; index < blobs->size(); ++index) {
        const Json& blob = (*blobs)[index];
        PackedBlob packed;
        if (!blob.is_object()) {
            problem = "is not an object";
        } else if (readDigest(blob, "sha256", packed.sha256, problem) &&
                   readSize(blob, "offset", packed.offset, problem)) {
            const auto file = blobOf.find(packed.sha256);
            if (file == blobOf.end()) {
                problem = "names no file of the release";
            } else {
                packed.csize = file->second->csize;
                packed.csha256 = file->second->csha256;
                problem = packedBlobProblem(packed, pack, end);
            }
        }
        if (!problem.empty()) {
            problem = "blobs[" + std::to_string(index) + "]: " + problem;
            return false;
        }
        end = packed.offset + packed.csize;
        pack.blobs.push_back(std::move(packed));
    }
    return true;
}

// Packs only save requests, and every copy installed before them ignores the key: a malformed "packs" value
// costs the release its packs (each blob is served on its own too), never the release.
void readPacks(const Json& document, Manifest& manifest) {
    manifest.packs.clear();
    manifest.packsProblem.clear();
    const auto found = document.find("packs");
    if (found == document.end()) return;
    std::unordered_map<std::string, const ManifestFile*> blobOf;
    for (const ManifestFile& file : manifest.files) blobOf.emplace(file.sha256, &file);
    std::unordered_set<std::string> placed;
    std::string problem;
    std::vector<ReleasePack> packs;
    if (!found->is_array()) problem = "\"packs\" is not an array";
    for (size_t index = 0; problem.empty() && found->is_array() && index < found->size(); ++index) {
        ReleasePack pack;
        if (readPack((*found)[index], blobOf, pack, problem)) {
            for (const PackedBlob& blob : pack.blobs) {
                // One place for each blob: a client that needs it must know which bytes to ask for.
                if (!placed.insert(blob.sha256).second) {
                    problem = "blob " + blob.sha256 + " is in more than one place";
                    break;
                }
            }
            packs.push_back(std::move(pack));
        }
        if (!problem.empty()) problem = "packs[" + std::to_string(index) + "]: " + problem;
    }
    if (problem.empty())
        manifest.packs = std::move(packs);
    else
        manifest.packsProblem = problem;
}

// Copies installed before the key ignore it. A vendor who names an expiry wants it kept, so a value that is
// not a UTC time refuses the manifest rather than letting it run on for ever.
bool readExpiry(const Json& document, Manifest& manifest, std::string& problem) {
    if (document.find("expires") == document.end()) return true;
    if (!readString(document, "expires", nullptr, manifest.expires, problem)) return false;
    if (parseUtcTime(manifest.expires, manifest.expiresAt)) return true;
    problem = "\"expires\" is " + inQuotes(manifest.expires) + ", not a UTC time as YYYY-MM-DDTHH:MM:SSZ";
    return false;
}

bool readFile(const Json& entry, ManifestFile& file, std::string& problem) {
    if (!entry.is_object()) {
        problem = "is not an object";
        return false;
    }
    if (!readString(entry, "path", nullptr, file.path, problem) || !readSize(entry, "size", file.size, problem) ||
        !readDigest(entry, "sha256", file.sha256, problem) || !readSize(entry, "csize", file.csize, problem) ||
        !readDigest(entry, "csha256", file.csha256, problem))
        return false;
    const std::string pathProblem = manifestPathProblem(file.path);
    if (!pathProblem.empty()) {
        problem = "path " + inQuotes(file.path) + " " + pathProblem;
        return false;
    }
    readPatches(entry, file);
    return true;
}

bool readManifest(const Json& document, Manifest& manifest, std::string& problem) {
    if (!document.is_object()) {
        problem = "the manifest is not a JSON object";
        return false;
    }
    std::string app;
    if (!readString(document, "app", "", app, problem)) return false;
    if (app != "maketor") {
        problem = "\"app\" is " + inQuotes(app) + ", not \"maketor\"";
        return false;
    }
    if (!readString(document, "version", "", manifest.version, problem) ||
        !readString(document, "date", "", manifest.date, problem) ||
        !readString(document, "exe", "maketor.exe", manifest.exe, problem) ||
        !readExpiry(document, manifest, problem))
        return false;

    manifest.files.clear();
    const auto files = document.find("files");
    if (files == document.end() || !files->is_array()) {
        problem = files == document.end() ? "\"files\" is missing" : "\"files\" is not an array";
        return false;
    }
    std::vector<std::string> paths;
    for (const Json& entry : *files) {
        const size_t index = manifest.files.size();
        ManifestFile file;
        if (!readFile(entry, file, problem)) {
            problem = entryName(index) + ": " + problem;
            return false;
        }
        paths.push_back(file.path);
        manifest.files.push_back(std::move(file));
    }
    // Two entries that name one file on Windows would leave one file on disk and two digests in the record.
    PathClash clash;
    if (findPathClash(paths, clash)) {
        problem = entryName(clash.later) + ": path " + inQuotes(paths[clash.later]) + " " + pathClashWords(clash.kind) +
                  " " + entryName(clash.earlier) + " " + inQuotes(paths[clash.earlier]);
        return false;
    }
    if (manifest.version.empty()) {
        problem = "\"version\" is empty";
        return false;
    }
    if (manifest.files.empty()) {
        problem = "\"files\" is empty";
        return false;
    }
    readPacks(document, manifest);
    return true;
}

}  // namespace

std::string manifestPathProblem(const std::string& path) {
    if (path.empty()) return "is empty";
    if (path.find("..") != std::string::npos) return "contains \"..\"";
    if (path.front() == '/' || path.front() == '\\') return "begins with a separator";
    if (path.find(':') != std::string::npos) return "contains \":\"";
    // No Windows file name holds a control character; a NUL would even cut the name short.
    for (const char byte : path) {
        if (uint8_t(byte) < 0x20 || byte == 0x7F) return "contains a control character";
    }
    // Windows drops a name's trailing dots and spaces: "a." is the file "a".
    for (size_t end = path.find_first_of("/\\"); ; end = path.find_first_of("/\\", end + 1)) {
        const size_t last = (end == std::string::npos ? path.size() : end) - 1;
        if (last < path.size() && (path[last] == '.' || path[last] == ' ')) return "has a name ending in a dot or a space";
        if (end == std::string::npos) break;
    }
    const std::string identity = manifestPathIdentity(path);
    for (const char* reserved : kSetupOwnFiles) {
        if (identity == reserved) return "names a file the setup program keeps in the installation folder";
    }
    if (identity == kDownloadCacheIdentity || identity.compare(0, kDownloadCacheIdentity.size() + 1,
                                                               std::string(kDownloadCacheIdentity) + "/") == 0)
        return "lies in the setup program's download cache";
    return {};
}

bool findPathClash(const std::vector<std::string>& paths, PathClash& clash) {
    // Of all clashes, the one named is the one whose later path comes first.
    bool found = false;
    const auto note = [&](size_t a, size_t b, PathClashKind kind) {
        const size_t later = std::max(a, b);
        if (!found || later < clash.later) clash = PathClash{later, std::min(a, b), kind};
        found = true;
    };
    std::unordered_map<std::string, size_t> indexByIdentity;
    std::vector<std::string> identities;
    identities.reserve(paths.size());
    for (size_t index = 0; index < paths.size(); ++index) {
        identities.push_back(manifestPathIdentity(paths[index]));
        const auto added = indexByIdentity.emplace(identities.back(), index);
        if (!added.second) note(index, added.first->second, PathClashKind::SameFile);
    }
    // Each path's staged sibling and folders, against the whole list.
    for (size_t index = 0; index < paths.size(); ++index) {
        const std::string& identity = identities[index];
        const auto twin = indexByIdentity.find(identity + kStagedSuffixIdentity);
        if (twin != indexByIdentity.end()) note(index, twin->second, PathClashKind::StagedTwin);
        for (size_t slash = identity.find('/'); slash != std::string::npos; slash = identity.find('/', slash + 1)) {
            const auto folder = indexByIdentity.find(identity.substr(0, slash));
            if (folder != indexByIdentity.end()) note(index, folder->second, PathClashKind::FileInFolder);
        }
    }
    return found;
}

const char* pathClashWords(PathClashKind kind) {
    switch (kind) {
        case PathClashKind::SameFile:
            break;
        case PathClashKind::StagedTwin:
            return "differs only by \".new\", the suffix of a staged file, from";
        case PathClashKind::FileInFolder:
            return "needs one name as both a file and a folder with";
    }
    return "names the same file on Windows as";
}

std::string manifestPathIdentity(const std::string& path) {
    std::string identity = fileNameUppercase(path);
    for (char& c : identity) {
        if (c == '\\') c = '/';
    }
    return identity;
}

bool parseManifest(const std::string& text, Manifest& manifest, std::string& problem) {
    try {
        return readManifest(Json::parse(text), manifest, problem);
    } catch (const std::exception& error) {  // the JSON library's errors, and running out of memory
        problem = error.what();
        return false;
    }
}

bool parseManifest(const std::string& text, Manifest& manifest) {
    std::string problem;
    return parseManifest(text, manifest, problem);
}
