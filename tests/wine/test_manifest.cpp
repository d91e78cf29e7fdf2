// The rules of the release manifest. Plain C++: the host tests build this same file, under sanitizers.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "engine/file_name_case.h"
#include "engine/manifest.h"

namespace {

using Json = nlohmann::ordered_json;

const char* const kDigestA = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char* const kDigestB = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

Json validManifest() {
    return Json{{"app", "maketor"},
                {"version", "2.4.1"},
                {"date", "2024-05-01"},
                {"exe", "maketor.exe"},
                {"files",
                 {{{"path", "maketor.exe"}, {"size", 1000}, {"sha256", kDigestA}, {"csize", 400}, {"csha256", kDigestB}},
                  {{"path", "licenses/amd-fsr.txt"}, {"size", 7}, {"sha256", kDigestB}, {"csize", 9},
                   {"csha256", kDigestA}}}}};
}

struct ManifestCase {
    const char* name;
    std::function<void(Json&)> change;
    bool accepted;
};

Json& firstFile(Json& manifest) { return manifest["files"][0]; }
std::function<void(Json&)> setPath(const char* path) {
    return [path](Json& m) { firstFile(m)["path"] = path; };
}

const ManifestCase kManifestCases[] = {
    {"the valid manifest", [](Json&) {}, true},
    {"app in another letter case", [](Json& m) { m["app"] = "Maketor"; }, false},
    {"app with a trailing space", [](Json& m) { m["app"] = "maketor "; }, false},
    {"app missing", [](Json& m) { m.erase("app"); }, false},
    {"app a number", [](Json& m) { m["app"] = 7; }, false},
    {"version empty", [](Json& m) { m["version"] = ""; }, false},
    {"version missing", [](Json& m) { m.erase("version"); }, false},
    {"version a number", [](Json& m) { m["version"] = 2; }, false},
    {"date a number", [](Json& m) { m["date"] = 20240501; }, false},
    {"exe null", [](Json& m) { m["exe"] = nullptr; }, false},
    {"date and exe missing", [](Json& m) { m.erase("date"), m.erase("exe"); }, true},
    {"files empty", [](Json& m) { m["files"] = Json::array(); }, false},
    {"files missing", [](Json& m) { m.erase("files"); }, false},
    {"files an object of file objects", [](Json& m) { m["files"] = Json{{"a", firstFile(m)}}; }, false},
    {"a file that is a string", [](Json& m) { m["files"].push_back("maketor.exe"); }, false},
    {"path ../x", setPath("../x"), false},
    {"path a/../b", setPath("a/../b"), false},
    {"path x..y", setPath("x..y"), false},
    {"path ..", setPath(".."), false},
    {"path /abs", setPath("/abs"), false},
    {"path \\abs", setPath("\\abs"), false},
    {"path C:x", setPath("C:x"), false},
    {"path with a stream name", setPath("maketor.exe:alt"), false},
    {"path empty", setPath(""), false},
    {"path with a NUL", [](Json& m) { firstFile(m)["path"] = std::string("a\0b", 3); }, false},
    {"path with a line break", setPath("a\nb"), false},
    {"path with an inner backslash", setPath("licenses\\x.txt"), true},
    {"path in Cyrillic", setPath("шаблоны/стеллаж.obj"), true},
    // Windows drops trailing dots and spaces: these would be installed under another name.
    {"path ending in a dot", setPath("readme."), false},
    {"path ending in a space", setPath("readme "), false},
    {"folder ending in a dot", setPath("data./a.bin"), false},
    {"folder ending in a space", setPath("data /a.bin"), false},
    {"folder ending in a space, backslash", setPath("data \\a.bin"), false},
    {"path with inner dots and spaces", setPath("my data/a. b .txt"), true},
    {"path beginning with a dot", setPath(".config/a.bin"), true},
    // The setup program's own files in the installation folder.
    {"path install.json", setPath("install.json"), false},
    {"path Install.JSON", setPath("Install.JSON"), false},
    {"path install.json.new", setPath("install.json.new"), false},
    {"path install-commit.json", setPath("install-commit.json"), false},
    {"path install-commit.json.new", setPath("INSTALL-COMMIT.json.new"), false},
    {"path update-cache", setPath("update-cache"), false},
    {"path in update-cache", setPath("update-cache/0123.lzms"), false},
    {"path in Update-Cache, backslash", setPath("Update-Cache\\x"), false},
    {"path install.json in a folder", setPath("data/install.json"), true},
    {"path update-cache2/x", setPath("update-cache2/x"), true},
    {"path update-cache.txt", setPath("update-cache.txt"), true},
    {"path a number", [](Json& m) { firstFile(m)["path"] = 5; }, false},
    {"size 5.0", [](Json& m) { firstFile(m)["size"] = 5.0; }, true},
    {"size as a string", [](Json& m) { firstFile(m)["size"] = "5"; }, false},
    {"size true", [](Json& m) { firstFile(m)["size"] = true; }, false},
    {"size null", [](Json& m) { firstFile(m)["size"] = nullptr; }, false},
    {"size negative", [](Json& m) { firstFile(m)["size"] = -1; }, false},
    {"size negative fraction", [](Json& m) { firstFile(m)["size"] = -2.5; }, false},
    {"size beyond 64 bits", [](Json& m) { firstFile(m)["size"] = 1e30; }, false},
    {"size the largest 64-bit value", [](Json& m) { firstFile(m)["size"] = UINT64_MAX; }, true},
    {"csize as a string", [](Json& m) { firstFile(m)["csize"] = "400"; }, false},
    {"size missing", [](Json& m) { firstFile(m).erase("size"); }, false},
    {"csize missing", [](Json& m) { firstFile(m).erase("csize"); }, false},
    {"sha256 missing", [](Json& m) { firstFile(m).erase("sha256"); }, false},
    {"csha256 missing", [](Json& m) { firstFile(m).erase("csha256"); }, false},
    {"path missing", [](Json& m) { firstFile(m).erase("path"); }, false},
    {"sha256 in uppercase", [](Json& m) { firstFile(m)["sha256"] = std::string(64, 'A'); }, false},
    {"csha256 naming another folder", [](Json& m) { firstFile(m)["csha256"] = "../../../../x"; }, false},
    {"sha256 one digit short", [](Json& m) { firstFile(m)["sha256"] = std::string(63, 'a'); }, false},
    {"expires a UTC time", [](Json& m) { m["expires"] = "2025-07-01T12:00:00Z"; }, true},
    {"expires a date alone", [](Json& m) { m["expires"] = "2025-07-01"; }, false},
    {"expires with an offset", [](Json& m) { m["expires"] = "2025-07-01T12:00:00+03:00"; }, false},
    {"expires empty", [](Json& m) { m["expires"] = ""; }, false},
    {"expires a number", [](Json& m) { m["expires"] = 1751371200; }, false},
    {"expires null", [](Json& m) { m["expires"] = nullptr; }, false},
    {"unknown keys at the top and in a file",
     [](Json& m) {
         m["channel"] = "beta";
         firstFile(m)["mode"] = 493;
     },
     true},
};

TEST(ParseManifest, AppliesEveryRuleOfTheTable) {
    for (const ManifestCase& c : kManifestCases) {
        Json document = validManifest();
        c.change(document);
        Manifest manifest;
        std::string problem;
        EXPECT_EQ(parseManifest(document.dump(), manifest, problem), c.accepted) << c.name << ": " << problem;
        EXPECT_EQ(problem.empty(), c.accepted) << c.name;
    }
}

Json patchOf(const char* from, Json size, const char* sha256) {
    return Json{{"from", from}, {"size", size}, {"sha256", sha256}};
}

struct PatchesCase {
    const char* name;
    Json patches;
    size_t kept;  // patches the entry keeps; 0 with a problem named when the value is set aside
    bool setAside;
};

const PatchesCase kPatchesCases[] = {
    {"one patch", Json::array({patchOf(kDigestB, 120, kDigestA)}), 1, false},
    {"two patches from two old files",
     Json::array({patchOf(kDigestB, 120, kDigestA), patchOf(kDigestA, 7.0, kDigestB)}), 2, false},
    {"no patches", Json::array(), 0, false},
    {"an unknown key in a patch", Json::array({Json{{"from", kDigestB}, {"size", 1}, {"sha256", kDigestA}, {"x", 1}}}),
     1, false},
    {"an object instead of an array", patchOf(kDigestB, 120, kDigestA), 0, true},
    {"a string", "patches/abc.zst", 0, true},
    {"null", nullptr, 0, true},
    {"a patch that is a string", Json::array({kDigestA}), 0, true},
    {"from in uppercase", Json::array({patchOf(std::string(64, 'A').c_str(), 1, kDigestA)}), 0, true},
    {"sha256 naming another folder", Json::array({patchOf(kDigestB, 1, "../../manifest.json")}), 0, true},
    {"size negative", Json::array({patchOf(kDigestB, -1, kDigestA)}), 0, true},
    {"size a string", Json::array({patchOf(kDigestB, "120", kDigestA)}), 0, true},
    {"from missing", Json::array({Json{{"size", 1}, {"sha256", kDigestA}}}), 0, true},
    // One bad element costs the entry all its patches: what it lists is in doubt.
    {"a good patch and a bad one", Json::array({patchOf(kDigestB, 120, kDigestA), patchOf(kDigestB, true, kDigestA)}),
     0, true},
};

// A release with patches is a release older copies take as it is: the key is one more unknown key to them,
// and to this parser a malformed value only loses its entry's patches.
TEST(ParseManifest, ReadsPatchesAndSetsAsideAMalformedValueWithoutRefusingTheRelease) {
    for (const PatchesCase& c : kPatchesCases) {
        Json document = validManifest();
        document["files"][0]["patches"] = c.patches;
        Manifest manifest;
        std::string problem;
        ASSERT_TRUE(parseManifest(document.dump(), manifest, problem)) << c.name << ": " << problem;
        Manifest without;
        ASSERT_TRUE(parseManifest(validManifest().dump(), without));
        const ManifestFile& file = manifest.files[0];
        EXPECT_EQ(file.patches.size(), c.kept) << c.name;
        EXPECT_EQ(!file.patchesProblem.empty(), c.setAside) << c.name << ": " << file.patchesProblem;
        EXPECT_EQ(file.path, without.files[0].path) << c.name;
        EXPECT_EQ(file.sha256, without.files[0].sha256) << c.name;
        EXPECT_EQ(file.csha256, without.files[0].csha256) << c.name;
        EXPECT_EQ(file.csize, without.files[0].csize) << c.name;
        EXPECT_TRUE(manifest.files[1].patches.empty()) << c.name;
    }
    Json document = validManifest();
    document["files"][1]["patches"] = Json::array({patchOf(kDigestA, 33, kDigestB)});
    Manifest manifest;
    ASSERT_TRUE(parseManifest(document.dump(), manifest));
    ASSERT_EQ(manifest.files[1].patches.size(), 1u);
    EXPECT_EQ(manifest.files[1].patches[0].from, kDigestA);
    EXPECT_EQ(manifest.files[1].patches[0].sha256, kDigestB);
    EXPECT_EQ(manifest.files[1].patches[0].size, 33u);
    EXPECT_EQ(manifest.files[0].patchesProblem, "");
}

const char* const kPackDigest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

Json packedBlob(const char* sha256, Json offset) { return Json{{"sha256", sha256}, {"offset", offset}}; }
// The two blobs of validManifest() back to back: maketor.exe's 400 bytes, then the licence's 9.
Json packOf(Json size, Json blobs) { return Json{{"sha256", kPackDigest}, {"size", size}, {"blobs", blobs}}; }
Json bothBlobs() { return Json::array({packedBlob(kDigestA, 0), packedBlob(kDigestB, 400)}); }

struct PacksCase {
    const char* name;
    Json packs;
    size_t blobsKept;  // blobs the packs place; 0 with a problem named when the value is set aside
    bool setAside;
};

const PacksCase kPacksCases[] = {
    {"one pack of both blobs", Json::array({packOf(409, bothBlobs())}), 2, false},
    {"a gap between blobs and a longer pack", Json::array({packOf(1000, Json::array({packedBlob(kDigestA, 10),
                                                                                     packedBlob(kDigestB, 500)}))}),
     2, false},
    {"two packs of one blob each", Json::array({packOf(400, Json::array({packedBlob(kDigestA, 0)})),
                                                Json{{"sha256", kDigestA}, {"size", 9},
                                                     {"blobs", Json::array({packedBlob(kDigestB, 0)})}}}),
     2, false},
    {"no packs", Json::array(), 0, false},
    {"an unknown key", Json::array({Json{{"sha256", kPackDigest}, {"size", 409}, {"blobs", bothBlobs()}, {"x", 1}}}),
     2, false},
    {"an object instead of an array", packOf(409, bothBlobs()), 0, true},
    {"a pack that is a string", Json::array({"packs/x.pack"}), 0, true},
    {"a digest in uppercase", Json::array({Json{{"sha256", std::string(64, 'A')}, {"size", 409}, {"blobs", bothBlobs()}}}),
     0, true},
    {"a pack digest naming another folder",
     Json::array({Json{{"sha256", "../../manifest.json"}, {"size", 409}, {"blobs", bothBlobs()}}}), 0, true},
    {"size negative", Json::array({packOf(-1, bothBlobs())}), 0, true},
    {"no blobs", Json::array({packOf(409, Json::array())}), 0, true},
    {"blobs an object", Json::array({packOf(409, packedBlob(kDigestA, 0))}), 0, true},
    {"a blob of no file", Json::array({packOf(409, Json::array({packedBlob(kPackDigest, 0)}))}), 0, true},
    {"a blob without its offset", Json::array({packOf(409, Json::array({Json{{"sha256", kDigestA}}}))}), 0, true},
    {"a blob past the pack's end", Json::array({packOf(408, bothBlobs())}), 0, true},
    {"an offset that wraps around",
     Json::array({packOf(409, Json::array({packedBlob(kDigestA, 0), packedBlob(kDigestB, UINT64_MAX - 4)}))}), 0, true},
    {"blobs overlapping", Json::array({packOf(409, Json::array({packedBlob(kDigestA, 0), packedBlob(kDigestB, 399)}))}),
     0, true},
    {"blobs out of order", Json::array({packOf(409, Json::array({packedBlob(kDigestB, 400), packedBlob(kDigestA, 0)}))}),
     0, true},
    {"a blob twice in one pack",
     Json::array({packOf(809, Json::array({packedBlob(kDigestA, 0), packedBlob(kDigestA, 409)}))}), 0, true},
    {"a blob in two packs", Json::array({packOf(409, bothBlobs()), packOf(400, Json::array({packedBlob(kDigestA, 0)}))}),
     0, true},
    // One bad pack costs the release all its packs: what the value says is in doubt.
    {"a good pack and a bad one", Json::array({packOf(400, Json::array({packedBlob(kDigestA, 0)})), "x"}), 0, true},
};

// Packs are one more unknown key to older copies; to this parser a malformed value only loses the packs, and
// every file is read as without them.
TEST(ParseManifest, ReadsPacksAndSetsAsideAMalformedValueWithoutRefusingTheRelease) {
    Manifest without;
    ASSERT_TRUE(parseManifest(validManifest().dump(), without));
    EXPECT_TRUE(without.packs.empty());
    EXPECT_EQ(without.packsProblem, "");
    for (const PacksCase& c : kPacksCases) {
        Json document = validManifest();
        document["packs"] = c.packs;
        Manifest manifest;
        std::string problem;
        ASSERT_TRUE(parseManifest(document.dump(), manifest, problem)) << c.name << ": " << problem;
        size_t placed = 0;
        for (const ReleasePack& pack : manifest.packs) placed += pack.blobs.size();
        EXPECT_EQ(placed, c.blobsKept) << c.name;
        EXPECT_EQ(!manifest.packsProblem.empty(), c.setAside) << c.name << ": " << manifest.packsProblem;
        ASSERT_EQ(manifest.files.size(), without.files.size()) << c.name;
        for (size_t i = 0; i < manifest.files.size(); ++i) {
            EXPECT_EQ(manifest.files[i].path, without.files[i].path) << c.name;
            EXPECT_EQ(manifest.files[i].csha256, without.files[i].csha256) << c.name;
        }
    }
}

TEST(ParseManifest, GivesEachPackedBlobItsPlaceLengthAndDigest) {
    Json document = validManifest();
    document["packs"] = Json::array({packOf(409, bothBlobs())});
    Manifest manifest;
    ASSERT_TRUE(parseManifest(document.dump(), manifest));
    ASSERT_EQ(manifest.packs.size(), 1u);
    const ReleasePack& pack = manifest.packs[0];
    EXPECT_EQ(pack.sha256, kPackDigest);
    EXPECT_EQ(pack.size, 409u);
    ASSERT_EQ(pack.blobs.size(), 2u);
    EXPECT_EQ(pack.blobs[1].sha256, kDigestB);
    EXPECT_EQ(pack.blobs[1].offset, 400u);
    EXPECT_EQ(pack.blobs[1].csize, 9u);
    EXPECT_EQ(pack.blobs[1].csha256, kDigestA);
    EXPECT_EQ(pack.blobs[0].csize, 400u);
}

TEST(ParseManifest, FillsEveryFieldInFileOrder) {
    Manifest manifest;
    ASSERT_TRUE(parseManifest(validManifest().dump(1), manifest));
    EXPECT_EQ(manifest.version, "2.4.1");
    EXPECT_EQ(manifest.date, "2024-05-01");
    EXPECT_EQ(manifest.exe, "maketor.exe");
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[0].path, "maketor.exe");
    EXPECT_EQ(manifest.files[0].size, 1000u);
    EXPECT_EQ(manifest.files[0].sha256, kDigestA);
    EXPECT_EQ(manifest.files[0].csize, 400u);
    EXPECT_EQ(manifest.files[0].csha256, kDigestB);
    EXPECT_EQ(manifest.files[1].path, "licenses/amd-fsr.txt");
}

