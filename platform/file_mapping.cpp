#include "platform/file_mapping.h"

#include "platform/file_system.h"

namespace {

bool mapOpenFile(MappedFile& mapped, uint64_t size, bool writable) {
    if (size == 0 || size > SIZE_MAX) return false;
    mapped.size = size;
    mapped.mapping.reset(CreateFileMappingW(mapped.file.get(), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                                            DWORD(size >> 32), DWORD(size), nullptr));
    if (!mapped.mapping) return false;
    mapped.view.reset(MapViewOfFile(mapped.mapping.get(), writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, SIZE_T(size)));
    mapped.data = static_cast<uint8_t*>(mapped.view.get());
    return mapped.data != nullptr;
}

}  // namespace

bool mapForReading(const std::wstring& path, MappedFile& mapped) {
    mapped = MappedFile();
    mapped.file = openForReading(path);
    uint64_t size = 0;
    return mapped.file && sizeOfOpenFile(mapped.file.get(), size) && mapOpenFile(mapped, size, false);
}

bool mapNewFile(const std::wstring& path, uint64_t size, MappedFile& mapped) {
    mapped = MappedFile();
    mapped.file = openForWriting(path, true);
    return mapped.file && mapOpenFile(mapped, size, true);
}

bool flushMappedFile(const MappedFile& mapped) {
    return FlushViewOfFile(mapped.data, SIZE_T(mapped.size)) && FlushFileBuffers(mapped.file.get());
}
