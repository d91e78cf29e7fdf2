// resign --key PRIVATE_KEY --expires-in DURATION RELEASE_DIR: the release in RELEASE_DIR signed again with a
// fresh expiry, for a scheduled job that keeps a release with an expiry alive. Only manifest.json (its
// "expires" key, every other key as it was) and manifest.sig change; blobs and patches are not read.
//
// The manifest must carry this key's valid signature already: re-signing vouches for what the key signed
// before, never for a manifest someone changed on the way.
#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "engine/manifest.h"
#include "engine/release_freshness.h"
#include "tools/publisher/arguments.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/key_files.h"
#include "tools/publisher/manifest_writing.h"
#include "tools/publisher/previous_release.h"
#include "tools/publisher/signing.h"

int runResign(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {"key", "expires-in"}, parsed, problem) || parsed.options.count("key") == 0 ||
        parsed.options.count("expires-in") == 0 || parsed.operands.size() != 1)
        return failUsage((problem.empty() ? "" : problem + "; ") +
                         "usage: maketor-publish resign --key PRIVATE_KEY --expires-in DURATION RELEASE_DIR");
    int64_t expiresIn = 0;
    if (!parseDuration(parsed.options["expires-in"], expiresIn))
        return fail("--expires-in: a whole number of days, hours, minutes or seconds (7d, 36h, 90m, 3600s), from "
                    "one minute to ten years");
    const std::filesystem::path releaseDir = parsed.operands[0];

    UniquePkey key;
    P256Pair publicKey;
    if (!readPrivateKeyFile(parsed.options["key"], key, publicKey, problem)) return fail(problem);
    PreviousRelease current;
    if (!readPreviousRelease(releaseDir, publicKey, current, problem)) return fail(problem);

    const std::string expires = utcTimeText(currentUtcSeconds() + expiresIn);
    const std::string manifestText =
        publishedManifestText(withExpiry(nlohmann::ordered_json::parse(current.manifestText), expires));
    Manifest check;
    if (!parseManifest(manifestText, check, problem)) return fail("the re-signed manifest breaks a rule: " + problem);
    if (!writeSignedManifest(releaseDir, key.get(), manifestText, problem)) return fail(problem);
    std::printf("%s: release %s signed again, expires %s\n", releaseDir.c_str(), check.version.c_str(),
                expires.c_str());
    return 0;
}
