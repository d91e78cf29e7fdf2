#include "platform/zstd_patch.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer
#include <zstd.h>

bool isPatchableSize(uint64_t oldSize, uint64_t newSize) {
    return oldSize > 0 && newSize > 0 && oldSize < kMaxPatchedFileSize && newSize < kMaxPatchedFileSize;
}

int patchWindowLog(uint64_t oldSize, uint64_t newSize) {
    const uint64_t span = oldSize + newSize;
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < 62 && (uint64_t(1) << log) < span) ++log;
    return log;
}

void ZstdDecoderFreer::operator()(ZSTD_DCtx_s* context) const { ZSTD_freeDCtx(context); }

bool startPatchDecoder(PatchDecoder& decoder, const uint8_t* old, size_t oldSize, uint8_t* output,
                       size_t outputSize) {
    decoder = PatchDecoder();
    decoder.failed = true;
    if (!isPatchableSize(oldSize, outputSize)) return false;
    decoder.context.reset(ZSTD_createDCtx());
    ZSTD_DCtx* const context = decoder.context.get();
    // The output is the whole new file and stays put, so zstd decodes into it without a window buffer of its
    // own; the old file is the prefix. A frame that asks for a larger window than the two files need is
    // refused before anything is allocated for it.
    if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax,
                                                         patchWindowLog(oldSize, outputSize))) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_stableOutBuffer, 1)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context, old, oldSize)))
        return false;
    decoder.output = output;
    decoder.outputSize = outputSize;
    decoder.failed = false;
    return true;
}

bool decodePatchPiece(PatchDecoder& decoder, const uint8_t* piece, size_t size) {
    if (decoder.failed) return false;
    ZSTD_inBuffer input = {piece, size, 0};
    while (input.pos < input.size) {
        if (decoder.frameEnded) {  // one frame, nothing after it
            decoder.failed = true;
            return false;
        }
        ZSTD_outBuffer out = {decoder.output, decoder.outputSize, decoder.produced};
        const size_t consumed = input.pos;
        const size_t result = ZSTD_decompressStream(decoder.context.get(), &out, &input);
        // No progress at all would loop for ever: the output is full while the frame goes on.
        if (ZSTD_isError(result) || (result != 0 && input.pos == consumed && out.pos == decoder.produced)) {
            decoder.failed = true;
            return false;
        }
        decoder.produced = out.pos;
        if (result == 0) decoder.frameEnded = true;
    }
    return true;
}

bool finishPatchDecoder(const PatchDecoder& decoder) {
    return !decoder.failed && decoder.frameEnded && decoder.produced == decoder.outputSize;
}
