#include "tools/publisher/release_order.h"

#include "engine/version_order.h"
#include "tools/publisher/previous_release.h"

bool mayPublishOver(const std::filesystem::path& releaseDir, const std::string& version, const P256Pair& publicKey,
                    std::string& problem) {
    std::error_code error;
    if (!std::filesystem::exists(releaseDir / "manifest.json", error) &&
        !std::filesystem::exists(releaseDir / "manifest.sig", error))
        return true;
    PreviousRelease current;
    if (!readPreviousRelease(releaseDir, publicKey, current, problem)) {
        problem += "; cannot tell whether " + version + " comes after the release there (--allow-downgrade "
                   "publishes over it all the same)";
        return false;
    }
    if (compareVersions(version, current.manifest.version) != VersionOrder::Older) return true;
    problem = releaseDir.string() + " holds release " + current.manifest.version + ", which comes after " + version +
              ": clients that have it would refuse " + version + ". To withdraw " + current.manifest.version +
              ", publish the earlier files as a version after it; --allow-downgrade publishes " + version +
              " all the same";
    return false;
}
