#include "tools/publisher/pack_writer.h"

#include <algorithm>
#include <set>
#include <system_error>
#include <tuple>

#include "engine/components.h"
#include "engine/pack_plan.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/signing.h"

namespace fs = std::filesystem;

namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::vector<std::vector<size_t>> planPacks(const std::vector<PackCandidate>& files, uint64_t sizeCap) {
    std::vector<size_t> order;
    std::set<std::string> seen;
    for (size_t index = 0; index < files.size(); ++index) {
        if (files[index].csize <= kLargestPackedBlob && files[index].csize <= sizeCap) order.push_back(index);
    }
    const auto key = [&files](size_t index) {
        return std::make_tuple(int(componentOfPath(files[index].path)), folderOf(files[index].path), files[index].path);
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });

    std::vector<std::vector<size_t>> packs;
    std::vector<size_t> pack;
    uint64_t packSize = 0;
    int packComponent = -1;
    const auto close = [&] {
        if (pack.size() >= 2) packs.push_back(pack);
        pack.clear();
        packSize = 0;
    };
    for (const size_t index : order) {
        const PackCandidate& file = files[index];
        if (!seen.insert(file.sha256).second) continue;  // files of one content share one blob
        const int component = int(componentOfPath(file.path));
        if (component != packComponent || packSize + file.csize > sizeCap) close();
        packComponent = component;
        pack.push_back(index);
        packSize += file.csize;
    }
    close();
    return packs;
}

bool writePacks(const fs::path& releaseDir, const std::vector<PackCandidate>& files,
                const std::vector<std::vector<size_t>>& plan, std::vector<ReleasePack>& packs, std::string& problem) {
    packs.clear();
    if (plan.empty()) return true;
    const fs::path packsDir = releaseDir / "packs";
    std::error_code error;
    fs::create_directories(packsDir, error);
    if (error) {
        problem = packsDir.string() + ": cannot be created: " + error.message();
        return false;
    }
    for (const std::vector<size_t>& members : plan) {
        ReleasePack pack;
        std::string bytes;  // at most the size cap: the pack is named by its digest, known once it is whole
        for (const size_t index : members) {
            const PackCandidate& file = files[index];
            const fs::path blobPath = releaseDir / "blobs" / (file.sha256 + ".lzms");
            std::string blob;
            if (!readWholeFile(blobPath, blob)) {
                problem = blobPath.string() + ": cannot be read";
                return false;
            }
            if (blob.size() != file.csize || sha256Hex(blob) != file.csha256) {
                problem = blobPath.string() + ": changed while the release was being made";
                return false;
            }
            pack.blobs.push_back(PackedBlob{file.sha256, bytes.size(), file.csize, file.csha256});
            bytes += blob;
        }
        pack.sha256 = sha256Hex(bytes);
        pack.size = bytes.size();
        const fs::path packPath = packsDir / (pack.sha256 + ".pack");
        if (!writeFileReplacing(packPath, bytes)) {
            problem = packPath.string() + ": cannot be written";
            return false;
        }
        packs.push_back(std::move(pack));
    }
    return true;
}

nlohmann::ordered_json packsJson(const std::vector<ReleasePack>& packs) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ReleasePack& pack : packs) {
        nlohmann::ordered_json blobs = nlohmann::ordered_json::array();
        for (const PackedBlob& blob : pack.blobs)
            blobs.push_back(nlohmann::ordered_json{{"sha256", blob.sha256}, {"offset", blob.offset}});
        list.push_back(
            nlohmann::ordered_json{{"sha256", pack.sha256}, {"size", pack.size}, {"blobs", std::move(blobs)}});
    }
    return list;
}
