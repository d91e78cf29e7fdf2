#include "platform/file_system.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>


namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// ReadFile and WriteFile take 32-bit counts; larger buffers go in pieces of this size.
const size_t kIoChunk = size_t{1} << 30;

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && isSeparator(path.back())) path.pop_back();
    return path;
}

bool equalIgnoringCase(const wchar_t* a, const wchar_t* b, size_t length) {
    return CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

// attributes: what GetFileAttributesW gave for the path.
void clearReadOnly(const std::wstring& path, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
    const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesW(path.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL);  // 0 would change nothing
}

}  // namespace

std::wstring parentFolder(const std::wstring& path) {
    const std::wstring trimmed = withoutTrailingSeparators(path);
    const size_t slash = trimmed.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    return trimmed.substr(0, slash);
}

bool entryExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool fileSizeOf(const std::wstring& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
}

bool createFolderTree(const std::wstring& path) {
    const std::wstring folder = withoutTrailingSeparators(path);
    if (folder.empty()) return false;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring parent = parentFolder(folder);
    if (!parent.empty() && !entryExists(parent) && !createFolderTree(parent)) return false;
    if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
    // Another process may have created it in the meantime.
    const DWORD now = GetFileAttributesW(folder.c_str());
    return now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY);
}

bool readWholeFile(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    UniqueHandle file = openForReading(path);
    uint64_t length = 0;
    if (!file || !sizeOfOpenFile(file.get(), length) || length > SIZE_MAX) return false;
    bytes.resize(static_cast<size_t>(length));
    size_t got = 0;
    if (!readUpTo(file.get(), bytes.data(), bytes.size(), got)) return false;
    bytes.resize(got);  // the file may have shrunk while we read it
    return true;
}

bool writeWholeFile(const std::wstring& path, const void* data, size_t size, bool flushToDisk) {
    UniqueHandle file = openForWriting(path, true);
    if (!file || !writeAll(file.get(), data, size)) return false;
    return !flushToDisk || FlushFileBuffers(file.get());
}

bool replaceFileContent(const std::wstring& path, const void* data, size_t size) {
    const std::wstring newPath = path + L".new";
    if (writeWholeFile(newPath, data, size, true) &&
        MoveFileExW(newPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();  // the caller may decide on it
    DeleteFileW(newPath.c_str());
    SetLastError(error);
    return false;
}

UniqueHandle openForReading(const std::wstring& path) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

UniqueHandle openForWriting(const std::wstring& path, bool truncate) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool sizeOfOpenFile(HANDLE file, uint64_t& size) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length) || length.QuadPart < 0) return false;
    size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

bool readUpTo(HANDLE file, void* data, size_t size, size_t& got) {
    auto* bytes = static_cast<uint8_t*>(data);
    got = 0;
    while (got < size) {
        const DWORD want = static_cast<DWORD>(std::min(size - got, kIoChunk));
        DWORD read = 0;
        if (!ReadFile(file, bytes + got, want, &read, nullptr)) return false;
        if (read == 0) break;
        got += read;
    }
    return true;
}

bool writeAll(HANDLE file, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const DWORD want = static_cast<DWORD>(std::min(size - done, kIoChunk));
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, want, &written, nullptr) || written != want) return false;
        done += written;
    }
    return true;
}

bool truncateAt(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool seekToEnd(HANDLE file) { return SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_END) != FALSE; }

bool deleteFileOrEmptyFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Windows refuses to delete a read-only file or folder; one that stays for another reason (in use, not
    // empty) gets its attribute back.
    clearReadOnly(path, attributes);
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str())
                                                                  : DeleteFileW(path.c_str());
    if (!removed && (attributes & FILE_ATTRIBUTE_READONLY)) {
        const DWORD error = GetLastError();  // the caller may decide on it
        SetFileAttributesW(path.c_str(), attributes);
        SetLastError(error);
    }
    return removed;
}

void deleteTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    clearReadOnly(path, attributes);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    // A junction or folder link points elsewhere: drop the link, never what it points to.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        for (const std::wstring& name : entryNamesIn(path)) deleteTree(withoutTrailingSeparators(path) + L"\\" + name);
    RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> entryNamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    UniqueFind listing(FindFirstFileW((withoutTrailingSeparators(folder) + L"\\*").c_str(), &entry));
    if (listing.get() == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(listing.get(), &entry));
    return names;
}

bool isEmptyEntry(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        uint64_t size = 0;
        return fileSizeOf(path, size) && size == 0;
    }
    WIN32_FIND_DATAW entry{};
    UniqueFind listing(FindFirstFileW((withoutTrailingSeparators(path) + L"\\*").c_str(), &entry));
    if (listing.get() == INVALID_HANDLE_VALUE) return false;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") return false;
    } while (FindNextFileW(listing.get(), &entry));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool isFileInUse(const std::wstring& path) {
    if (!entryExists(path)) return false;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (file) return false;
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

std::wstring fullPathOf(const std::wstring& path) {
    if (path.empty()) return {};
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {
        buffer.assign(length, L'\0');
        length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (length == 0 || length >= buffer.size()) return {};
    buffer.resize(length);
    buffer = withoutTrailingSeparators(buffer);
    if (buffer.size() == 2 && buffer[1] == L':') buffer += L'\\';
    return buffer;
}

bool isStrictlyInside(const std::wstring& inner, const std::wstring& outer) {
    const std::wstring fullInner = fullPathOf(inner);
    std::wstring fullOuter = fullPathOf(outer);
    if (fullInner.empty() || fullOuter.empty()) return false;
    if (!isSeparator(fullOuter.back())) fullOuter += L'\\';
    return fullInner.size() > fullOuter.size() &&
           equalIgnoringCase(fullInner.c_str(), fullOuter.c_str(), fullOuter.size());
}

bool samePathText(const std::wstring& a, const std::wstring& b) {
    const std::wstring fullA = fullPathOf(a);
    const std::wstring fullB = fullPathOf(b);
    return !fullA.empty() && fullA.size() == fullB.size() && equalIgnoringCase(fullA.c_str(), fullB.c_str(), fullA.size());
}
