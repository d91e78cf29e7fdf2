#pragma once
// Worker body in Install and Update modes: manifest, plan, every changed file staged, then one commit
// (renames, dropped files, record), shortcuts, entry.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/manifest.h"
#include "engine/run_context.h"

struct RunPlan {
    std::vector<const ManifestFile*> fetchList;  // in manifest order
    std::vector<const FilePatch*> patches;       // for each of fetchList: the patch planned for it, or null
    uint64_t installedSize = 0;                  // size of every selected file, fetched or not
    uint64_t downloadTotal = 0;                  // over fetchList: the patch's size where one is planned, else csize
};

// Which selected files must be fetched: those whose recorded digest differs, or that are missing or of
// another size on disk; and which of them a patch serves (the files on disk with one are hashed).
RunPlan planRun(const Manifest& manifest, const nlohmann::json& recordedFiles,
                const std::array<bool, 5>& selectedComponents, const std::wstring& installDir);
// The keys of the recorded files that the new installation no longer contains (dropped from the release, or
// of a component no longer selected); the commit deletes them.
std::vector<std::string> droppedRecordKeys(const Manifest& manifest, const nlohmann::json& recordedFiles,
                                           const std::array<bool, 5>& selectedComponents,
                                           const std::wstring& installDir);

// The whole run. True when the installation is the release's, then installedVersion is its version;
// otherwise the run has called run.reportFailure once, and the installation is as it was before.
bool installRun(const RunContext& run, std::string& installedVersion);
