#pragma once
// Patches between releases: one zstd frame compressed with the old file as its prefix (the start of its
// window), decoded here piece by piece straight into the new file's bytes. Plain C++ over libzstd, no
// Windows header: the product, the publisher and the fuzzer run this same code.
//
// Memory: the old file and the new one are buffers of the caller (the product maps both files), and zstd
// decodes straight into the new one, so the decoder itself needs only zstd's context with one block of
// input, about 0.12 MiB whatever the files' sizes.
#include <cstddef>
#include <cstdint>
#include <memory>

struct ZSTD_DCtx_s;

// A patch's window spans the old file and the new one, and zstd's window is at most 2 GiB on 64-bit
// systems: neither file of a patch may reach 1 GiB.
constexpr uint64_t kMaxPatchedFileSize = uint64_t(1) << 30;

// True when a patch from a file of oldSize bytes to one of newSize bytes can be made and applied: neither is
// empty (there is nothing to gain) and both are below kMaxPatchedFileSize.
bool isPatchableSize(uint64_t oldSize, uint64_t newSize);
// log2 of the window such a patch uses: the smallest power of two that holds both files, at least zstd's
// minimum of 1 KiB. The publisher compresses with it and the decoder accepts no larger window.
int patchWindowLog(uint64_t oldSize, uint64_t newSize);

struct ZstdDecoderFreer {
    void operator()(ZSTD_DCtx_s* context) const;
};

struct PatchDecoder {
    std::unique_ptr<ZSTD_DCtx_s, ZstdDecoderFreer> context;
    uint8_t* output = nullptr;
    size_t outputSize = 0;
    size_t produced = 0;    // new bytes decoded so far: output[0, produced)
    bool frameEnded = false;
    bool failed = false;
};

// Prepares to decode a patch against old (oldSize bytes) into output, which holds exactly the new file's
// outputSize bytes. Both buffers stay in place and old unchanged until the decoder is done with. False when
// the sizes are not patchable or zstd cannot start.
bool startPatchDecoder(PatchDecoder& decoder, const uint8_t* old, size_t oldSize, uint8_t* output,
                       size_t outputSize);
// Decodes the next piece of the patch; the bytes it produced are output[produced before, produced). False,
// and the decoder failed, when the patch is damaged, asks for a larger window, would write past the output,
// or goes on after its frame.
bool decodePatchPiece(PatchDecoder& decoder, const uint8_t* piece, size_t size);
// True when the frame has ended with exactly outputSize bytes produced.
bool finishPatchDecoder(const PatchDecoder& decoder);
