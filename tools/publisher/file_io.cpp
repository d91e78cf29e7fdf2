#include "tools/publisher/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace {

FileDescriptor openDescriptor(const std::filesystem::path& path, int flags, mode_t mode) {
    return FileDescriptor(open(path.c_str(), flags | O_CLOEXEC, mode));
}

bool writeAll(int descriptor, const void* data, size_t size) {
    const auto* cursor = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(descriptor, cursor, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return false;
        cursor += written;
        size -= size_t(written);
    }
    return true;
}

// Unique within the process as well, since several threads may write siblings of one folder.
std::filesystem::path temporarySibling(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temporary = path;
    temporary += ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    return temporary;
}

}  // namespace

FileDescriptor::~FileDescriptor() {
    if (value >= 0) close(value);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (value >= 0) close(value);
        value = other.value;
        other.value = -1;
    }
    return *this;
}

FileDescriptor openForReading(const std::filesystem::path& path) { return openDescriptor(path, O_RDONLY, 0); }

bool readRange(const FileDescriptor& file, uint64_t offset, void* data, size_t size) {
    auto* cursor = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = pread(file.value, cursor, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        cursor += got;
        offset += uint64_t(got);
        size -= size_t(got);
    }
    return true;
}

ssize_t readSome(const FileDescriptor& file, void* data, size_t size) {
    for (;;) {
        const ssize_t got = read(file.value, data, size);
        if (got >= 0 || errno != EINTR) return got;
    }
}

ReplacingFile::ReplacingFile(const std::filesystem::path& target)
    : path(target),
      temporary(temporarySibling(target)),
      file(openDescriptor(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644)) {}

ReplacingFile::~ReplacingFile() {
    if (committed) return;
    file = FileDescriptor();
    std::error_code error;
    std::filesystem::remove(temporary, error);
}

bool ReplacingFile::write(const void* data, size_t size) { return file && writeAll(file.value, data, size); }

bool ReplacingFile::commit() {
    if (!file || fsync(file.value) != 0) return false;
    file = FileDescriptor();
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    committed = !error;
    return committed;
}

bool readWholeFile(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    const FileDescriptor file = openForReading(path);
    if (!file) return false;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = readSome(file, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        bytes.append(buffer, size_t(got));
    }
}

bool writeFileReplacing(const std::filesystem::path& path, const void* data, size_t size) {
    ReplacingFile file(path);
    return file.write(data, size) && file.commit();
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
