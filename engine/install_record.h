#pragma once
// The install record "install.json" in the installation folder: what the last successful run installed.
#include <array>
#include <string>

#include "engine/install_record_reader.h"
#include "engine/manifest.h"

// File name of the record inside the installation folder.
extern const wchar_t* const installRecordName;

// The record's text: keys sorted, one space of indent, raw UTF-8, CR LF line breaks, no break at the end.
std::string installRecordText(const Manifest& manifest, const std::array<bool, 5>& selectedComponents);
// Writes the record into installDir through "install.json.new" and a rename, so that a crash leaves either
// the old record or the new one. Failures are silent: the next run then reads the old record.
void writeInstallRecord(const std::wstring& installDir, const Manifest& manifest,
                        const std::array<bool, 5>& selectedComponents);
// The same with the record's text made already. False when it could not be written (GetLastError holds why);
// the old record is then as it was.
bool writeInstallRecordText(const std::wstring& installDir, const std::string& text);
// The text of a record given as JSON, in the form installRecordText writes.
std::string installRecordTextOf(const nlohmann::json& record);
// The record in installDir; an empty object when it is missing or not JSON.
InstallRecord readInstallRecord(const std::wstring& installDir);
