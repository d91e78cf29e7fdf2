#pragma once
// Stages the files of a run: a few transfers in flight at once (each downloads its blob, then unpacks it
// within a shared memory bound), the status line naming the earliest file still in flight.
#include <string>
#include <vector>

#include "engine/blob_transfer.h"
#include "engine/manifest.h"
#include "engine/run_context.h"

// How many files are fetched at once: enough to hide a request's round trip, few enough for a desktop line.
constexpr unsigned kTransfersInFlight = 4;
// Memory that unpacking may hold at once across the transfers (a chunk and its packed bytes each). A blob
// whose chunks need more is unpacked alone.
constexpr uint64_t kUnpackMemoryBudget = uint64_t{128} << 20;

// Small blobs a run keeps in memory for a retry instead of in the cache (see HeldBlobs).
constexpr uint64_t kHeldBlobBudget = uint64_t{32} << 20;

// True when every file's staged file (engine/staged_file.h) holds its verified content, flushed to disk.
// Otherwise failure is the sentence for the first transfer that failed; the others have stopped, each removed
// its own partial staged file, and the files staged whole are removed too. Small blobs received whole are in heldBlobs (within its
// budget) or in the download cache; the caller writes the held ones to the cache should the run fail.
// patches: for each of files, the patch planned for it or null (or no entries: no patches at all).
bool stageFiles(const RunContext& run, const std::vector<const ManifestFile*>& files, HeldBlobs& heldBlobs,
                std::wstring& failure, const std::vector<const FilePatch*>& patches = {});
