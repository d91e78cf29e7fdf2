#include "tools/publisher/patch_make.h"

#include <memory>

#include <zstd.h>

#include "platform/zstd_patch.h"

namespace {

struct CompressorFreer {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

}  // namespace

bool isWorthKeeping(uint64_t patchSize, uint64_t blobSize) { return patchSize < blobSize / 2; }

bool makePatch(const uint8_t* old, size_t oldSize, const uint8_t* fresh, size_t freshSize, std::vector<uint8_t>& patch,
               std::string& problem) {
    if (!isPatchableSize(oldSize, freshSize)) {
        problem = "no patch between files of " + std::to_string(oldSize) + " and " + std::to_string(freshSize) +
                  " bytes";
        return false;
    }
    std::unique_ptr<ZSTD_CCtx, CompressorFreer> context(ZSTD_createCCtx());
    const auto set = [&](ZSTD_cParameter parameter, int value) {
        return !ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), parameter, value));
    };
    // The window holds the old file and the new one, so a match may reach back to any byte of the old file
    // from anywhere in the new one; the decoder allows exactly this window and no larger.
    if (!context || !set(ZSTD_c_compressionLevel, kPatchLevel) || !set(ZSTD_c_enableLongDistanceMatching, 1) ||
        !set(ZSTD_c_windowLog, patchWindowLog(oldSize, freshSize)) || !set(ZSTD_c_contentSizeFlag, 1) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), old, oldSize))) {
        problem = "zstd could not be set up for a patch";
        return false;
    }
    patch.resize(ZSTD_compressBound(freshSize));
    const size_t size = ZSTD_compress2(context.get(), patch.data(), patch.size(), fresh, freshSize);
    if (ZSTD_isError(size)) {
        problem = std::string("zstd failed: ") + ZSTD_getErrorName(size);
        return false;
    }
    patch.resize(size);
    return true;
}
