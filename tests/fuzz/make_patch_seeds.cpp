// Seeds for fuzz_zstd_patch: for each pair of files OLD NEW given, the input the target reads, with the
// patch the publisher's own code makes between them.
//   make_patch_seeds OUTPUT_FOLDER OLD NEW [OLD NEW]...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/publisher/patch_make.h"

namespace {

std::vector<uint8_t> readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void putWord(std::vector<uint8_t>& out, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(word >> shift));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fputs("usage: make_patch_seeds OUTPUT_FOLDER OLD NEW [OLD NEW]...\n", stderr);
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::vector<uint8_t> old = readAll(argv[i]);
        const std::vector<uint8_t> fresh = readAll(argv[i + 1]);
        std::vector<uint8_t> patch;
        std::string problem;
        if (!makePatch(old.data(), old.size(), fresh.data(), fresh.size(), patch, problem)) {
            std::fprintf(stderr, "make_patch_seeds: %s -> %s: %s\n", argv[i], argv[i + 1], problem.c_str());
            return 1;
        }
        std::vector<uint8_t> seed;
        putWord(seed, uint32_t(old.size()));
        putWord(seed, uint32_t(fresh.size()));
        seed.push_back(uint8_t(i * 37));  // pieces of several sizes
        seed.insert(seed.end(), old.begin(), old.end());
        seed.insert(seed.end(), patch.begin(), patch.end());
        const std::string name = std::string(argv[1]) + "/pair-" + std::to_string(i / 2);
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(seed.data()), seed.size());
    }
    return 0;
}
