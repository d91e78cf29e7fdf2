#pragma once
// Background fetch of the signed manifest at start-up: offered version and per-component sizes.
#include <array>
#include <cstdint>

#include "engine/manifest.h"

// Installed bytes per component of the release.
std::array<uint64_t, 5> componentSizesOf(const Manifest& manifest);

void runReleaseCheck();
