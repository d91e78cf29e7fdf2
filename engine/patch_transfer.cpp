#include "engine/patch_transfer.h"

#include <windows.h>

#include <vector>

#include "platform/crypto.h"
#include "platform/file_mapping.h"
#include "platform/file_system.h"
#include "platform/lock_retry.h"
#include "platform/text.h"
#include "platform/zstd_patch.h"

namespace {

const wchar_t kPatchPathPrefix[] = L"/maketor/app/patches/";
// The patch is read from the cache in pieces of this size; zstd keeps no more than a block of it besides.
constexpr size_t kPatchPiece = size_t(256) << 10;

std::wstring patchName(const FilePatch& patch) { return toUtf16(patch.sha256) + L".zst"; }

// Decodes the patch against the mapped old file into the mapped ".new" sibling, hashing each decoded piece.
// The old file is mapped shared for reading only, so nothing can change it while it is referred to.
PatchOutcome decodeIntoStaged(const TransferContext& context, DownloadSource& source, const ManifestFile& file,
                              const std::wstring& target, const std::wstring& staged) {
    MappedFile old;
    if (!mapForReading(target, old)) return PatchOutcome::Unusable;
    MappedFile out;
    // A scanner may still hold the ".new" an earlier run left.
    retryWhileLocked(staged, [&] { return mapNewFile(staged, file.size, out); }, context.lockWait);
    PatchDecoder decoder;
    Sha256Stream hash;
    if (!out.data || !startPatchDecoder(decoder, old.data, size_t(old.size), out.data, size_t(file.size)) ||
        !startSha256(hash))
        return PatchOutcome::Unusable;
    std::vector<uint8_t> piece(kPatchPiece);
    for (;;) {
        if (isStopped(context)) return PatchOutcome::Cancelled;
        size_t got = 0;
        if (!readDownloadSource(source, piece.data(), piece.size(), got)) return PatchOutcome::Unusable;
        if (got == 0) break;
        const size_t before = decoder.produced;
        if (!decodePatchPiece(decoder, piece.data(), got)) return PatchOutcome::Unusable;
        addToSha256(hash, out.data + before, decoder.produced - before);
    }
    if (!finishPatchDecoder(decoder) || finishSha256Hex(hash) != file.sha256 || !flushMappedFile(out))
        return PatchOutcome::Unusable;
    return PatchOutcome::Applied;
}

}  // namespace

const FilePatch* plannedPatch(const ManifestFile& file, const std::string& recordedDigest,
                              const std::wstring& installDir) {
    const FilePatch* planned = nullptr;
    for (const FilePatch& patch : file.patches) {
        if (patch.from == recordedDigest && patch.from != file.sha256) {
            planned = &patch;
            break;
        }
    }
    if (!planned) return nullptr;
    // A file the user changed since it was installed is not the old file the patch was made from.
    MappedFile old;
    const std::wstring target = pathJoin(installDir, toUtf16(file.path));
    if (!mapForReading(target, old) || !isPatchableSize(old.size, file.size) ||
        sha256Hex(old.data, size_t(old.size)) != planned->from)
        return nullptr;
    return planned;
}

PatchOutcome patchIntoStaged(const TransferContext& context, const FilePatch& patch, const ManifestFile& file,
                             const std::wstring& target, const std::wstring& staged) {
    const Download download = cachedDownload(context.installDir, kPatchPathPrefix + patchName(patch),
                                             patchName(patch), patch.size, patch.sha256);
    PatchOutcome outcome = PatchOutcome::Unusable;
    // A small patch arrives in memory and is not kept for a retry: it costs a retry little to fetch again.
    std::string received;
    switch (fetchDownload(context, download, received)) {
        case CacheFetch::Done: {
            DownloadSource source;
            if (openDownloadSource(received, download.paths.complete, source))
                outcome = decodeIntoStaged(context, source, file, target, staged);
            break;
        }
        case CacheFetch::Cancelled:
            return PatchOutcome::Cancelled;
        default:
            return PatchOutcome::Unusable;
    }
    if (outcome != PatchOutcome::Applied) {
        DeleteFileW(staged.c_str());
        // A patch whose digest holds but that does not yield the file would fail every retry from the cache.
        if (outcome == PatchOutcome::Unusable) DeleteFileW(download.paths.complete.c_str());
    }
    return outcome;
}
