#pragma once
// How many transfers a run keeps in flight, chosen from its work. Plain C++: also built into the host tests.
#include <cstddef>

// The work of a run's staging, counted in units that each make at most one request: a blob (or a patch) to
// fetch or take from the cache, or a piece of a pack.
struct TransferWork {
    size_t units = 0;
    size_t smallUnits = 0;   // of them, blobs and patches of at most 1 MiB
    size_t packFetches = 0;  // of them, pieces of packs: their blobs are unpacked by whichever transfer is free
    unsigned cores = 1;
};

// A large blob's transfer is bound by the line: more of them at once only share it, and unpacking them is
// bound by the memory gate anyway. A small one waits most of its time for the server's answer, so more at once
// hide more round trips; eight keep a 50 ms round trip under the cost of unpacking the files, and are as many
// connections as a browser opens to one host, give or take.
constexpr unsigned kTransfersForLargeBlobs = 4;
constexpr unsigned kTransfersForSmallBlobs = 8;

// The transfers to start: never more than the units, except that while packs arrive the cores have blobs to
// unpack besides the transfers receiving them; at least one.
unsigned transfersInFlight(const TransferWork& work);
