#pragma once
// Reading the install record "install.json": text that any program of the user may have written, so every
// reader here takes whatever JSON (or none) it finds and never trusts its shape.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The parsed record; readers take the members they need.
using InstallRecord = nlohmann::json;

// The record in text; an empty object when the text is not JSON or is nested deeper than a record can be.
InstallRecord parseInstallRecord(const std::string& text);
// The record's "files" member: an empty object when the record has none or it is not an object.
nlohmann::json recordedFilesOf(const InstallRecord& record);
// Core always; each optional component from the previous choice when the record shows it was offered,
// from the recorded files for an older record without a choice, and otherwise from the adapters.
std::array<bool, 5> preselectComponents(const InstallRecord& record, const std::vector<uint32_t>& gpuVendorIds);
