#pragma once
// A release's packs checked as the product takes blobs out of them: each pack whole, with its size and SHA-256,
// and every blob at its offset with the length and SHA-256 of the blob it stands for. Memory: one piece of the
// pack at a time, whatever its size.
#include <filesystem>
#include <string>

#include "engine/manifest.h"

// Empty when the manifest's "packs" value was well formed and every pack it lists is right; otherwise the first
// problem, naming the pack (and the blob).
std::string packsProblem(const std::filesystem::path& releaseDir, const Manifest& manifest);
