#pragma once
// The signed release manifest, parsed. Plain C++: also built into the host tools.
#include <cstdint>
#include <string>
#include <vector>

// A patch that turns the file of an earlier release into this one: a zstd frame with the old file as its
// prefix, served as "patches/<sha256>.zst".
struct FilePatch {
    std::string from;    // SHA-256 of the old file it applies to, lowercase hex
    std::string sha256;  // of the patch itself, lowercase hex
    uint64_t size = 0;   // patch bytes
};

struct ManifestFile {
    std::string path;     // relative to the installation folder, UTF-8, "/" between folders
    std::string sha256;   // of the unpacked file, lowercase hex
    std::string csha256;  // of the blob, lowercase hex
    uint64_t size = 0;    // unpacked bytes
    uint64_t csize = 0;   // blob bytes
    std::vector<FilePatch> patches;  // optional: the blob serves whoever has none of their old files
    std::string patchesProblem;      // why a present "patches" value was set aside (empty when it was not)
};

// A blob inside a pack: the bytes [offset, offset + csize) of the pack are exactly the blob of the files whose
// sha256 names it, so that it is checked against their csha256 like the blob served on its own.
struct PackedBlob {
    std::string sha256;  // of the file, naming its blob
    uint64_t offset = 0;
    uint64_t csize = 0;    // the blob's length and digest, from its file's entry
    std::string csha256;
};

// Blobs of small files concatenated, served as "packs/<sha256>.pack", so that many files come in a few
// requests. Every blob in a pack is also served on its own.
struct ReleasePack {
    std::string sha256;  // of the pack, lowercase hex
    uint64_t size = 0;   // pack bytes
    std::vector<PackedBlob> blobs;  // in offset order, none overlapping another
};

struct Manifest {
    std::string version;
    std::string date;
    std::string exe;
    // Optional: the UTC time after which the release is no longer to be taken ("YYYY-MM-DDTHH:MM:SSZ"), so
    // that a mirror that stops following the releases is noticed. Empty when the manifest names none.
    std::string expires;
    int64_t expiresAt = 0;  // the same in seconds since 1970, when expires is not empty
    std::vector<ManifestFile> files;
    std::vector<ReleasePack> packs;  // optional: the blobs serve whoever cannot use them
    std::string packsProblem;        // why a present "packs" value was set aside (empty when it was not)
};

// Fills manifest from the JSON text; false on any rule broken (the manifest is then to be discarded).
bool parseManifest(const std::string& text, Manifest& manifest);
// The same; on false, problem names the first rule broken and where (for the release tools).
bool parseManifest(const std::string& text, Manifest& manifest, std::string& problem);

// The form in which two paths that name one file on Windows are equal: letter case as Windows compares file
// names, "\" read as "/". A manifest holds no two paths of one form.
std::string manifestPathIdentity(const std::string& path);
// Why a file path may not stand in a manifest ("contains \"..\"", ...); empty when it may. Besides the
// names that could lead outside the installation folder, this refuses names that Windows would not keep as
// written (a name ending in a dot or a space) and the files the setup program keeps in the folder itself.
std::string manifestPathProblem(const std::string& path);

// Two paths of one list that cannot both be installed: the later one (by index), the earlier one, and how.
enum class PathClashKind {
    SameFile,     // one file on Windows
    StagedTwin,   // the later is the other's ".new" sibling, which replaces it during an update
    FileInFolder  // one names a folder that holds the other
};
struct PathClash {
    size_t later = 0;
    size_t earlier = 0;
    PathClashKind kind = PathClashKind::SameFile;
};
// The first clash in list order; false when every path can stand beside the others.
bool findPathClash(const std::vector<std::string>& paths, PathClash& clash);
// "names the same file on Windows as", ...: the words between the later path and the earlier one.
const char* pathClashWords(PathClashKind kind);
