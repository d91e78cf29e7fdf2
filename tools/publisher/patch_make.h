#pragma once
// Making the patch from an old file to a new one: one zstd frame, compressed with the old file as its prefix
// (zstd's "patch-from"), long-distance matching over a window that spans both files, level 19.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The level: the highest before zstd's "ultra" levels. A patch is made once and fetched by every client, so
// the slow optimal parser pays off; the ultra levels shrink patches of changed binaries by well under one
// per cent more for about twice the time and memory.
constexpr int kPatchLevel = 19;

// The patch into patch; false, with problem set, when the sizes are not patchable (isPatchableSize) or zstd
// fails. Memory: both files, an output buffer as large as the new one and zstd's tables (85 MiB for a 4 MiB
// file, about 0.5 GiB for the largest patchable ones).
bool makePatch(const uint8_t* old, size_t oldSize, const uint8_t* fresh, size_t freshSize, std::vector<uint8_t>& patch,
               std::string& problem);

// A patch is kept only when it is clearly smaller than the full blob: under half of its csize.
bool isWorthKeeping(uint64_t patchSize, uint64_t blobSize);
