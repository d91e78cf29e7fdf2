#pragma once
// Earlier published releases, read for the patches of a new one: their signed manifests and their files'
// content from their blobs.
#include <filesystem>
#include <string>

#include "engine/manifest.h"
#include "tools/publisher/blob_unpack.h"
#include "tools/publisher/signing.h"

struct PreviousRelease {
    std::filesystem::path folder;
    std::string manifestText;  // the signed bytes
    Manifest manifest;
};

// Reads folder's manifest.json, accepted only when manifest.sig signs it with publicKey and it keeps the
// product's rules. False, with problem set, otherwise.
bool readPreviousRelease(const std::filesystem::path& folder, const P256Pair& publicKey, PreviousRelease& release,
                         std::string& problem);

// The file of SHA-256 sha256, unpacked from folder's blobs/<sha256>.lzms with our decoder and checked against
// that digest. False, with problem set, when the blob is missing or does not unpack to it.
bool readOldFile(const std::filesystem::path& folder, const std::string& sha256, UnpackedBlob& content,
                 std::string& problem);
