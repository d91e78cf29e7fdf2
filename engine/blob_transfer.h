#pragma once
// One file of the run staged: its blob from the download cache or the server (streamed into the cache,
// continued where an earlier run left it), both digests checked, unpacked chunk by chunk into the target's
// ".new" sibling. The commit of the run renames the staged files over their targets.
#include <cstdint>
#include <functional>
#include <string>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "engine/manifest.h"
#include "platform/handles.h"
#include "platform/http.h"
#include "platform/lock_retry.h"
#include "platform/memory_gate.h"

// The download cache folder inside the installation folder. It keeps every verified blob, and the part of
// the one in flight, until a run succeeds.
extern const wchar_t* const downloadCacheName;
// The failure of a run the user cancelled.
extern const wchar_t* const runCancelledText;
// The failure of a run whose proxy asks for a sign-in that the user's Windows credentials do not give.
extern const wchar_t* const proxySignInText;

// Small blobs that a run keeps in memory instead of the cache, within a budget: creating and later deleting a
// file per blob is most of what a small file costs under Wine. A run that succeeds never writes them; one that
// fails writes them into the cache (writeHeldBlobs), so that its retry need not fetch them again.
struct HeldBlobs {
    uint64_t budgetBytes = 0;
    std::mutex lock;
    uint64_t heldBytes = 0;
    std::unordered_map<std::string, std::string> blobOfDigest;  // file digest -> its verified blob
};

// Writes every held blob into the installation's download cache; failures are silent (the retry fetches).
void writeHeldBlobs(HeldBlobs& held, const std::wstring& installDir);

// What the transfers of one run share. Several may run at once.
struct TransferContext {
    std::wstring installDir;
    BodyFetch fetch;
    LockWait lockWait;
    MemoryGate* unpackGate = nullptr;  // bounds the memory of unpacking
    // The names in the download cache when the run began, so that a blob known to be missing is not looked
    // for; null: the cache is looked at.
    const std::unordered_set<std::wstring>* cacheNames = nullptr;
    HeldBlobs* heldBlobs = nullptr;  // null: every blob goes into the cache
    std::atomic<uint64_t>* bytesDone = nullptr;  // blob and patch bytes received or found in the cache
    std::atomic<uint64_t>* bytesTotal = nullptr;  // grows by a blob's size when its file's patch fails
    // The user's cancel, asked between received pieces and unpacked chunks.
    std::function<bool()> cancelled;
    // Another transfer of the run has failed: this one stops as soon as it can, and its own failure is moot.
    std::function<bool()> abandoned;
};

// True when the file's ".new" sibling holds its verified content. Otherwise failure is the complete
// sentence for the user, and no ".new" sibling is left. With a patch (planned for the file on disk) the patch
// is tried first and the blob fetched only when it fails.
bool transferFile(const TransferContext& context, const ManifestFile& file, std::wstring& failure,
                  const FilePatch* patch = nullptr);

// The same for a file whose blob arrived some other way (out of a pack), whole and checked against its csha256:
// unpacked into its staged file, then kept for a retry like a small blob fetched on its own.
bool stageReceivedBlob(const TransferContext& context, const ManifestFile& file, std::string& blob,
                       std::wstring& failure);

// Something a transfer fetches, named and checked by its digest: a blob or a patch.
struct CachePaths {
    std::wstring complete;  // in the download cache, whole, only ever with the right digest
    std::wstring partial;   // complete + ".part": as far as it has arrived
};
struct Download {
    std::wstring requestPath;  // on the download host
    CachePaths paths;
    uint64_t csize = 0;   // its bytes
    std::string csha256;  // its SHA-256
};
enum class CacheFetch { Done, Cancelled, NotDownloaded, Damaged, NotWritten, ProxySignIn };

// The download of requestPath, kept in the install folder's cache as cacheName.
Download cachedDownload(const std::wstring& installDir, const std::wstring& requestPath,
                        const std::wstring& cacheName, uint64_t size, const std::string& sha256);
// Done when the download is whole and right: taken from the cache, or fetched. A small one fetched arrives in
// received alone, not in the cache; anything else is in the cache (received empty), a large one continued
// from the part an earlier run left. Its bytes count into context.bytesDone either way.
CacheFetch fetchDownload(const TransferContext& context, const Download& download, std::string& received);

// Where a fetched download is read from: what fetchDownload received into memory or, when that is empty, its
// file in the cache.
struct DownloadSource {
    const std::string* received = nullptr;
    UniqueHandle file;
    size_t position = 0;
};
// False when the download is in the cache and its file cannot be opened.
bool openDownloadSource(const std::string& received, const std::wstring& cachedPath, DownloadSource& source);
// Up to size bytes into data; got is 0 at the end. False when the cached file cannot be read.
bool readDownloadSource(DownloadSource& source, uint8_t* data, size_t size, size_t& got);
// True when the user cancelled or another transfer of the run failed.
bool isStopped(const TransferContext& context);
// The sentence that tells the user why obtaining the file's blob failed (step is not Done).
std::wstring transferFailureText(CacheFetch step, const std::wstring& installDir, const ManifestFile& file);
