// Writes the LZMS fixtures that the Wine tests unpack with the product's code: the genuine Windows blobs
// and blobs made by our writer (libwim), each NAME.lzms beside the NAME.raw it must give, and index.txt
// with one NAME a line. Usage: make_lzms_fixtures GENUINE_DIR OUT_DIR
#include "lzms_samples.h"
#include "tools/publisher/lzms_compress.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

bool writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_lzms_fixtures GENUINE_DIR OUT_DIR\n");
        return 2;
    }
    const fs::path genuine = argv[1], out = argv[2];
    std::error_code error;
    fs::create_directories(out, error);
    std::string index;

    for (const char* name : {"english", "pattern", "random", "sequential", "single_byte", "small", "zeros"}) {
        for (const char* extension : {".raw", ".lzms"}) {
            const std::string file = std::string(name) + extension;
            if (!fs::copy_file(genuine / file, out / file, fs::copy_options::overwrite_existing, error)) {
                std::fprintf(stderr, "make_lzms_fixtures: cannot copy %s\n", file.c_str());
                return 1;
            }
        }
        index += std::string(name) + "\n";
    }

    struct Made {
        std::string name;
        std::vector<uint8_t> bytes;
        uint64_t blockSize;
    };
    std::vector<Made> made;
    for (LzmsSample& sample : allLzmsSamples(200000))
        made.push_back({"libwim-" + sample.name, std::move(sample.bytes), uint64_t(64) << 20});
    made.push_back({"libwim-chunks-32k", sampleText(300000), uint64_t(32) << 10});
    made.push_back({"libwim-empty", {}, uint64_t(64) << 20});
    for (const Made& item : made) {
        std::vector<uint8_t> blob;
        if (!compressLzmsBlob(item.bytes.data(), item.bytes.size(), item.blockSize, blob) ||
            !writeFile(out / (item.name + ".raw"), item.bytes) || !writeFile(out / (item.name + ".lzms"), blob)) {
            std::fprintf(stderr, "make_lzms_fixtures: cannot make %s\n", item.name.c_str());
            return 1;
        }
        index += item.name + "\n";
    }
    std::ofstream(out / "index.txt", std::ios::trunc) << index;
    return 0;
}
