#pragma once
// The signed release manifest from the download host: fetched, its signature checked, then parsed.
#include "engine/manifest.h"
#include "platform/http.h"

enum class ReleaseFetch { Trusted, NoConnection, NotTrusted };

// Trusted only when both downloads succeeded, the signature holds and the manifest parsed. A stop seen by
// control fails the download.
ReleaseFetch fetchReleaseManifest(const BodyFetch& fetch, const FetchControl& control, Manifest& manifest);
