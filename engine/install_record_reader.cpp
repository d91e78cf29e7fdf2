#include "engine/install_record_reader.h"

#include <algorithm>

#include "engine/components.h"

namespace {

// The record this program writes is three levels deep. Deeper text is not a record of ours, and values
// nested without end would exhaust the stack where the JSON library copies or compares them recursively.
constexpr int kMaxRecordDepth = 16;

bool arrayHasString(const InstallRecord& record, const char* member, const char* text) {
    const auto value = record.find(member);
    if (value == record.end() || !value->is_array()) return false;
    return std::any_of(value->begin(), value->end(),
                       [text](const nlohmann::json& item) { return item.is_string() && item.get<std::string>() == text; });
}

bool recordListsFileOf(const InstallRecord& record, int component) {
    const nlohmann::json files = recordedFilesOf(record);
    for (const auto& entry : files.items())
        if (componentOfPath(entry.key()) == component) return true;
    return false;
}

bool adapterRule(int component, const std::vector<uint32_t>& gpuVendorIds) {
    const uint32_t vendor = componentTable[component].gpuVendorId;
    return vendor != 0 && std::find(gpuVendorIds.begin(), gpuVendorIds.end(), vendor) != gpuVendorIds.end();
}

}  // namespace

InstallRecord parseInstallRecord(const std::string& text) {
    bool tooDeep = false;
    const auto limitDepth = [&tooDeep](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > kMaxRecordDepth) tooDeep = true;
        return !tooDeep;  // nothing more is kept once the text has gone too deep
    };
    InstallRecord record = nlohmann::json::parse(text, limitDepth, false);
    if (tooDeep || record.is_discarded()) return nlohmann::json::object();
    return record;
}

nlohmann::json recordedFilesOf(const InstallRecord& record) {
    if (!record.is_object()) return nlohmann::json::object();
    const auto files = record.find("files");
    if (files == record.end() || !files->is_object()) return nlohmann::json::object();
    return *files;
}

std::array<bool, 5> preselectComponents(const InstallRecord& record, const std::vector<uint32_t>& gpuVendorIds) {
    std::array<bool, 5> selected{};
    selected[ComponentCore] = true;
    const bool isObject = record.is_object();
    const bool hasChoice = isObject && record.contains("components");
    for (int component = 1; component < 5; ++component) {
        const char* id = componentTable[component].id;
        if (hasChoice && arrayHasString(record, "offered", id))
            selected[component] = arrayHasString(record, "components", id);
        else if (!hasChoice && isObject && recordListsFileOf(record, component))
            selected[component] = true;
        else
            selected[component] = adapterRule(component, gpuVendorIds);
    }
    return selected;
}
