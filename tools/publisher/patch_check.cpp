#include "tools/publisher/patch_check.h"

#include <memory>
#include <new>

#include "platform/zstd_patch.h"
#include "tools/publisher/signing.h"

bool patchYields(const uint8_t* old, size_t oldSize, const uint8_t* patch, size_t patchSize, uint64_t size,
                 const std::string& sha256, std::string& problem) {
    if (!isPatchableSize(oldSize, size)) {
        problem = "no patch can make a file of " + std::to_string(size) + " bytes from one of " +
                  std::to_string(oldSize);
        return false;
    }
    const std::unique_ptr<uint8_t[]> fresh(new uint8_t[size_t(size)]);
    PatchDecoder decoder;
    if (!startPatchDecoder(decoder, old, oldSize, fresh.get(), size_t(size)) ||
        !decodePatchPiece(decoder, patch, patchSize) || !finishPatchDecoder(decoder)) {
        problem = "does not decode to " + std::to_string(size) + " bytes against the old file";
        return false;
    }
    if (sha256Hex(fresh.get(), size_t(size)) != sha256) {
        problem = "decodes to content whose SHA-256 is not the manifest's sha256";
        return false;
    }
    return true;
}
