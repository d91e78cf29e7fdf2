#include "tools/publisher/source_files.h"

#include <algorithm>
#include <system_error>

#include <nlohmann/json.hpp>

#include "engine/manifest.h"

namespace fs = std::filesystem;

namespace {

// Why the product could not take this path, or why it would mean another file on Windows; empty if fine.
std::string sourcePathProblem(const std::string& path) {
    if (!isUtf8(path)) return "is not UTF-8";
    const std::string ruleProblem = manifestPathProblem(path);
    if (!ruleProblem.empty()) return ruleProblem + ", which the manifest rules refuse";
    if (path.find('\\') != std::string::npos) return "contains \"\\\", a folder separator on Windows";
    return {};
}

}  // namespace

bool isUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();  // the JSON writer refuses anything but UTF-8
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

bool listSourceFiles(const fs::path& source, std::vector<SourceFile>& files, std::string& problem) {
    std::error_code error;
    if (!fs::is_directory(source, error)) {
        problem = source.string() + ": not a folder";
        return false;
    }
    for (fs::recursive_directory_iterator entry(source, error), end; !error && entry != end; entry.increment(error)) {
        if (!entry->is_regular_file(error)) continue;
        SourceFile file;
        file.location = entry->path();
        file.path = file.location.lexically_relative(source).generic_string();
        file.size = entry->file_size(error);
        const std::string pathProblem = sourcePathProblem(file.path);
        if (!pathProblem.empty()) {
            problem = file.location.string() + ": path \"" + file.path + "\" " + pathProblem;
            return false;
        }
        files.push_back(std::move(file));
    }
    if (error) {
        problem = source.string() + ": cannot be listed: " + error.message();
        return false;
    }
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    // Windows file names ignore letter case: two such paths would be one installed file. A file beside its own
    // ".new" name, or a file whose name another path needs as a folder, could not be installed either.
    std::vector<std::string> paths;
    for (const SourceFile& file : files) paths.push_back(file.path);
    PathClash clash;
    if (findPathClash(paths, clash)) {
        const SourceFile& later = files[clash.later];
        const std::string& earlier = files[clash.earlier].path;
        problem = later.location.string() + ": path \"" + later.path + "\" " +
                  (clash.kind == PathClashKind::SameFile
                       ? "differs from \"" + earlier + "\" only in letter case, one file on Windows"
                       : std::string(pathClashWords(clash.kind)) + " \"" + earlier + "\"");
        return false;
    }
    if (files.empty()) problem = source.string() + ": holds no regular file to release";
    return !files.empty();
}
