#include "tools/publisher/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

namespace {

// An open file descriptor, closed on every way out.
struct FileDescriptor {
    explicit FileDescriptor(int opened) : value(opened) {}
    ~FileDescriptor() {
        if (value >= 0) close(value);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    explicit operator bool() const { return value >= 0; }
    int value;
};

FileDescriptor openDescriptor(const std::filesystem::path& path, int flags, mode_t mode) {
    return FileDescriptor(open(path.c_str(), flags | O_CLOEXEC, mode));
}

bool writeAll(int descriptor, const void* data, size_t size) {
    const auto* cursor = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(descriptor, cursor, size);
        if (written < 0) return false;
        cursor += written;
        size -= size_t(written);
    }
    return true;
}

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    const FileDescriptor file = openDescriptor(path, O_RDONLY, 0);
    if (!file) return false;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(file.value, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        bytes.append(buffer, size_t(got));
    }
}

bool writeFileReplacing(const std::filesystem::path& path, const void* data, size_t size) {
    std::filesystem::path temporary = path;
    temporary += ".tmp-" + std::to_string(getpid());
    bool written = false;
    {
        const FileDescriptor file = openDescriptor(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        written = file && writeAll(file.value, data, size) && fsync(file.value) == 0;
    }
    std::error_code error;
    if (written) std::filesystem::rename(temporary, path, error);
    if (!written || error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

bool writeFileReplacing(const std::filesystem::path& path, const std::string& bytes) {
    return writeFileReplacing(path, bytes.data(), bytes.size());
}

bool writeNewPrivateFile(const std::filesystem::path& path, const std::string& bytes) {
    bool written = false;
    {
        const FileDescriptor file = openDescriptor(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (!file) return false;
        written = writeAll(file.value, bytes.data(), bytes.size()) && fsync(file.value) == 0;
    }
    std::error_code error;
    if (!written) std::filesystem::remove(path, error);
    return written;
}
