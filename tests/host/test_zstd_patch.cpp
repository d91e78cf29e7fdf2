// The patch decoder the product runs (platform/zstd_patch) against patches the publisher makes, under ASan
// and UBSan: what it accepts and each way a patch is refused.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_WINDOWLOG_MAX_64
#include <zstd.h>

#include "platform/zstd_patch.h"
#include "tools/publisher/patch_make.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes noiseOf(size_t size, uint32_t seed) {
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = uint8_t((seed = seed * 1103515245 + 12345) >> 24);
    return bytes;
}

Bytes patchBetween(const Bytes& old, const Bytes& fresh) {
    Bytes patch;
    std::string problem;
    EXPECT_TRUE(makePatch(old.data(), old.size(), fresh.data(), fresh.size(), patch, problem)) << problem;
    return patch;
}

// The patch applied in pieces of pieceSize into an output of exactly outputSize bytes; empty when refused.
Bytes applied(const Bytes& old, const Bytes& patch, size_t outputSize, size_t pieceSize) {
    Bytes out(outputSize);
    PatchDecoder decoder;
    if (!startPatchDecoder(decoder, old.data(), old.size(), out.data(), out.size())) return {};
    for (size_t at = 0; at < patch.size(); at += pieceSize) {
        const size_t before = decoder.produced;
        if (!decodePatchPiece(decoder, patch.data() + at, std::min(pieceSize, patch.size() - at))) return {};
        EXPECT_GE(decoder.produced, before);
    }
    return finishPatchDecoder(decoder) ? out : Bytes();
}

struct Pair {
    Bytes old;
    Bytes fresh;
};

// A binary whose middle moved by an insertion, and a few bytes changed near its end.
Pair editedBinary() {
    Pair pair{noiseOf(300000, 11), {}};
    pair.fresh.assign(pair.old.begin(), pair.old.begin() + 100000);
    const Bytes inserted = noiseOf(777, 12);
    pair.fresh.insert(pair.fresh.end(), inserted.begin(), inserted.end());
    pair.fresh.insert(pair.fresh.end(), pair.old.begin() + 100000, pair.old.end());
    pair.fresh[290000] ^= 0x5A;
    return pair;
}

TEST(ZstdPatch, AppliesAPatchInPiecesOfAnySize) {
    const Pair pair = editedBinary();
    const Bytes patch = patchBetween(pair.old, pair.fresh);
    EXPECT_LT(patch.size(), 2000u) << "the old file's bytes are referred to, not sent";
    for (const size_t piece : {size_t(1), size_t(7), size_t(4096), patch.size()})
        EXPECT_EQ(applied(pair.old, patch, pair.fresh.size(), piece), pair.fresh) << piece;
}

struct RefusedCase {
    const char* name;
    std::function<void(Bytes& old, Bytes& patch, size_t& outputSize)> change;
};

const RefusedCase kRefusedCases[] = {
    {"another old file", [](Bytes& old, Bytes&, size_t&) { old = noiseOf(old.size(), 99); }},
    {"a patch cut short", [](Bytes&, Bytes& patch, size_t&) { patch.resize(patch.size() - 3); }},
    {"bytes after the frame", [](Bytes&, Bytes& patch, size_t&) { patch.push_back(0); }},
    {"a second frame after the first",
     [](Bytes&, Bytes& patch, size_t&) {
         const Bytes copy = patch;
         patch.insert(patch.end(), copy.begin(), copy.end());
     }},
    {"an output one byte short", [](Bytes&, Bytes&, size_t& outputSize) { outputSize -= 1; }},
    {"an output one byte long", [](Bytes&, Bytes&, size_t& outputSize) { outputSize += 1; }},
    {"a damaged header", [](Bytes&, Bytes& patch, size_t&) { patch[0] ^= 0xFF; }},
    {"an empty patch", [](Bytes&, Bytes& patch, size_t&) { patch.clear(); }},
    {"an empty old file", [](Bytes& old, Bytes&, size_t&) { old.clear(); }},
};

TEST(ZstdPatch, RefusesEveryPatchThatDoesNotMakeExactlyTheFile) {
    for (const RefusedCase& c : kRefusedCases) {
        const Pair pair = editedBinary();
        Bytes old = pair.old;
        Bytes patch = patchBetween(pair.old, pair.fresh);
        size_t outputSize = pair.fresh.size();
        c.change(old, patch, outputSize);
        const Bytes out = applied(old, patch, outputSize, 1000);
        // A changed old file may decode (to other bytes): the product's SHA-256 check then refuses it.
        EXPECT_NE(out, pair.fresh) << c.name;
    }
}

// A frame that claims a window larger than the two files need is refused before zstd allocates for it.
TEST(ZstdPatch, RefusesAFrameWhoseWindowExceedsWhatTheFilesNeed) {
    const Pair pair = editedBinary();
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ASSERT_NE(context, nullptr);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, patchWindowLog(pair.old.size(), pair.fresh.size()) + 1);
    ZSTD_CCtx_refPrefix(context, pair.old.data(), pair.old.size());
    // Streamed without a known size, so that zstd keeps the window as set.
    Bytes patch(ZSTD_compressBound(pair.fresh.size()));
    ZSTD_outBuffer out = {patch.data(), patch.size(), 0};
    ZSTD_inBuffer in = {pair.fresh.data(), pair.fresh.size(), 0};
    ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
    size_t left = 0;
    do left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
    while (left != 0 && !ZSTD_isError(left));
    ZSTD_freeCCtx(context);
    ASSERT_FALSE(ZSTD_isError(left));
    patch.resize(out.pos);
    ZSTD_frameHeader header;
    ASSERT_EQ(ZSTD_getFrameHeader(&header, patch.data(), patch.size()), 0u);
    ASSERT_GT(header.windowSize, uint64_t(1) << patchWindowLog(pair.old.size(), pair.fresh.size()));
    // The same frame decodes when the window is allowed: only the window makes the difference.
    Bytes allowed(pair.fresh.size());
    ZSTD_DCtx* decoder = ZSTD_createDCtx();
    ZSTD_DCtx_refPrefix(decoder, pair.old.data(), pair.old.size());
    EXPECT_EQ(ZSTD_decompressDCtx(decoder, allowed.data(), allowed.size(), patch.data(), patch.size()), allowed.size());
    ZSTD_freeDCtx(decoder);
    EXPECT_EQ(allowed, pair.fresh);
    EXPECT_EQ(applied(pair.old, patch, pair.fresh.size(), patch.size()), Bytes());
}

TEST(ZstdPatch, SpansOnlySizesItCanPatch) {
    const struct {
        uint64_t old, fresh;
        bool patchable;
        int windowLog;
    } cases[] = {
        {1, 1, true, 10},
        {600, 600, true, 11},
        {1 << 20, 1 << 20, true, 21},
        {kMaxPatchedFileSize - 1, kMaxPatchedFileSize - 1, true, 31},
        {kMaxPatchedFileSize, 1, false, 31},
        {1, kMaxPatchedFileSize, false, 31},
        {0, 100, false, 10},
        {100, 0, false, 10},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPatchableSize(c.old, c.fresh), c.patchable) << c.old << " " << c.fresh;
        EXPECT_EQ(patchWindowLog(c.old, c.fresh), c.windowLog) << c.old << " " << c.fresh;
    }
    EXPECT_LE(patchWindowLog(kMaxPatchedFileSize - 1, kMaxPatchedFileSize - 1), ZSTD_WINDOWLOG_MAX_64);
}

}  // namespace
