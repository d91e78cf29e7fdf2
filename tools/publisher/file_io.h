#pragma once
// File reads and writes for the publisher: whole files, ranges of a file, and files that appear under their
// name only once complete.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// An open file descriptor, closed on every way out.
struct FileDescriptor {
    explicit FileDescriptor(int opened = -1) : value(opened) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : value(other.value) { other.value = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    explicit operator bool() const { return value >= 0; }
    int value;
};

FileDescriptor openForReading(const std::filesystem::path& path);
// Exactly size bytes at offset; false on an error or when the file ends first.
bool readRange(const FileDescriptor& file, uint64_t offset, void* data, size_t size);
// Up to size bytes from the current position; how many were read, 0 at the end, -1 on an error.
ssize_t readSome(const FileDescriptor& file, void* data, size_t size);

// A file written under a sibling temporary name and renamed over its own name by commit(), so that the name
// never shows a half-written file. The temporary file is removed when the holder goes without a commit.
struct ReplacingFile {
    explicit ReplacingFile(const std::filesystem::path& path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    bool opened() const { return bool(file); }
    bool write(const void* data, size_t size);
    // Flushes to the disk and renames; false (the temporary file removed) when either fails.
    bool commit();

    std::filesystem::path path;
    std::filesystem::path temporary;
    FileDescriptor file;
    bool committed = false;
};

// The whole file; false when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& path, std::string& bytes);
// Writes a sibling temporary file and renames it over path, so that path is never half written.
bool writeFileReplacing(const std::filesystem::path& path, const void* data, size_t size);
bool writeFileReplacing(const std::filesystem::path& path, const std::string& bytes);
// Creates path, readable by its owner only; false when it exists already or cannot be written.
bool writeNewPrivateFile(const std::filesystem::path& path, const std::string& bytes);