TEST(ParseManifest, ReadsTheExpiryWhenThereIsOne) {
    Manifest without;
    ASSERT_TRUE(parseManifest(validManifest().dump(), without));
    EXPECT_EQ(without.expires, "");
    Json document = validManifest();
    document["expires"] = "2025-07-01T12:00:00Z";
    Manifest manifest;
    ASSERT_TRUE(parseManifest(document.dump(), manifest));
    EXPECT_EQ(manifest.expires, "2025-07-01T12:00:00Z");
    EXPECT_EQ(manifest.expiresAt, 1751371200);
}

TEST(ParseManifest, TruncatesFractionsAndDefaultsTheExecutable) {
    Json document = validManifest();
    document.erase("date");
    document.erase("exe");
    firstFile(document)["size"] = 5.0;
    firstFile(document)["csize"] = 9.99;
    Manifest manifest;
    ASSERT_TRUE(parseManifest(document.dump(), manifest));
    EXPECT_EQ(manifest.files[0].size, 5u);
    EXPECT_EQ(manifest.files[0].csize, 9u);
    EXPECT_EQ(manifest.exe, "maketor.exe");
    EXPECT_EQ(manifest.date, "");
}

TEST(ParseManifest, ClearsFilesLeftInTheManifest) {
    Manifest manifest;
    manifest.files.push_back(ManifestFile{"stale.dll", kDigestA, kDigestA, 1, 1});
    ASSERT_TRUE(parseManifest(validManifest().dump(), manifest));
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[0].path, "maketor.exe");
}

