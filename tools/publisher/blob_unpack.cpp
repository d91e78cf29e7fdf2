#include "tools/publisher/blob_unpack.h"

#include <new>

#include "platform/lzms_decoder.h"

bool unpackBlob(const std::string& blob, UnpackedBlob& content, std::string& problem) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(blob.data());
    uint64_t size = 0;
    if (!readLzmsBlobSize(bytes, blob.size(), size)) {
        problem = "not an LZMS blob (bad container header)";
        return false;
    }
    // Left uninitialised: only what the decoder writes is ever touched, whatever size the header claims.
    content.bytes.reset(size <= SIZE_MAX ? new (std::nothrow) uint8_t[size_t(size)] : nullptr);
    if (!content.bytes && size > 0) {
        problem = "claims " + std::to_string(size) + " bytes, more than this machine can hold";
        return false;
    }
    content.size = size;
    if (!decodeLzmsBlob(bytes, blob.size(), content.bytes.get(), size)) {
        problem = "damaged LZMS data";
        return false;
    }
    return true;
}
