#pragma once
// One file of the run: blob from the download cache or the server, both digests checked, unpacked, placed
// through a ".new" sibling and a rename.
#include <cstddef>
#include <string>

#include "engine/manifest.h"

// The download cache folder inside the installation folder.
extern const wchar_t* const downloadCacheName;

// position is 1-based within count. On failure the reason has been reported through reportFailure.
bool transferFile(size_t position, size_t count, const ManifestFile& file);