TEST(ParseManifest, RefusesTextThatIsNotStrictJson) {
    const std::string valid = validManifest().dump();
    const std::string texts[] = {
        "",
        valid + " x",
        valid + valid,
        "// release\n" + valid,
        valid.substr(0, valid.size() - 1),
        "[" + valid + "]",
        "\"maketor\"",
        std::string("{\"app\": \"make\xff\"}"),
        // Deeply nested, and refused (no version) without exhausting the stack.
        "{\"app\": \"maketor\", \"x\": " + std::string(200000, '[') + std::string(200000, ']') + "}",
    };
    for (const std::string& text : texts) {
        Manifest manifest;
        EXPECT_FALSE(parseManifest(text, manifest)) << text;
    }
    Manifest manifest;
    EXPECT_TRUE(parseManifest(" \r\n" + valid + "\r\n\t", manifest));
}

TEST(ParseManifest, ProblemNamesTheFileAndTheRule) {
    Json document = validManifest();
    document["files"][1]["path"] = "a/../b";
    Manifest manifest;
    std::string problem;
    ASSERT_FALSE(parseManifest(document.dump(), manifest, problem));
    EXPECT_NE(problem.find("files[1]"), std::string::npos) << problem;
    EXPECT_NE(problem.find("a/../b"), std::string::npos) << problem;
}

