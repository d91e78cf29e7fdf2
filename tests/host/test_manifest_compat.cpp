// A release with every key added since, as copies installed earlier read it: an older manifest parser
// (compiled from the repository's history, tests/host/compat.cmake; MAKETOR_OLDER_PARSER names which) takes
// the release maketor-publish makes with --previous, --expires-in and packs, and sees the same files as
// without patches, expiry and packs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/manifest.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDevelopmentKey = fs::path(MAKETOR_SOURCE_DIR) / "keys" / "development.pem";

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

int publish(const fs::path& source, const fs::path& release, const char* version, const fs::path& previous) {
    std::string command = std::string("'") + MAKETOR_PUBLISH_EXE + "' release --key '" + kDevelopmentKey.string() +
                          "' --version " + version;
    if (previous.empty())
        command += " --pack-size 0";
    else
        command += " --previous '" + previous.string() + "' --expires-in 7d";
    command += " '" + source.string() + "' '" + release.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str());
}

TEST(OlderManifestParser, TakesAReleaseWithPatchesAnExpiryAndPacksAsTheSameFiles) {
    const fs::path scratch = fs::temp_directory_path() / ("maketor-compat-" + std::to_string(getpid()));
    fs::remove_all(scratch);
    std::string application(100000, '\0');
    for (size_t i = 0; i < application.size(); ++i) application[i] = char((i * 2654435761u) >> 13);
    writeText(scratch / "v1" / "maketor.exe", application);
    writeText(scratch / "v1" / "data" / "notes.txt", "shelf");
    for (int i = 0; i < 20; ++i) writeText(scratch / "v1" / "models" / ("m" + std::to_string(i)), std::to_string(i));
    fs::copy(scratch / "v1", scratch / "v2", fs::copy_options::recursive);
    application.replace(5000, 9, "changed!!");
    writeText(scratch / "v2" / "maketor.exe", application);
    ASSERT_EQ(publish(scratch / "v1", scratch / "release-1", "1.0", {}), 0);
    ASSERT_EQ(publish(scratch / "v2", scratch / "release-2", "2.0", scratch / "release-1"), 0);
    ASSERT_EQ(publish(scratch / "v2", scratch / "release-2-alone", "2.0", {}), 0);
    const std::string withPatches = readText(scratch / "release-2" / "manifest.json");
    ASSERT_NE(withPatches.find("\"patches\""), std::string::npos) << withPatches;
    ASSERT_NE(withPatches.find("\"expires\""), std::string::npos) << withPatches;
    ASSERT_NE(withPatches.find("\"packs\""), std::string::npos) << withPatches;

    Manifest before;
    Manifest alone;
    std::string problem;
    EXPECT_TRUE(parseManifest(withPatches, before, problem)) << problem;
    ASSERT_TRUE(parseManifest(readText(scratch / "release-2-alone" / "manifest.json"), alone));
    EXPECT_EQ(before.version, alone.version);
    EXPECT_EQ(before.expires, "") << "that parser knew nothing of an expiry";
    EXPECT_TRUE(before.packs.empty()) << "that parser knew nothing of packs";
    ASSERT_EQ(before.files.size(), alone.files.size());
    for (size_t i = 0; i < alone.files.size(); ++i) {
        EXPECT_EQ(before.files[i].path, alone.files[i].path);
        EXPECT_EQ(before.files[i].sha256, alone.files[i].sha256);
        EXPECT_EQ(before.files[i].csha256, alone.files[i].csha256);
        EXPECT_EQ(before.files[i].size, alone.files[i].size);
        EXPECT_EQ(before.files[i].csize, alone.files[i].csize);
        if (std::string(MAKETOR_OLDER_PARSER) == "before-patches") {
            EXPECT_TRUE(before.files[i].patches.empty()) << "that parser knew nothing of patches";
        }
    }
    if (std::string(MAKETOR_OLDER_PARSER) != "before-patches") {
        size_t patched = 0;
        for (const ManifestFile& file : before.files) patched += file.patches.size();
        EXPECT_EQ(patched, 1u) << "maketor.exe's patch";
    }
    fs::remove_all(scratch);
}

}  // namespace
