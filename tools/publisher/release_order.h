#pragma once
// A release never replaces a later one by accident: clients that have the later version would refuse it,
// and the clients that took the folder's release in the meantime would stay on it.
#include <filesystem>
#include <string>

#include "tools/publisher/signing.h"

// Whether version may be published into releaseDir: when the folder holds no release yet, or its release
// (signed with publicKey) does not come after version in the version order. False, with problem set,
// otherwise, and when the folder's release cannot be read to tell.
bool mayPublishOver(const std::filesystem::path& releaseDir, const std::string& version, const P256Pair& publicKey,
                    std::string& problem);
