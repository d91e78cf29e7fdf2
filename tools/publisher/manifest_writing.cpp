#include "tools/publisher/manifest_writing.h"

#include "tools/publisher/file_io.h"

namespace {

constexpr int64_t kShortestSpan = 60;
constexpr int64_t kLongestSpan = int64_t(3653) * 24 * 60 * 60;

struct DurationUnit {
    char suffix;
    int64_t seconds;
};
const DurationUnit kDurationUnits[] = {{'d', 24 * 60 * 60}, {'h', 60 * 60}, {'m', 60}, {'s', 1}};

}  // namespace

bool parseDuration(const std::string& text, int64_t& seconds) {
    if (text.size() < 2 || text.size() > 12) return false;
    const std::string number = text.substr(0, text.size() - 1);
    if (number.find_first_not_of("0123456789") != std::string::npos) return false;
    int64_t unit = 0;
    for (const DurationUnit& known : kDurationUnits)
        if (text.back() == known.suffix) unit = known.seconds;
    if (unit == 0) return false;
    const int64_t count = std::stoll(number);
    if (count > kLongestSpan / unit) return false;
    seconds = count * unit;
    return seconds >= kShortestSpan;
}

nlohmann::ordered_json withExpiry(const nlohmann::ordered_json& manifest, const std::string& expires) {
    if (manifest.contains("expires")) {
        nlohmann::ordered_json changed = manifest;
        changed["expires"] = expires;
        return changed;
    }
    nlohmann::ordered_json changed = nlohmann::ordered_json::object();
    for (const auto& item : manifest.items()) {
        changed[item.key()] = item.value();
        if (item.key() == "date") changed["expires"] = expires;
    }
    if (!changed.contains("expires")) changed["expires"] = expires;
    return changed;
}

std::string publishedManifestText(const nlohmann::ordered_json& manifest) { return manifest.dump(1) + "\n"; }

bool writeSignedManifest(const std::filesystem::path& releaseDir, EVP_PKEY* key, const std::string& text,
                         std::string& problem) {
    P256Pair signature;
    if (!signMessage(key, text, signature)) {
        problem = "OpenSSL could not sign the manifest";
        return false;
    }
    const std::filesystem::path manifestPath = releaseDir / "manifest.json";
    const std::filesystem::path signaturePath = releaseDir / "manifest.sig";
    if (!writeFileReplacing(manifestPath, text)) {
        problem = manifestPath.string() + ": cannot be written";
        return false;
    }
    if (!writeFileReplacing(signaturePath, encodeBase64(signature))) {
        problem = signaturePath.string() + ": cannot be written";
        return false;
    }
    return true;
}