// Two file entries with these paths: the manifest stands only when Windows would see two files.
struct PathPairCase {
    const char* first;
    const char* second;
    bool accepted;
};

const PathPairCase kPathPairCases[] = {
    {"data/a.bin", "data/a.bin", false},
    {"Data/a.bin", "data/a.bin", false},
    {"DATA/A.BIN", "data/a.bin", false},
    {"data\\a.bin", "data/a.bin", false},
    {"Data\\A.bin", "data/a.bin", false},
    {"Данные/Стеллаж.obj", "данные/стеллаж.obj", false},
    {"ЁЛКА.obj", "ёлка.obj", false},
    {"ІЇЄҐ.txt", "іїєґ.txt", false},
    {"Café.txt", "CAFÉ.txt", false},
    {"Łódź.txt", "łÓDŹ.txt", false},
    {"Ǆ.txt", "ǆ.txt", false},
    {"ΣΟΦΊΑ.txt", "σοφία.txt", false},
    {"ĲSSEL.txt", "ĳssel.txt", false},
    {"ẠẢ.txt", "ạả.txt", false},
    {"data/a.bin", "data/b.bin", true},
    {"data/a.bin", "data/a.bin.old", true},
    {"data/a.bin", "data2/a.bin", true},
    {"Елка.obj", "ёлка.obj", true},  // Е and Ё are two letters
    {"Straße.txt", "STRASSE.txt", true},  // no letter turns into two
    {"İ.txt", "i.txt", true},  // the dotted capital I is a letter of its own
    {"ΟΔΟΣ.txt", "οδος.txt", true},  // and so is the final sigma, to the file system
    {"cafe.txt", "café.txt", true},
};

