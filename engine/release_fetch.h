#pragma once
// The signed release manifest from the download host: fetched, its signature checked, then parsed.
#include "engine/manifest.h"

enum class ReleaseFetch { Trusted, NoConnection, NotTrusted };

// Trusted only when both downloads succeeded, the signature holds and the manifest parsed. Progress is
// not counted; a cancellation fails the download.
ReleaseFetch fetchReleaseManifest(Manifest& manifest);
