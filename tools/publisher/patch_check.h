#pragma once
// A patch applied as the product applies it (platform/zstd_patch) and its result checked.
#include <cstddef>
#include <cstdint>
#include <string>

// True when patch, applied to old, yields exactly size bytes whose SHA-256 is sha256; otherwise false with
// problem set.
bool patchYields(const uint8_t* old, size_t oldSize, const uint8_t* patch, size_t patchSize, uint64_t size,
                 const std::string& sha256, std::string& problem);
