// libFuzzer target over the manifest rules and the file-name case table. An input that begins with "{" is
// parsed as the manifest text itself; any other becomes the paths of a manifest shaped like a real one (one
// path a line, valid sizes and digests), so that mutations reach the path rules and the twin check rather
// than dying in the JSON syntax.
#include "engine/file_name_case.h"
#include "engine/manifest.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::string manifestWithPaths(const std::string& lines) {
    nlohmann::json files = nlohmann::json::array();
    size_t start = 0;
    while (start <= lines.size()) {
        size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        files.push_back({{"path", lines.substr(start, end - start)}, {"size", end - start},
                         {"sha256", std::string(64, 'a')}, {"csize", 1}, {"csha256", std::string(64, 'b')}});
        start = end + 1;
    }
    const nlohmann::json manifest = {{"app", "maketor"}, {"version", "1.0"}, {"files", files}};
    // Bytes that are not UTF-8 reach the parser as replacement characters, as a JSON writer would send them.
    return manifest.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The table is applied once and for all: upper case stays upper case.
    const std::string upper = fileNameUppercase(input);
    check(fileNameUppercase(upper) == upper);

    const bool asText = size > 0 && data[0] == '{';
    Manifest manifest;
    std::string problem;
    if (!parseManifest(asText ? input : manifestWithPaths(input), manifest, problem)) {
        check(!problem.empty());
        return 0;
    }
    std::set<std::string> identities;
    for (const ManifestFile& file : manifest.files) {
        check(manifestPathProblem(file.path).empty());
        check(identities.insert(manifestPathIdentity(file.path)).second);
    }
    return 0;
}
