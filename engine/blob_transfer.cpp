#include "engine/blob_transfer.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "engine/patch_transfer.h"
#include "engine/staged_file.h"
#include "platform/crypto.h"
#include "platform/file_system.h"
#include "platform/lock_retry.h"
#include "platform/http.h"
#include "platform/lzms.h"
#include "platform/lzms_container.h"
#include "platform/text.h"

const wchar_t* const downloadCacheName = L"update-cache";
const wchar_t* const runCancelledText = L"Установка отменена.";
const wchar_t* const proxySignInText = L"Прокси-сервер требует входа — обратитесь к администратору сети и повторите.";

namespace {

const wchar_t kBlobPathPrefix[] = L"/maketor/app/blobs/";
const wchar_t kPartialSuffix[] = L".part";
// Cached files are hashed in pieces of this size, so memory stays flat whatever their length.
constexpr size_t kReadPiece = size_t(1) << 20;
constexpr size_t kChunkLengthWordSize = 4;
// Blobs up to this size are received into memory and enter the cache in one write once their digest holds.
// Creating a file costs Wine a scan of its folder, and the cache folder holds a release's every blob: a
// part file and its rename would be two scans more per file.
constexpr uint64_t kInMemoryBlobLimit = uint64_t{1} << 20;

using Step = CacheFetch;
using BlobPaths = CachePaths;

// A length the server announced (0: none) that is not the signed size fails the fetch before its body.
bool isSignedLength(uint64_t announced, uint64_t signedSize) { return announced == 0 || announced == signedSize; }

// The run's progress as far as one file is concerned: what it added can be taken back when its bytes have to
// arrive again, without disturbing what the other transfers count meanwhile.
struct FileProgress {
    std::atomic<uint64_t>* runBytes = nullptr;
    uint64_t counted = 0;
};

void countBytes(FileProgress& progress, uint64_t bytes) {
    progress.counted += bytes;
    if (progress.runBytes) progress.runBytes->fetch_add(bytes);
}

void takeBackBytes(FileProgress& progress, uint64_t bytes) {
    progress.counted -= bytes;
    if (progress.runBytes) progress.runBytes->fetch_sub(bytes);
}

Download blobDownloadOf(const std::wstring& installDir, const ManifestFile& file) {
    const std::wstring name = toUtf16(file.sha256) + L".lzms";
    return cachedDownload(installDir, kBlobPathPrefix + name, name, file.csize, file.csha256);
}

// Whether the cache may hold this file: when the run listed it, without asking the disk (a miss costs Wine a
// scan of the folder).
bool mayBeInCache(const TransferContext& context, const std::wstring& path) {
    if (!context.cacheNames) return entryExists(path);
    return context.cacheNames->count(path.substr(parentFolder(path).size() + 1)) != 0;
}

// Hashes from the current position to the end of the file; false when a read fails.
bool hashRestOfFile(HANDLE handle, Sha256Stream& hash, uint64_t& length) {
    std::vector<uint8_t> piece(kReadPiece);
    length = 0;
    for (;;) {
        size_t got = 0;
        if (!readUpTo(handle, piece.data(), piece.size(), got)) return false;
        if (got == 0) return true;
        addToSha256(hash, piece.data(), got);
        length += got;
    }
}

// A cached blob counts only when its digest matches; anything else reads as no blob (and is left alone: a
// good copy replaces it once downloaded).
bool isValidCachedBlob(const TransferContext& context, const std::wstring& path, const Download& file,
                       FileProgress& progress) {
    if (!mayBeInCache(context, path)) return false;
    UniqueHandle handle = openForReading(path);
    Sha256Stream hash;
    uint64_t length = 0;
    if (!handle || !startSha256(hash) || !hashRestOfFile(handle.get(), hash, length)) return false;
    if (finishSha256Hex(hash) != file.csha256) return false;
    countBytes(progress, length);
    return true;
}

// What a download continues from: the part already received, hashed, its bytes counted as progress. A part
// as long as the whole blob or longer cannot be continued and starts over.
bool resumePart(HANDLE part, const Download& file, Sha256Stream& hash, uint64_t& have, FileProgress& progress) {
    if (!startSha256(hash)) return false;
    uint64_t length = 0;
    if (sizeOfOpenFile(part, length) && length > 0 && length < file.csize && hashRestOfFile(part, hash, have) &&
        have == length) {
        countBytes(progress, have);
        return true;
    }
    have = 0;
    return truncateAt(part, 0) && startSha256(hash);
}

// Why a fetch failed whose body was not refused: a proxy that wants a sign-in, a stop, or the network.
Step failedFetchStep(const TransferContext& context, FetchFailure failure) {
    if (failure == FetchFailure::ProxySignIn) return Step::ProxySignIn;
    return isStopped(context) ? Step::Cancelled : Step::NotDownloaded;
}

// One request for the rest of the blob, appended to the part as it arrives. A server that answers with the
// whole body instead of the range makes the part start over. Nothing past the signed size is written: a
// length announced otherwise fails before the body, a byte beyond it fails the fetch.
Step fetchIntoPart(const TransferContext& context, const std::wstring& requestPath, const BlobPaths& paths,
                   const Download& file, FileProgress& progress) {
    UniqueHandle part = openForWriting(paths.partial, false);
    Sha256Stream hash;
    uint64_t have = 0;
    if (!part || !resumePart(part.get(), file, hash, have, progress)) return Step::NotWritten;

    bool written = true;
    bool refused = false;  // the server's body is not the signed one
    BodySink sink;
    sink.start = [&](uint64_t bodyStart, uint64_t length) {
        refused = !isSignedLength(length, file.csize);
        if (refused) return false;
        if (bodyStart == have) return true;
        takeBackBytes(progress, have);  // those bytes arrive again
        have = 0;
        written = truncateAt(part.get(), 0) && startSha256(hash);
        return written;
    };
    sink.piece = [&](const uint8_t* data, size_t size) {
        refused = size > file.csize - have;
        if (refused) return false;
        countBytes(progress, size);
        written = writeAll(part.get(), data, size);
        addToSha256(hash, data, size);
        have += size;
        return written;
    };
    FetchFailure failure = FetchFailure::None;
    FetchControl control;
    control.stopped = [&context] { return isStopped(context); };
    control.failure = &failure;
    const bool fetched = context.fetch(requestPath, have, sink, control);
    uint64_t kept = 0;
    const bool nothingKept = sizeOfOpenFile(part.get(), kept) && kept == 0;
    part.reset();
    if (nothingKept && !fetched) DeleteFileW(paths.partial.c_str());  // an empty part is no head start
    if (!written) return Step::NotWritten;
    // A body that went on past the signed size is refused even when its first csize bytes are the blob.
    const bool whole = !refused && kept == file.csize && finishSha256Hex(hash) == file.csha256;
    const bool inCache = whole && MoveFileExW(paths.partial.c_str(), paths.complete.c_str(), MOVEFILE_REPLACE_EXISTING);
    // A stop that came with the last piece still leaves the blob whole in the cache.
    if (!fetched && !refused) return failedFetchStep(context, failure);
    if (!whole) {
        DeleteFileW(paths.partial.c_str());  // whole but wrong, or from a server that sends another body
        return Step::Damaged;
    }
    return inCache ? Step::Done : Step::NotWritten;
}

// Downloads the blob into the cache. A part left by an interrupted run is continued; should the continued
// blob prove wrong (the part held other bytes), it is fetched once more from its start.
Step downloadBlob(const TransferContext& context, const BlobPaths& paths, const Download& file,
                  FileProgress& progress) {
    if (!createFolderTree(parentFolder(paths.partial))) return Step::NotWritten;
    const std::wstring& requestPath = file.requestPath;
    const bool resuming = entryExists(paths.partial);
    const Step step = fetchIntoPart(context, requestPath, paths, file, progress);
    if (step != Step::Damaged || !resuming) return step;
    takeBackBytes(progress, progress.counted);  // those bytes arrive again
    return fetchIntoPart(context, requestPath, paths, file, progress);
}

// Not through a part: a blob cut short by a crash fails its digest check when a later run looks at it.
bool writeBlobToCache(const std::wstring& path, const std::string& blob) {
    if (createFolderTree(parentFolder(path)) && writeWholeFile(path, blob.data(), blob.size(), false)) return true;
    DeleteFileW(path.c_str());  // what a full disk took of it must not fill it
    return false;
}

// A blob small enough for memory, received whole and checked before it enters the cache, in one write.
// What arrived of a blob whose download broke off is kept as its part, for the next run to continue.
Step downloadSmallBlob(const TransferContext& context, const BlobPaths& paths, const Download& file,
                       std::string& blob, FileProgress& progress) {
    bool refused = false;  // the server's body is not the signed one
    BodySink sink;
    sink.start = [&](uint64_t bodyStart, uint64_t length) {
        refused = !isSignedLength(length, file.csize);
        if (bodyStart == 0 && !blob.empty()) {
            takeBackBytes(progress, blob.size());  // a further attempt got the whole body again
            blob.clear();
        }
        return !refused;
    };
    sink.piece = [&](const uint8_t* data, size_t size) {
        refused = size > file.csize - blob.size();
        if (refused) return false;
        countBytes(progress, size);
        blob.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    FetchFailure failure = FetchFailure::None;
    FetchControl control;
    control.stopped = [&context] { return isStopped(context); };
    control.failure = &failure;
    const bool fetched = context.fetch(file.requestPath, 0, sink, control);
    const bool intact =
        !refused && sha256Hex(reinterpret_cast<const uint8_t*>(blob.data()), blob.size()) == file.csha256;
    if (!fetched && !refused) {
        // A stop that came with the last piece leaves a whole blob, which is no part to continue.
        if (!blob.empty()) writeBlobToCache(intact ? paths.complete : paths.partial, blob);
        return failedFetchStep(context, failure);
    }
    return intact ? Step::Done : Step::Damaged;
}

// Keeps a small blob that gave its file for the run's retry: in memory while the budget allows, else in the
// cache. False when the cache cannot take it.
bool keepForRetry(const TransferContext& context, const ManifestFile& file, const std::wstring& cachePath,
                  std::string& blob) {
    if (context.heldBlobs) {
        HeldBlobs& held = *context.heldBlobs;
        std::lock_guard<std::mutex> hold(held.lock);
        if (held.heldBytes + blob.size() <= held.budgetBytes) {
            held.heldBytes += blob.size();
            held.blobOfDigest[file.sha256] = std::move(blob);
            return true;
        }
    }
    return writeBlobToCache(cachePath, blob);
}

// A blob another file of the same content left in memory; it counts as progress, as a cached one does.
bool takeHeldCopy(const TransferContext& context, const ManifestFile& file, std::string& blob,
                  FileProgress& progress) {
    if (!context.heldBlobs) return false;
    std::lock_guard<std::mutex> hold(context.heldBlobs->lock);
    const auto found = context.heldBlobs->blobOfDigest.find(file.sha256);
    if (found == context.heldBlobs->blobOfDigest.end()) return false;
    blob = found->second;
    countBytes(progress, blob.size());
    return true;
}

// The next chunk's packed bytes, read into the unpacker. A chunk is never stored larger than it unpacks
// (Windows stores it raw then), which also bounds what a damaged length word can make us allocate.
const uint8_t* readChunk(DownloadSource& blob, LzmsChunkUnpacker& unpacker, size_t unpackedSize, size_t& packedSize) {
    uint8_t word[kChunkLengthWordSize];
    size_t got = 0;
    if (!readDownloadSource(blob, word, sizeof word, got) || got != sizeof word) return nullptr;
    packedSize = size_t(word[0]) | size_t(word[1]) << 8 | size_t(word[2]) << 16 | size_t(word[3]) << 24;
    if (packedSize == 0 || packedSize > unpackedSize) return nullptr;
    uint8_t* const packed = lzmsChunkInput(unpacker, packedSize);
    if (!packed || !readDownloadSource(blob, packed, packedSize, got) || got != packedSize) return nullptr;
    return packed;
}

bool isAtEnd(DownloadSource& blob) {
    uint8_t extra = 0;
    size_t got = 0;
    return readDownloadSource(blob, &extra, 1, got) && got == 0;
}

// Unpacks the blob chunk by chunk into the staged file, hashing what it writes. The blob's header is checked
// before anything is created on disk.
Step unpackIntoStaged(const TransferContext& context, DownloadSource& blob, const ManifestFile& file,
                      const std::wstring& staged) {
    uint8_t headerBytes[kLzmsHeaderSize];
    size_t got = 0;
    LzmsContainerHeader header;
    if (!readDownloadSource(blob, headerBytes, sizeof headerBytes, got) || !readLzmsHeader(headerBytes, got, header) ||
        header.totalSize != file.size)
        return Step::Damaged;

    createFolderTree(parentFolder(staged));
    // A scanner may still hold the ".new" an earlier run left.
    UniqueHandle out;
    retryWhileLocked(staged, [&] {
        out = openForWriting(staged, true);
        return static_cast<bool>(out);
    }, context.lockWait);
    if (!out) return Step::NotWritten;
    // The chunk unpacked and its packed bytes, which never exceed it.
    const uint64_t unpackedChunk = std::min(header.chunkSize, header.totalSize);
    MemoryGate unlimited;
    const GatePass pass(context.unpackGate ? *context.unpackGate : unlimited, 2 * unpackedChunk);
    LzmsChunkUnpacker unpacker;
    Sha256Stream hash;
    std::vector<uint8_t> unpacked;
    try {
        unpacked.resize(size_t(unpackedChunk));
    } catch (const std::bad_alloc&) {
        return Step::NotWritten;
    }
    if (!openLzmsChunkUnpacker(unpacker) || !startSha256(hash)) return Step::NotWritten;
    for (uint64_t produced = 0; produced < header.totalSize;) {
        if (isStopped(context)) return Step::Cancelled;
        const size_t chunkSize = size_t(std::min(header.chunkSize, header.totalSize - produced));
        size_t packedSize = 0;
        if (!readChunk(blob, unpacker, chunkSize, packedSize) ||
            !unpackLzmsChunk(unpacker, packedSize, unpacked.data(), chunkSize))
            return Step::Damaged;
        addToSha256(hash, unpacked.data(), chunkSize);
        if (!writeAll(out.get(), unpacked.data(), chunkSize)) return Step::NotWritten;
        produced += chunkSize;
    }
    if (!isAtEnd(blob) || finishSha256Hex(hash) != file.sha256) return Step::Damaged;
    // On the disk before the commit's journal names it: a rename does not carry a file's data to the disk, and
    // after a power cut the renamed file could hold nothing but its length.
    return FlushFileBuffers(out.get()) ? Step::Done : Step::NotWritten;
}

// Unpacks the blob received into memory or, when none was, the cached one.
Step unpackBlob(const TransferContext& context, const std::wstring& cachedPath, const std::string& received,
                const ManifestFile& file, const std::wstring& staged) {
    DownloadSource source;
    return openDownloadSource(received, cachedPath, source) ? unpackIntoStaged(context, source, file, staged)
                                                           : Step::Damaged;
}

// The sentence that tells the user why a step failed; target is the file's full path.
std::wstring failureText(Step step, const std::wstring& shownPath, const std::wstring& target) {
    switch (step) {
        case Step::Done:
            break;
        case Step::Cancelled:
            return runCancelledText;
        case Step::NotDownloaded:
            return L"Не скачан " + shownPath + L" — проверьте интернет и повторите.";
        case Step::Damaged:
            return L"Файл " + shownPath + L" повреждён при загрузке — повторите.";
        case Step::NotWritten:
            return L"Не записать " + target;
        case Step::ProxySignIn:
            return proxySignInText;
    }
    return {};
}

// The end of a file's staging once its blob has been sought (step): unpacked from received, or from the cache
// when nothing was received, into its staged file; a received blob kept for a retry (keep).
bool stageFromBlob(const TransferContext& context, const ManifestFile& file, Step step, std::string& received,
                   bool keep, std::wstring& failure) {
    const std::wstring shownPath = withBackslashes(toUtf16(file.path));
    const std::wstring target = pathJoin(context.installDir, shownPath);
    const std::wstring staged = stagedPathOf(context.installDir, file.path);
    const std::wstring cachedPath = blobDownloadOf(context.installDir, file).paths.complete;
    if (step == Step::Done) {
        step = unpackBlob(context, cachedPath, received, file, staged);
        // A blob whose digest holds but whose file does not would fail every retry from the cache.
        if (step == Step::Damaged) DeleteFileW(cachedPath.c_str());
    }
    if (step == Step::Done && keep && !keepForRetry(context, file, cachedPath, received)) step = Step::NotWritten;
    if (step != Step::Done) {
        DeleteFileW(staged.c_str());  // a partial file must not fill the disk
        failure = failureText(step, shownPath, target);
        return false;
    }
    return true;
}

}  // namespace

bool isStopped(const TransferContext& context) {
    return (context.cancelled && context.cancelled()) || (context.abandoned && context.abandoned());
}

Download cachedDownload(const std::wstring& installDir, const std::wstring& requestPath,
                        const std::wstring& cacheName, uint64_t size, const std::string& sha256) {
    const std::wstring complete = pathJoin(pathJoin(installDir, downloadCacheName), cacheName);
    return Download{requestPath, {complete, complete + kPartialSuffix}, size, sha256};
}

CacheFetch fetchDownload(const TransferContext& context, const Download& download, std::string& received) {
    FileProgress progress;
    progress.runBytes = context.bytesDone;
    received.clear();
    if (isValidCachedBlob(context, download.paths.complete, download, progress)) return Step::Done;
    const bool small = download.csize <= kInMemoryBlobLimit && !mayBeInCache(context, download.paths.partial);
    return small ? downloadSmallBlob(context, download.paths, download, received, progress)
                 : downloadBlob(context, download.paths, download, progress);
}

bool transferFile(const TransferContext& context, const ManifestFile& file, std::wstring& failure,
                  const FilePatch* patch) {
    const std::wstring shownPath = withBackslashes(toUtf16(file.path));
    const std::wstring target = pathJoin(context.installDir, shownPath);
    if (isStopped(context)) {
        failure = failureText(Step::Cancelled, shownPath, target);
        return false;
    }
    const std::wstring staged = stagedPathOf(context.installDir, file.path);
    if (patch) {
        // A patch that cannot be had or does not yield the file leaves the blob to do the work, unannounced.
        const PatchOutcome outcome = patchIntoStaged(context, *patch, file, target, staged);
        if (outcome == PatchOutcome::Applied) return true;
        if (outcome == PatchOutcome::Cancelled) {
            failure = failureText(Step::Cancelled, shownPath, target);
            return false;
        }
        if (context.bytesTotal) context.bytesTotal->fetch_add(file.csize);
    }
    FileProgress progress;
    progress.runBytes = context.bytesDone;
    std::string received;  // a small blob, received into memory
    bool keep = false;     // received from the server: kept for a retry once it has given its file
    Step step = Step::Done;
    // A blob the cache cannot take (a full disk) is reported under the file it is for.
    if (!takeHeldCopy(context, file, received, progress)) {
        step = fetchDownload(context, blobDownloadOf(context.installDir, file), received);
        keep = !received.empty();
    }
    return stageFromBlob(context, file, step, received, keep, failure);
}

bool stageReceivedBlob(const TransferContext& context, const ManifestFile& file, std::string& blob,
                       std::wstring& failure) {
    if (isStopped(context)) {
        failure = transferFailureText(CacheFetch::Cancelled, context.installDir, file);
        return false;
    }
    return stageFromBlob(context, file, Step::Done, blob, true, failure);
}

std::wstring transferFailureText(CacheFetch step, const std::wstring& installDir, const ManifestFile& file) {
    const std::wstring shownPath = withBackslashes(toUtf16(file.path));
    return failureText(step, shownPath, pathJoin(installDir, shownPath));
}

void writeHeldBlobs(HeldBlobs& held, const std::wstring& installDir) {
    std::lock_guard<std::mutex> hold(held.lock);
    for (const auto& [digest, blob] : held.blobOfDigest)
        writeBlobToCache(pathJoin(pathJoin(installDir, downloadCacheName), toUtf16(digest) + L".lzms"), blob);
    held.blobOfDigest.clear();
    held.heldBytes = 0;
}

bool openDownloadSource(const std::string& received, const std::wstring& cachedPath, DownloadSource& source) {
    source.received = &received;
    source.position = 0;
    if (!received.empty()) return true;
    source.file = openForReading(cachedPath);
    return static_cast<bool>(source.file);
}

bool readDownloadSource(DownloadSource& source, uint8_t* data, size_t size, size_t& got) {
    if (source.file) return readUpTo(source.file.get(), data, size, got);
    got = std::min(size, source.received->size() - source.position);
    std::copy_n(source.received->data() + source.position, got, data);
    source.position += got;
    return true;
}
