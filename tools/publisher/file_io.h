#pragma once
// Whole-file reads and writes for the publisher.
#include <filesystem>
#include <string>

// The whole file; false when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& path, std::string& bytes);
// Writes a sibling temporary file and renames it over path, so that path is never half written.
bool writeFileReplacing(const std::filesystem::path& path, const void* data, size_t size);
bool writeFileReplacing(const std::filesystem::path& path, const std::string& bytes);
// Creates path, readable by its owner only; false when it exists already or cannot be written.
bool writeNewPrivateFile(const std::filesystem::path& path, const std::string& bytes);
