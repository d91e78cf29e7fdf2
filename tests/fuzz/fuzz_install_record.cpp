// libFuzzer target over the install record reader: "install.json" is a file the user (or anything running
// as the user) can write, so its text may be anything. The text is parsed as the product reads it, and the
// recorded files and the component choice are taken from it as the install run and start-up take them.
#include "engine/install_record_reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Hardware vendors of the optional components' adapter rule, and one of no component.
const std::vector<uint32_t> kAdapterSets[] = {{}, {0x10DE}, {0x1002, 0x8086}, {0x1234}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const InstallRecord record = parseInstallRecord(text);
    const nlohmann::json files = recordedFilesOf(record);
    check(files.is_object());
    for (const std::vector<uint32_t>& adapters : kAdapterSets) {
        const std::array<bool, 5> selected = preselectComponents(record, adapters);
        check(selected[0]);  // the core is always installed
    }
    return 0;
}
