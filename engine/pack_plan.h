#pragma once
// Which blobs of a run come out of packs, and in which requests. Plain C++: also built into the host tools.
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/manifest.h"

// What a request is worth in bytes. Joining two pieces of a pack into one request saves a round trip and
// fetches the bytes between them in vain: at 50 ms and 50 Mbit/s a round trip is worth about 300 KB of
// transfer, and with eight requests in flight an eighth of that, some 40 KB. The same bytes cost a slower line
// more and a longer round trip less, so the middle is taken.
constexpr uint64_t kRequestWorthBytes = uint64_t{32} << 10;
// Blobs up to this size go into packs: the client holds each one in memory as it arrives, and above it a
// request's round trip is small beside its transfer.
constexpr uint64_t kLargestPackedBlob = uint64_t{1} << 20;

// The cost rule: fetching bytesInVain bytes that no file needs is worth it when it saves requestsSaved requests.
bool isWorthFetchingInVain(uint64_t bytesInVain, uint64_t requestsSaved);

// One request for a piece of a pack, its bytes [first, end), which carries at least two needed blobs.
struct PackFetch {
    const ReleasePack* pack = nullptr;
    uint64_t first = 0;
    uint64_t end = 0;
    std::vector<const PackedBlob*> blobs;  // the needed ones, in offset order
    uint64_t bytesInVain = 0;              // the bytes between them

    bool isWholePack() const { return first == 0 && end == pack->size; }
};

// The requests for the needed blobs (named by their files' sha256) that packs carry, joined by the cost rule:
// a whole pack when every blob of it is needed, a range of one when a run of them is. A needed blob left out of
// every fetch (in no pack, too large for one, or alone in its piece) is fetched on its own.
std::vector<PackFetch> planPackFetches(const std::vector<ReleasePack>& packs,
                                       const std::unordered_set<std::string>& needed);

// The request path of a pack on the download host.
std::wstring packRequestPath(const ReleasePack& pack);
