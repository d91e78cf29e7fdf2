#include "engine/manifest.h"

#include <exception>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "engine/file_name_case.h"
#include "engine/release_freshness.h"

namespace {

using Json = nlohmann::json;

constexpr size_t kHexDigestLength = 64;

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
    // Two entries that name one file on Windows would leave one file on disk and two digests in the record.
    std::unordered_map<std::string, size_t> indexByIdentity;
    for (const Json& entry : *files) {
        const size_t index = manifest.files.size();
        ManifestFile file;
        if (!readFile(entry, file, problem)) {
            problem = entryName(index) + ": " + problem;
            return false;
        }
        const auto added = indexByIdentity.emplace(manifestPathIdentity(file.path), index);
        if (!added.second) {
            const size_t first = added.first->second;
            problem = entryName(index) + ": path " + inQuotes(file.path) + " names the same file on Windows as " +
                      entryName(first) + " " + inQuotes(manifest.files[first].path);
            return false;
        }
        manifest.files.push_back(std::move(file));
    }
    if (manifest.version.empty()) {
        problem = "\"version\" is empty";
        return false;
    }
    if (manifest.files.empty()) {
        problem = "\"files\" is empty";
        return false;
    }
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
    return {};
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
