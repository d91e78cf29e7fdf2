#include "platform/lzms.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "platform/lzms_container.h"

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
// The library is never freed: a worker may still be unpacking while the process ends.
CompressionApi loadCompressionApi() {
    CompressionApi api;
    const HMODULE library = LoadLibraryExW(L"Cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) return api;
    api.createDecompressor = exportByOrdinal<CreateDecompressorFunction>(library, kCreateDecompressorOrdinal);
    api.decompress = exportByOrdinal<DecompressFunction>(library, kDecompressOrdinal);
    api.closeDecompressor = exportByOrdinal<CloseDecompressorFunction>(library, kCloseDecompressorOrdinal);
    return api;
}

// Looked up once per process: loading and freeing the library per file cost more than unpacking a small
// file.
const CompressionApi& compressionApi() {
    static const CompressionApi api = loadCompressionApi();
    return api;
}

bool isAvailable(const CompressionApi& api) { return api.createDecompressor && api.decompress && api.closeDecompressor; }

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
        const CompressionApi& api = compressionApi();
        if (expectedSize > 0 && isAvailable(api)) return unpackWithCompressionApi(api, blob, expectedSize, out);
        const auto* bytes = reinterpret_cast<const uint8_t*>(blob.data());
        uint64_t announcedSize = 0;
        if (!readLzmsBlobSize(bytes, blob.size(), announcedSize) || announcedSize != expectedSize) return false;
        out.resize(size_t(expectedSize));
        return decodeLzmsBlob(bytes, blob.size(), out.data(), expectedSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace {

constexpr size_t kChunkLengthWordSize = 4;
constexpr size_t kChunkContainerRoom = kLzmsHeaderSize + kChunkLengthWordSize;

}  // namespace

bool openLzmsChunkUnpacker(LzmsChunkUnpacker& unpacker) {
    try {
        const CompressionApi& api = compressionApi();
        void* created = nullptr;
        if (isAvailable(api) && api.createDecompressor(kCompressAlgorithmLzms, nullptr, &created)) {
            unpacker.platformDecompressor = UniqueDecompressor(created, DecompressorCloser{api.closeDecompressor});
            return true;
        }
        unpacker.ownDecoder = newLzmsChunkDecoder();
        return unpacker.ownDecoder != nullptr;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

uint8_t* lzmsChunkInput(LzmsChunkUnpacker& unpacker, size_t packedSize) {
    if (packedSize > SIZE_MAX - kChunkContainerRoom) return nullptr;
    try {
        if (unpacker.container.size() < kChunkContainerRoom + packedSize)
            unpacker.container.resize(kChunkContainerRoom + packedSize);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return unpacker.container.data() + kChunkContainerRoom;
}

bool unpackLzmsChunk(LzmsChunkUnpacker& unpacker, size_t packedSize, uint8_t* out, size_t outSize) {
    if (outSize == 0 || outSize > kLzmsMaxChunkSize || unpacker.container.size() < kChunkContainerRoom + packedSize)
        return false;
    uint8_t* const packed = unpacker.container.data() + kChunkContainerRoom;
    if (unpacker.ownDecoder) return decodeLzmsChunk(*unpacker.ownDecoder, packed, packedSize, out, outSize);
    if (!unpacker.platformDecompressor || packedSize > UINT32_MAX) return false;
    uint8_t* const container = unpacker.container.data();
    writeLzmsHeader(LzmsContainerHeader{outSize, outSize}, container);
    const uint32_t lengthWord = uint32_t(packedSize);
    for (size_t i = 0; i < kChunkLengthWordSize; ++i) container[kLzmsHeaderSize + i] = uint8_t(lengthWord >> (8 * i));
    SIZE_T written = 0;
    const BOOL decompressed = compressionApi().decompress(unpacker.platformDecompressor.get(), container,
                                                          kChunkContainerRoom + packedSize, out, outSize, &written);
    return decompressed && written == outSize;
}
