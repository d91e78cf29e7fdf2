#include "engine/pack_plan.h"

namespace {

void finishFetch(PackFetch& fetch, std::vector<PackFetch>& fetches) {
    if (fetch.blobs.size() >= 2) fetches.push_back(std::move(fetch));  // one blob is a request either way
    fetch = PackFetch();
}

}  // namespace

bool isWorthFetchingInVain(uint64_t bytesInVain, uint64_t requestsSaved) {
    if (requestsSaved >= UINT64_MAX / kRequestWorthBytes) return true;
    return bytesInVain <= requestsSaved * kRequestWorthBytes;
}

std::vector<PackFetch> planPackFetches(const std::vector<ReleasePack>& packs,
                                       const std::unordered_set<std::string>& needed) {
    std::vector<PackFetch> fetches;
    for (const ReleasePack& pack : packs) {
        PackFetch fetch;
        for (const PackedBlob& blob : pack.blobs) {
            if (needed.count(blob.sha256) == 0 || blob.csize > kLargestPackedBlob) continue;
            // Each blob joined to the piece before it saves one request and costs the gap between them.
            if (!fetch.blobs.empty() && !isWorthFetchingInVain(blob.offset - fetch.end, 1))
                finishFetch(fetch, fetches);
            if (fetch.blobs.empty()) {
                fetch.pack = &pack;
                fetch.first = blob.offset;
            } else {
                fetch.bytesInVain += blob.offset - fetch.end;
            }
            fetch.end = blob.offset + blob.csize;
            fetch.blobs.push_back(&blob);
        }
        finishFetch(fetch, fetches);
    }
    return fetches;
}

std::wstring packRequestPath(const ReleasePack& pack) {
    return L"/maketor/app/packs/" + std::wstring(pack.sha256.begin(), pack.sha256.end()) + L".pack";
}
