#include "engine/pack_transfer.h"

#include <windows.h>

#include <algorithm>

#include "engine/pack_cut.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

// What arrived of a blob when the body broke off, kept as its part in the download cache: the next run fetches
// that blob on its own and continues it with a Range request, as it does any blob's part.
void keepPart(const std::wstring& installDir, const PackedBlob& blob, const std::string& received) {
    if (received.empty()) return;
    const std::wstring name = toUtf16(blob.sha256) + L".lzms";
    const Download download = cachedDownload(installDir, L"", name, blob.csize, blob.csha256);
    if (createFolderTree(parentFolder(download.paths.partial)) &&
        writeWholeFile(download.paths.partial, received.data(), received.size(), false))
        return;
    DeleteFileW(download.paths.partial.c_str());
}

}  // namespace

PackPieceResult fetchPackPiece(const TransferContext& context, const PackFetch& fetch,
                               const std::function<bool(size_t index, std::string& blob)>& handOver) {
    PackCut cut;
    for (const PackedBlob* blob : fetch.blobs) cut.blobs.push_back(PackCut::Extent{blob->offset, blob->csize});
    std::string arriving;  // the blob whose bytes are coming in
    bool answered = false;
    bool damaged = false;
    bool handOverStopped = false;

    PackCutReceiver receiver;
    receiver.bytes = [&](size_t, const uint8_t* data, size_t size) {
        arriving.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    receiver.done = [&](size_t index) {
        const PackedBlob& blob = *fetch.blobs[index];
        if (arriving.size() != blob.csize ||
            sha256Hex(reinterpret_cast<const uint8_t*>(arriving.data()), arriving.size()) != blob.csha256) {
            damaged = true;
            return false;
        }
        std::string whole;
        whole.swap(arriving);
        handOverStopped = !handOver(index, whole);
        return !handOverStopped;
    };
    BodySink sink;
    sink.start = [&](uint64_t bodyStart, uint64_t) {
        // A further attempt after a network failure continues where the body broke off, or not at all.
        if (answered) return bodyStart == cut.position;
        answered = true;
        cut.position = bodyStart;  // 0 when a server without ranges sends the whole pack
        return bodyStart <= fetch.first;
    };
    sink.piece = [&](const uint8_t* data, size_t size) {
        // The bytes of the piece asked for count as progress; what a server without ranges sends around them
        // does not.
        const uint64_t from = std::max(cut.position, fetch.first);
        const uint64_t to = std::min(cut.position + size, fetch.end);
        if (context.bytesDone && to > from) context.bytesDone->fetch_add(to - from);
        return cutPackPiece(cut, data, size, receiver);
    };
    FetchControl control;
    control.stopped = [&context] { return isStopped(context); };
    control.rangeEnd = fetch.isWholePack() ? 0 : fetch.end;
    context.fetch(packRequestPath(*fetch.pack), fetch.isWholePack() ? 0 : fetch.first, sink, control);

    PackPieceResult result;
    result.blob = cut.next;
    // A fetch that fails after the last blob needed (the rest of a whole pack sent to a range request) loses
    // nothing.
    if (isPackCutWhole(cut)) return result;
    if (damaged) {
        result.outcome = PackPieceOutcome::Damaged;
    } else if (handOverStopped || isStopped(context)) {
        result.outcome = PackPieceOutcome::Cancelled;
    } else if (!answered) {
        result.outcome = PackPieceOutcome::Unavailable;
    } else {
        result.outcome = PackPieceOutcome::NotDownloaded;
        keepPart(context.installDir, *fetch.blobs[cut.next], arriving);
    }
    return result;
}
