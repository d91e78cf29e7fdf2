// libFuzzer target over the manifest rules and the file-name case table. An input that begins with "{" is
// parsed as the manifest text itself; any other becomes the paths of a manifest shaped like a real one (one
// path a line, valid sizes and digests), so that mutations reach the path rules and the twin check rather
// than dying in the JSON syntax. A line may carry a "patches" value after a tab (its JSON text), so that the
// patches rules see mutations too. A line that begins with a tab is the manifest's "packs" value instead; the
// files' digests are "a...a" followed by their line number in 8 hex digits, their csize the line number + 1, so
// that packs can name them. The blobs of a well-formed pack of at most 1 MiB are then cut out of a body of its
// size, in pieces whose length the input chooses, as the client cuts a pack that arrives. The first three
// lines of any input are also three versions for the version order, which compares the text of an install
// record (anyone's to write) with a release's.
#include "engine/file_name_case.h"
#include "engine/manifest.h"
#include "engine/pack_cut.h"
#include "engine/release_freshness.h"
#include "engine/version_order.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Text that is not JSON stands for itself, as a string value.
nlohmann::json jsonOrText(const std::string& text) {
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    return value.is_discarded() ? nlohmann::json(text) : value;
}

std::string fileDigest(size_t line) {
    char number[9];
    std::snprintf(number, sizeof number, "%08zx", line);
    return std::string(56, 'a') + number;
}

std::string manifestWithPaths(const std::string& lines) {
    nlohmann::json files = nlohmann::json::array();
    nlohmann::json packs;
    size_t start = 0;
    for (size_t number = 0; start <= lines.size(); ++number) {
        size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        const std::string line = lines.substr(start, end - start);
        start = end + 1;
        const size_t tab = line.find('\t');
        if (tab == 0) {
            packs = jsonOrText(line.substr(1));
            continue;
        }
        nlohmann::json file = {{"path", line.substr(0, tab)}, {"size", line.size()}, {"sha256", fileDigest(number)},
                               {"csize", number + 1}, {"csha256", std::string(64, 'b')}};
        if (tab != std::string::npos) file["patches"] = jsonOrText(line.substr(tab + 1));
        files.push_back(std::move(file));
    }
    nlohmann::json manifest = {{"app", "maketor"}, {"version", "1.0"}, {"files", files}};
    if (!packs.is_null()) manifest["packs"] = packs;
    // Bytes that are not UTF-8 reach the parser as replacement characters, as a JSON writer would send them.
    return manifest.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Packs are either all well formed or all set aside; a well-formed one places each blob of a file once, inside it,
// in order, and its blobs cut out of a body of its size are each of their length.
void checkPacks(const Manifest& manifest, const std::string& input) {
    check(manifest.packsProblem.empty() || manifest.packs.empty());
    std::map<std::string, uint64_t> csizeOf;
    for (const ManifestFile& file : manifest.files) csizeOf.emplace(file.sha256, file.csize);
    std::set<std::string> placed;
    for (const ReleasePack& pack : manifest.packs) {
        uint64_t end = 0;
        PackCut cut;
        for (const PackedBlob& blob : pack.blobs) {
            check(csizeOf.count(blob.sha256) == 1 && csizeOf[blob.sha256] == blob.csize);
            check(placed.insert(blob.sha256).second);
            check(blob.offset >= end && blob.csize <= pack.size && blob.offset <= pack.size - blob.csize);
            end = blob.offset + blob.csize;
            cut.blobs.push_back(PackCut::Extent{blob.offset, blob.csize});
        }
        if (pack.size > (uint64_t(1) << 20)) continue;
        std::vector<uint64_t> received(cut.blobs.size(), 0);
        size_t done = 0;
        PackCutReceiver receiver;
        receiver.bytes = [&](size_t blob, const uint8_t*, size_t size) {
            check(blob == done);
            received[blob] += size;
            return true;
        };
        receiver.done = [&](size_t blob) {
            check(blob == done && received[blob] == cut.blobs[blob].size);
            ++done;
            return true;
        };
        const std::vector<uint8_t> body(size_t(pack.size), 0);
        for (uint64_t at = 0, step = 0; at < pack.size; ++step) {
            const size_t piece = size_t(std::min<uint64_t>(1 + uint8_t(input[step % input.size()]) * 37, pack.size - at));
            const std::vector<uint8_t> exact(body.begin() + at, body.begin() + at + piece);  // exactly sized
            check(cutPackPiece(cut, exact.data(), exact.size(), receiver));
            at += piece;
        }
        check(isPackCutWhole(cut) && cut.position == pack.size);
    }
}

bool comesFirstOrSame(const std::string& a, const std::string& b) {
    return compareVersions(a, b) != VersionOrder::Newer;
}

// Each text is the same as itself, two answers mirror each other, and the order is transitive.
void checkVersionOrder(const std::string& input) {
    std::string versions[3];
    size_t start = 0;
    for (std::string& version : versions) {
        const size_t end = std::min(input.find('\n', start), input.size());
        if (start < input.size()) version = input.substr(start, end - start);
        start = end + 1;
    }
    for (const std::string& a : versions) {
        check(compareVersions(a, a) == VersionOrder::Same);
        for (const std::string& b : versions) {
            const VersionOrder there = compareVersions(a, b);
            const VersionOrder back = compareVersions(b, a);
            check((there == VersionOrder::Same) == (back == VersionOrder::Same));
            check((there == VersionOrder::Older) == (back == VersionOrder::Newer));
            for (const std::string& c : versions)
                if (comesFirstOrSame(a, b) && comesFirstOrSame(b, c)) check(comesFirstOrSame(a, c));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The table is applied once and for all: upper case stays upper case.
    const std::string upper = fileNameUppercase(input);
    check(fileNameUppercase(upper) == upper);

    checkVersionOrder(input);

    const bool asText = size > 0 && data[0] == '{';
    Manifest manifest;
    std::string problem;
    if (!parseManifest(asText ? input : manifestWithPaths(input), manifest, problem)) {
        check(!problem.empty());
        return 0;
    }
    // An expiry is kept only in the one form it is written in.
    if (!manifest.expires.empty()) check(utcTimeText(manifest.expiresAt) == manifest.expires);
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
    checkPacks(manifest, input);
    return 0;
}
