#pragma once
// Inputs for LZMS round trips, each chosen to drive one part of the format: text (literals and LZ
// matches), real x86-64 code (the x86 translation), tables of 16- and 32-bit values (delta matches), long
// repeats (long, overlapping matches) and random bytes (stored chunks).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LzmsSample {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> sampleText(size_t size);
std::vector<uint8_t> sampleX86Code(size_t size);
std::vector<uint8_t> sampleTable16(size_t size);
std::vector<uint8_t> sampleTable32(size_t size);
std::vector<uint8_t> sampleLongRepeats(size_t size);
std::vector<uint8_t> sampleRandom(size_t size, uint32_t seed);

// One of each kind, of about `size` bytes.
std::vector<LzmsSample> allLzmsSamples(size_t size);
