#include "lzms_samples.h"

#include <fstream>
#include <iterator>
#include <random>

namespace {

std::vector<uint8_t> readPrefix(const char* path, size_t size) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    char buffer[65536];
    while (bytes.size() < size && in.read(buffer, sizeof buffer).gcount() > 0)
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    if (bytes.size() > size) bytes.resize(size);
    return bytes;
}

// Repeats bytes up to size; an empty source gives an empty result.
std::vector<uint8_t> repeatTo(std::vector<uint8_t> bytes, size_t size) {
    if (bytes.empty()) return bytes;
    const size_t original = bytes.size();
    while (bytes.size() < size) bytes.push_back(bytes[bytes.size() - original]);
    bytes.resize(size);
    return bytes;
}

}  // namespace

std::vector<uint8_t> sampleText(size_t size) {
    std::vector<uint8_t> text;
    for (const char* header : {"/usr/include/wimlib.h", "/usr/include/stdio.h", "/usr/include/stdlib.h",
                               "/usr/include/unistd.h", "/usr/include/string.h"}) {
        const std::vector<uint8_t> part = readPrefix(header, size);
        text.insert(text.end(), part.begin(), part.end());
    }
    return repeatTo(std::move(text), size);
}

// The running test program is real x86-64 machine code.
std::vector<uint8_t> sampleX86Code(size_t size) { return repeatTo(readPrefix("/proc/self/exe", size), size); }

std::vector<uint8_t> sampleTable16(size_t size) {
    std::vector<uint8_t> table;
    for (uint32_t i = 0; table.size() < size; ++i) {
        const uint16_t value = uint16_t(1000 + 7 * i + (i / 64) * 3);
        table.push_back(uint8_t(value));
        table.push_back(uint8_t(value >> 8));
    }
    table.resize(size);
    return table;
}

std::vector<uint8_t> sampleTable32(size_t size) {
    std::vector<uint8_t> table;
    for (uint32_t i = 0; table.size() < size; ++i) {
        const uint32_t row[2] = {0x00100000u + 4096 * i, 0x7FFF0000u - 12 * i};
        for (uint32_t value : row)
            for (int k = 0; k < 4; ++k) table.push_back(uint8_t(value >> (8 * k)));
    }
    table.resize(size);
    return table;
}

std::vector<uint8_t> sampleLongRepeats(size_t size) {
    std::vector<uint8_t> bytes;
    std::mt19937 random(7);
    while (bytes.size() < size) {
        // A run of one byte, then a short random phrase repeated many times.
        bytes.insert(bytes.end(), 3000 + random() % 5000, uint8_t(random()));
        std::vector<uint8_t> phrase(1 + random() % 13);
        for (uint8_t& b : phrase) b = uint8_t(random());
        for (unsigned r = 0; r < 500; ++r) bytes.insert(bytes.end(), phrase.begin(), phrase.end());
    }
    bytes.resize(size);
    return bytes;
}

std::vector<uint8_t> sampleRandom(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = uint8_t(random());
    return bytes;
}

std::vector<LzmsSample> allLzmsSamples(size_t size) {
    return {{"text", sampleText(size)},           {"x86-code", sampleX86Code(size)},
            {"table16", sampleTable16(size)},     {"table32", sampleTable32(size)},
            {"long-repeats", sampleLongRepeats(size)}, {"random", sampleRandom(size, 1)}};
}
