#pragma once
// The manifest as the publisher writes it into a release folder: its text, its optional expiry ("expires",
// set by release --expires-in and by resign: a UTC time that far from now; a vendor who sets one signs the
// release again before it passes, or every client refuses it), and its signature.
#include <cstdint>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/publisher/signing.h"

// A span of time as the command line gives it: a whole number and a unit, d (days), h (hours), m (minutes)
// or s (seconds): "7d", "36h". From one minute to ten years; false for anything else.
bool parseDuration(const std::string& text, int64_t& seconds);

// The manifest's keys in their order, "expires" set to expires: in its place when the manifest has one,
// otherwise right after "date" (or last).
nlohmann::ordered_json withExpiry(const nlohmann::ordered_json& manifest, const std::string& expires);

// The text of a manifest as the publisher writes it: one space of indent, a line break at the end.
std::string publishedManifestText(const nlohmann::ordered_json& manifest);

// Signs the text with key and writes manifest.json, then manifest.sig, each through a rename. False, with
// problem naming what failed, otherwise.
bool writeSignedManifest(const std::filesystem::path& releaseDir, EVP_PKEY* key, const std::string& text,
                         std::string& problem);
