#pragma once
// Files mapped into memory: the old file a patch refers to, and the new file it is decoded into. The pages
// are the file's own, so a file of any size costs address space but no private memory.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/handles.h"

struct ViewUnmapper {
    void operator()(void* view) const { UnmapViewOfFile(view); }
};

struct MappedFile {
    UniqueHandle file;
    UniqueHandle mapping;
    std::unique_ptr<void, ViewUnmapper> view;
    uint8_t* data = nullptr;
    uint64_t size = 0;
};

// Maps an existing, non-empty file read-only. While it is mapped no other process can write it (the file is
// shared for reading only). False when it cannot be opened or mapped.
bool mapForReading(const std::wstring& path, MappedFile& mapped);
// Creates (or truncates) the file at exactly size bytes, size above 0, and maps it for writing.
bool mapNewFile(const std::wstring& path, uint64_t size, MappedFile& mapped);
// Writes the mapped pages and the file to the disk; false when either fails.
bool flushMappedFile(const MappedFile& mapped);
