#pragma once
// The signed release manifest from the download host: fetched, its signature checked, then parsed.
#include <cstdint>

#include "engine/manifest.h"
#include "platform/http.h"

enum class ReleaseFetch { Trusted, NoConnection, NotTrusted, ProxySignIn };

// The most either file may hold; a server that sends or announces more is not trusted. A manifest of 100,000
// files takes about 27 MiB, 48 MiB with a patch for each from one earlier release, 86 MiB with three.
constexpr uint64_t kLargestManifest = uint64_t{128} << 20;
constexpr uint64_t kLargestSignature = uint64_t{4} << 10;

// Trusted only when both downloads succeeded, the signature holds and the manifest parsed. A stop seen by
// control fails the download.
ReleaseFetch fetchReleaseManifest(const BodyFetch& fetch, const FetchControl& control, Manifest& manifest);
