#include "engine/pack_cut.h"

#include <algorithm>

namespace {

// Blobs that end where the position is now (those of no bytes among them) are done.
bool finishWholeBlobs(PackCut& cut, const PackCutReceiver& receiver) {
    while (cut.next < cut.blobs.size()) {
        const PackCut::Extent& blob = cut.blobs[cut.next];
        if (cut.position < blob.offset + blob.size) return true;
        if (!receiver.done(cut.next)) return false;
        ++cut.next;
    }
    return true;
}

}  // namespace

bool cutPackPiece(PackCut& cut, const uint8_t* data, size_t size, const PackCutReceiver& receiver) {
    if (!finishWholeBlobs(cut, receiver)) return false;
    const uint8_t* const end = data + size;
    while (data < end && cut.next < cut.blobs.size()) {
        const PackCut::Extent& blob = cut.blobs[cut.next];
        const uint64_t left = uint64_t(end - data);
        if (cut.position < blob.offset) {  // bytes before the blob: skipped
            const uint64_t skip = std::min(left, blob.offset - cut.position);
            cut.position += skip;
            data += skip;
            continue;
        }
        const uint64_t take = std::min(left, blob.offset + blob.size - cut.position);
        if (!receiver.bytes(cut.next, data, size_t(take))) return false;
        cut.position += take;
        data += take;
        if (!finishWholeBlobs(cut, receiver)) return false;
    }
    cut.position += uint64_t(end - data);  // after the last blob
    return true;
}
