#pragma once
// The body of a request for a piece of a pack cut into the blobs it carries, piece by piece as it arrives.
// Plain C++: also built into the host tests.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct PackCut {
    struct Extent {
        uint64_t offset = 0;  // in the pack
        uint64_t size = 0;
    };
    std::vector<Extent> blobs;  // in offset order, none overlapping
    uint64_t position = 0;      // in the pack, of the next byte to arrive
    size_t next = 0;            // the first blob not yet whole
};

// Receivers of the blobs' bytes: bytes(blob, data, size) with each part of a blob in order, done(blob) once its
// last byte has come. Either returning false stops the cut.
struct PackCutReceiver {
    std::function<bool(size_t blob, const uint8_t* data, size_t size)> bytes;
    std::function<bool(size_t blob)> done;
};

// Hands the piece's bytes to the blobs they belong to, skipping the bytes between and after them; a blob of
// no bytes is done as soon as the position passes its offset. False when a receiver said stop.
bool cutPackPiece(PackCut& cut, const uint8_t* data, size_t size, const PackCutReceiver& receiver);

// True when every blob has been handed over whole.
inline bool isPackCutWhole(const PackCut& cut) { return cut.next == cut.blobs.size(); }
