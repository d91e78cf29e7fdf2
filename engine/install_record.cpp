#include "engine/install_record.h"

#include <windows.h>

#include "engine/components.h"
#include "platform/file_system.h"
#include "platform/text.h"

const wchar_t* const installRecordName = L"install.json";

namespace {

std::string withCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

std::string installRecordText(const Manifest& manifest, const std::array<bool, 5>& selectedComponents) {
    nlohmann::json files = nlohmann::json::object();
    for (const ManifestFile& file : manifest.files)
        if (selectedComponents[componentOfPath(file.path)]) files[file.path] = file.sha256;
    nlohmann::json components = nlohmann::json::array();
    nlohmann::json offered = nlohmann::json::array();
    for (int id = 0; id < 5; ++id) {
        offered.push_back(componentTable[id].id);
        if (selectedComponents[id]) components.push_back(componentTable[id].id);
    }
    nlohmann::json record = nlohmann::json::object();
    record["version"] = manifest.version;
    record["files"] = std::move(files);
    record["components"] = std::move(components);
    record["offered"] = std::move(offered);
    return installRecordTextOf(record);
}

std::string installRecordTextOf(const nlohmann::json& record) {
    // The signed manifest holds valid UTF-8; should a byte sequence not be, it is replaced, not thrown on.
    return withCrLf(record.dump(1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void writeInstallRecord(const std::wstring& installDir, const Manifest& manifest,
                        const std::array<bool, 5>& selectedComponents) {
    writeInstallRecordText(installDir, installRecordText(manifest, selectedComponents));
}

bool writeInstallRecordText(const std::wstring& installDir, const std::string& text) {
    return replaceFileContent(pathJoin(installDir, installRecordName), text.data(), text.size());
}

InstallRecord readInstallRecord(const std::wstring& installDir) {
    std::string text;
    if (!readWholeFile(pathJoin(installDir, installRecordName), text)) return nlohmann::json::object();
    return parseInstallRecord(text);
}
