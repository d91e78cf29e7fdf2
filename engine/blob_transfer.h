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
// failure the reason has been reported through reportFailure, and no ".new" sibling is left.
bool transferFile(size_t position, size_t count, const ManifestFile& file);
