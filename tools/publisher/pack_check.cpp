#include "tools/publisher/pack_check.h"

#include <vector>

#include "engine/pack_cut.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/signing.h"

namespace {

constexpr size_t kReadPiece = size_t(1) << 20;

std::string packProblem(const std::filesystem::path& releaseDir, const ReleasePack& pack) {
    const std::filesystem::path path = releaseDir / "packs" / (pack.sha256 + ".pack");
    const FileDescriptor file = openForReading(path);
    if (!file) return path.string() + ": missing or unreadable";
    PackCut cut;
    for (const PackedBlob& blob : pack.blobs) cut.blobs.push_back(PackCut::Extent{blob.offset, blob.csize});
    std::vector<Sha256Stream> blobHashes(pack.blobs.size());
    std::string problem;
    PackCutReceiver receiver;
    receiver.bytes = [&](size_t blob, const uint8_t* data, size_t size) {
        blobHashes[blob].add(data, size);
        return true;
    };
    receiver.done = [&](size_t blob) {
        if (blobHashes[blob].finishHex() == pack.blobs[blob].csha256) return true;
        problem = path.string() + ": the blob at offset " + std::to_string(pack.blobs[blob].offset) + " (" +
                  pack.blobs[blob].sha256 + ") is not the blob its file's csha256 names";
        return false;
    };
    Sha256Stream whole;
    std::vector<uint8_t> piece(kReadPiece);
    for (ssize_t got; (got = readSome(file, piece.data(), piece.size())) != 0;) {
        if (got < 0) return path.string() + ": missing or unreadable";
        whole.add(piece.data(), size_t(got));
        if (!cutPackPiece(cut, piece.data(), size_t(got), receiver)) return problem;
    }
    if (cut.position != pack.size)
        return path.string() + ": " + std::to_string(cut.position) + " bytes, the manifest says size " +
               std::to_string(pack.size);
    if (whole.finishHex() != pack.sha256) return path.string() + ": its SHA-256 is not the manifest's sha256";
    return {};
}

}  // namespace

std::string packsProblem(const std::filesystem::path& releaseDir, const Manifest& manifest) {
    if (!manifest.packsProblem.empty()) return "the manifest's packs: " + manifest.packsProblem;
    for (const ReleasePack& pack : manifest.packs) {
        const std::string problem = packProblem(releaseDir, pack);
        if (!problem.empty()) return problem;
    }
    return {};
}
