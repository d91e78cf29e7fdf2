#include "platform/lzms.h"

#include "platform/handles.h"
#include "platform/lzms_decoder.h"

#include <cstdint>
#include <new>

namespace {

// The Compression API of Cabinet.dll, looked up by ordinal at run time: a static import would keep the
// program from starting where the API is missing (Wine).
using CreateDecompressorFunction = BOOL(WINAPI*)(DWORD algorithm, void* allocationRoutines, void** decompressor);
using DecompressFunction = BOOL(WINAPI*)(void* decompressor, const void* compressedData, SIZE_T compressedSize,
                                         void* uncompressedBuffer, SIZE_T uncompressedBufferSize,
                                         SIZE_T* uncompressedDataSize);
using CloseDecompressorFunction = BOOL(WINAPI*)(void* decompressor);

constexpr WORD kCreateDecompressorOrdinal = 40;
constexpr WORD kDecompressOrdinal = 43;
constexpr WORD kCloseDecompressorOrdinal = 45;
constexpr DWORD kCompressAlgorithmLzms = 5;

struct CompressionApi {
    UniqueLibrary library;
    CreateDecompressorFunction createDecompressor = nullptr;
    DecompressFunction decompress = nullptr;
    CloseDecompressorFunction closeDecompressor = nullptr;
};

template <typename Function>
Function exportByOrdinal(HMODULE library, WORD ordinal) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
}

// Only from the system folder: a setup program often runs from a downloads folder, where a planted
// Cabinet.dll would otherwise be loaded first.
bool loadCompressionApi(CompressionApi& api) {
    api.library.reset(LoadLibraryExW(L"Cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!api.library) return false;
    api.createDecompressor = exportByOrdinal<CreateDecompressorFunction>(api.library.get(), kCreateDecompressorOrdinal);
    api.decompress = exportByOrdinal<DecompressFunction>(api.library.get(), kDecompressOrdinal);
    api.closeDecompressor = exportByOrdinal<CloseDecompressorFunction>(api.library.get(), kCloseDecompressorOrdinal);
    return api.createDecompressor && api.decompress && api.closeDecompressor;
}

bool unpackWithCompressionApi(const CompressionApi& api, const std::string& blob, uint64_t expectedSize,
                              std::vector<uint8_t>& out) {
    void* created = nullptr;
    if (!api.createDecompressor(kCompressAlgorithmLzms, nullptr, &created)) return false;
    UniqueDecompressor decompressor(created, DecompressorCloser{api.closeDecompressor});
    out.resize(size_t(expectedSize));
    SIZE_T written = 0;
    const BOOL decompressed =
        api.decompress(decompressor.get(), blob.data(), blob.size(), out.data(), out.size(), &written);
    return decompressed && written == expectedSize;
}

}  // namespace

bool unpackLzms(const std::string& blob, uint64_t expectedSize, std::vector<uint8_t>& out) {
    if (expectedSize > SIZE_MAX) return false;
    try {
        // An empty file is the bare header with a total of 0. Our decoder settles it the same way
        // everywhere, rather than leaving it to what the platform makes of an empty output buffer.
        CompressionApi api;
        if (expectedSize > 0 && loadCompressionApi(api)) return unpackWithCompressionApi(api, blob, expectedSize, out);
        const auto* bytes = reinterpret_cast<const uint8_t*>(blob.data());
        uint64_t announcedSize = 0;
        if (!readLzmsBlobSize(bytes, blob.size(), announcedSize) || announcedSize != expectedSize) return false;
        out.resize(size_t(expectedSize));
        return decodeLzmsBlob(bytes, blob.size(), out.data(), expectedSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