TEST(ParseManifest, RefusesTwoPathsThatNameOneFileOnWindows) {
    for (const PathPairCase& c : kPathPairCases) {
        Json document = validManifest();
        document["files"][0]["path"] = c.first;
        document["files"][1]["path"] = c.second;
        Manifest manifest;
        std::string problem;
        EXPECT_EQ(parseManifest(document.dump(), manifest, problem), c.accepted) << c.first << " | " << c.second;
        if (c.accepted) continue;
        // Both entries are named, the later one first.
        const std::string expected = std::string("files[1]: path \"") + c.second +
                                     "\" names the same file on Windows as files[0] \"" + c.first + "\"";
        EXPECT_EQ(problem, expected);
    }
}

// Paths that are each fine alone but cannot be installed together: a file beside its own staged name, and a
// name that is a file in one entry and a folder in another.
TEST(ParseManifest, RefusesPathsThatCannotBeInstalledTogether) {
    const struct {
        const char* first;
        const char* second;
        const char* words;  // empty: accepted
    } cases[] = {
        {"data/a.bin", "data/a.bin.new", "differs only by \".new\", the suffix of a staged file, from"},
        {"DATA/A.BIN.NEW", "data/a.bin", "differs only by \".new\", the suffix of a staged file, from"},
        {"data/a.bin", "Data\\A.bin.New", "differs only by \".new\", the suffix of a staged file, from"},
        {"data/a.bin", "data/a.bin.new2", ""},
        {"data/a.bin", "data/a.new", ""},
        {"data", "data/a.bin", "needs one name as both a file and a folder with"},
        {"data/models/a.bin", "DATA/Models", "needs one name as both a file and a folder with"},
        {"data/a.bin", "data\\a.bin\\b", "needs one name as both a file and a folder with"},
        {"data/a.bin", "data/a.bin2/b", ""},
        {"data2", "data/a.bin", ""},
    };
    for (const auto& c : cases) {
        Json document = validManifest();
        document["files"][0]["path"] = c.first;
        document["files"][1]["path"] = c.second;
        Manifest manifest;
        std::string problem;
        const bool accepted = *c.words == '\0';
        EXPECT_EQ(parseManifest(document.dump(), manifest, problem), accepted) << c.first << " | " << c.second;
        if (!accepted) {
            EXPECT_EQ(problem, std::string("files[1]: path \"") + c.second + "\" " + c.words + " files[0] \"" +
                                   c.first + "\"");
        }
    }
}

