#pragma once
// One file of the run staged: its blob from the download cache or the server (streamed into the cache,
// continued where an earlier run left it), both digests checked, unpacked chunk by chunk into the target's
// ".new" sibling. The commit of the run renames the staged files over their targets.
#include <cstddef>
#include <string>

#include "engine/manifest.h"

// The download cache folder inside the installation folder. It keeps every verified blob, and the part of
// the one in flight, until a run succeeds.
extern const wchar_t* const downloadCacheName;

// position is 1-based within count. True when the file's ".new" sibling holds its verified content. On
// failure the reason has been reported through reportFailure, and no ".new" sibling is left. With a patch
// (planned for the file on disk) the patch is tried first and the blob fetched only when it fails.
bool transferFile(size_t position, size_t count, const ManifestFile& file, const FilePatch* patch = nullptr);

// Something the run fetches into the download cache, named and checked by its digest: a blob or a patch.
struct CachePaths {
    std::wstring complete;  // whole, only ever with the right digest
    std::wstring partial;   // complete + ".part": as far as it has arrived
};
struct Download {
    std::wstring requestPath;  // on the download host
    CachePaths paths;
    uint64_t csize = 0;   // its bytes
    std::string csha256;  // its SHA-256
};
enum class CacheFetch { Done, Cancelled, NotDownloaded, Damaged, NotWritten };

// The download of requestPath kept in the cache as cacheName.
Download cachedDownload(const std::wstring& requestPath, const std::wstring& cacheName, uint64_t size,
                        const std::string& sha256);
// Done when the cache holds it whole and right: taken from there, else downloaded (continued from a part an
// earlier run left). Its bytes count as progress either way.
CacheFetch fetchIntoCache(const Download& download);
