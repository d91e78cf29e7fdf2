#pragma once
// The packs of a release: the blobs of its small files concatenated into "packs/<sha256>.pack", so that a
// client needs a few requests for thousands of files. Files installed together lie together: a pack holds one
// component's blobs, folder by folder, up to a size cap. Every blob stays published on its own as well.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/manifest.h"

// Large enough that a first install of a catalogue of small files is a few requests, small enough that an
// update needing most of a pack wastes little on the rest.
constexpr uint64_t kDefaultPackSizeCap = uint64_t(8) << 20;

// A file of the release as packing sees it: its path and its blob.
struct PackCandidate {
    std::string path;
    std::string sha256;
    uint64_t csize = 0;
    std::string csha256;
};

// The packs to make, each a list of indices into files in pack order: blobs up to kLargestPackedBlob, each
// content once, grouped by component, then folder, then path; a pack never spans two components nor grows past
// sizeCap, and one that would hold a single blob is not made (it would save no request).
std::vector<std::vector<size_t>> planPacks(const std::vector<PackCandidate>& files, uint64_t sizeCap);

// Writes each planned pack from the blobs in releaseDir/blobs (each checked against its csize and csha256)
// as releaseDir/packs/<sha256>.pack and describes it in packs. False with problem set at the first failure.
bool writePacks(const std::filesystem::path& releaseDir, const std::vector<PackCandidate>& files,
                const std::vector<std::vector<size_t>>& plan, std::vector<ReleasePack>& packs, std::string& problem);

// The manifest's "packs" value.
nlohmann::ordered_json packsJson(const std::vector<ReleasePack>& packs);