TEST(FindPathClash, NamesTheClashWhoseLaterPathComesFirst) {
    const std::vector<std::string> paths = {"a", "b.new", "c", "a/x", "B", "b"};
    PathClash clash;
    ASSERT_TRUE(findPathClash(paths, clash));
    EXPECT_EQ(clash.later, 3u);
    EXPECT_EQ(clash.earlier, 0u);
    EXPECT_EQ(clash.kind, PathClashKind::FileInFolder);
    EXPECT_FALSE(findPathClash({"a", "b", "a.b/c", "a.new.x"}, clash));
}

TEST(ParseManifest, FindsATwinAnywhereInTheList) {
    Json document = validManifest();
    for (int i = 0; i < 500; ++i) {
        Json file = document["files"][1];
        file["path"] = "models/m" + std::to_string(i) + ".obj";
        document["files"].push_back(file);
    }
    Manifest manifest;
    ASSERT_TRUE(parseManifest(document.dump(), manifest));
    document["files"][400]["path"] = "LICENSES/AMD-FSR.TXT";
    std::string problem;
    EXPECT_FALSE(parseManifest(document.dump(), manifest, problem));
    EXPECT_NE(problem.find("files[400]"), std::string::npos) << problem;
    EXPECT_NE(problem.find("files[1] \"licenses/amd-fsr.txt\""), std::string::npos) << problem;
}

