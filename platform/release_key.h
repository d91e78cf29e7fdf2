#pragma once
// The release public key as the executable holds it: its Base64 text XOR an index hash. The data comes
// from a source file that the build generates from MAKETOR_RELEASE_KEY (cmake/release-key.cmake).
#include <cstddef>
#include <cstdint>

constexpr size_t kReleaseKeyTextLength = 88;

// Multiplier, xor, and the two mixing multipliers of the index hash.
extern const uint32_t kReleaseKeyHash[4];
extern const uint8_t kScrambledReleaseKey[kReleaseKeyTextLength];
