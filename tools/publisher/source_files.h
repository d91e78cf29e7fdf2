#pragma once
// The files a release is made of: every regular file below the source folder, with the path the manifest
// will give it, checked against what the product accepts and what Windows can tell apart.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct SourceFile {
    std::string path;  // as the manifest names it: relative, "/" between folders, UTF-8
    std::filesystem::path location;
    uint64_t size = 0;
};

// True when the JSON writer can carry text (it is UTF-8).
bool isUtf8(const std::string& text);
// Every regular file below source, in byte order of the manifest path. Stops at the first path that the
// release could not carry, with problem set.
bool listSourceFiles(const std::filesystem::path& source, std::vector<SourceFile>& files, std::string& problem);