TEST(FileNameUppercase, MapsLettersOneForOneAndLeavesTheRest) {
    const std::pair<std::string, std::string> cases[] = {
        {"abcxyz", "ABCXYZ"},
        {"ABC-123_.~/\\", "ABC-123_.~/\\"},
        {"àéîõüÿ", "ÀÉÎÕÜŸ"},
        {"ß", "ß"},
        // Letters whose capital has another small letter of its own stay as they are.
        {"ıſµϐϑϕ", "ıſµϐϑϕ"},
        {"ǅǆ", "ǅǄ"},
        {"ɐ", "Ɐ"},  // two bytes in, three out
        {"αβγςσω", "ΑΒΓςΣΩ"},
        {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"},
        {"ђѓєѕіїјљњћќѝўџ", "ЂЃЄЅІЇЈЉЊЋЌЍЎЏ"},
        {"ґӂӏԯ", "ҐӁӀԮ"},
        {"ա", "Ա"},
        {"ẁỳ", "ẀỲ"},
        {"ａｚ", "ＡＺ"},
        {"中文", "中文"},
        {"\xF0\x9D\x90\x9A", "\xF0\x9D\x90\x9A"},  // beyond the first 65536: as the file system leaves it
        // Bytes that are not UTF-8 stay, and the letters around them are still mapped.
        {"a\xFF" "b", "A\xFF" "B"},
        {"a\xC3", "A\xC3"},
        {"\xC0\xA1x", "\xC0\xA1X"},           // an overlong "!"
        {"\xED\xA0\x80y", "\xED\xA0\x80Y"},  // a surrogate
        {"\xF4\x90\x80\x80z", "\xF4\x90\x80\x80Z"},  // beyond U+10FFFF
        {"\xE2\x82", "\xE2\x82"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(fileNameUppercase(text), expected) << text;
}

TEST(ManifestPathIdentity, ReadsBothSeparatorsAsOne) {
    EXPECT_EQ(manifestPathIdentity("Data\\models/Стол.obj"), manifestPathIdentity("data/MODELS\\стол.OBJ"));
    EXPECT_EQ(manifestPathIdentity("data\\a.bin"), "DATA/A.BIN");
}

}  // namespace
