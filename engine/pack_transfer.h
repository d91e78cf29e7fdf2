#pragma once
// A piece of a pack fetched as planned, its blobs handed over one by one as they arrive, each checked against
// its own length and SHA-256 first: a pack's bytes are never trusted as a whole. Memory: the blob arriving.
#include <cstddef>
#include <functional>
#include <string>

#include "engine/blob_transfer.h"
#include "engine/pack_plan.h"

enum class PackPieceOutcome {
    Done,           // every blob handed over
    Unavailable,    // the server did not answer with the pack (none on it, or no connection): nothing received
    Cancelled,      // the user cancelled, or another transfer of the run failed
    NotDownloaded,  // the body broke off at blob `blob`; what arrived of it waits in the cache as its part
    Damaged,        // blob `blob` arrived whole but is not the blob its file lists
};

struct PackPieceResult {
    PackPieceOutcome outcome = PackPieceOutcome::Done;
    size_t blob = 0;  // index into the fetch's blobs: the first not handed over
};

// handOver(index, blob) gets each verified blob of fetch.blobs in order; false from it stops the fetch (the
// result is then Cancelled). Every byte of the piece received counts into context.bytesDone.
PackPieceResult fetchPackPiece(const TransferContext& context, const PackFetch& fetch,
                               const std::function<bool(size_t index, std::string& blob)>& handOver);
