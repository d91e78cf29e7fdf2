// libFuzzer target over the manifest rules and the file-name case table. An input that begins with "{" is
// parsed as the manifest text itself; any other becomes the paths of a manifest shaped like a real one (one
// path a line, valid sizes and digests), so that mutations reach the path rules and the twin check rather
// than dying in the JSON syntax. A line may carry a "patches" value after a tab (its JSON text), so that the
// patches rules see mutations too.
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
        const std::string line = lines.substr(start, end - start);
        const size_t tab = line.find('\t');
        nlohmann::json file = {{"path", line.substr(0, tab)}, {"size", end - start},
                               {"sha256", std::string(64, 'a')}, {"csize", 1}, {"csha256", std::string(64, 'b')}};
        if (tab != std::string::npos) {
            // Text that is not JSON stands for itself, as a string value.
            nlohmann::json patches = nlohmann::json::parse(line.substr(tab + 1), nullptr, false);
            file["patches"] = patches.is_discarded() ? nlohmann::json(line.substr(tab + 1)) : patches;
        }
        files.push_back(std::move(file));
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
    std::set<std::string> installed;  // every path, and every folder a path needs, in identity form
    for (const ManifestFile& file : manifest.files) {
        const std::string identity = manifestPathIdentity(file.path);
        // No file is another's staged sibling, nor a folder another file lies in.
        check(identities.count(identity + ".NEW") == 0);
        check(identity.size() < 4 || identities.count(identity.substr(0, identity.size() - 4)) == 0 ||
              identity.compare(identity.size() - 4, 4, ".NEW") != 0);
        check(installed.count(identity) == 0);
        for (size_t slash = identity.find('/'); slash != std::string::npos; slash = identity.find('/', slash + 1))
            check(identities.count(identity.substr(0, slash)) == 0);
        installed.insert(identity);
        for (size_t slash = identity.find('/'); slash != std::string::npos; slash = identity.find('/', slash + 1))
            installed.insert(identity.substr(0, slash));
        check(manifestPathProblem(file.path).empty());
        // Patches are either all well formed or all set aside, with the reason.
        check(file.patchesProblem.empty() || file.patches.empty());
        for (const FilePatch& patch : file.patches) {
            check(patch.from.size() == 64 && patch.from.find_first_not_of("0123456789abcdef") == std::string::npos);
            check(patch.sha256.size() == 64 &&
                  patch.sha256.find_first_not_of("0123456789abcdef") == std::string::npos);
        }
        check(identities.insert(manifestPathIdentity(file.path)).second);
    }
    return 0;
}
