#pragma once
// Unpacking of one LZMS blob (Compression API buffer-mode container): the platform decompressor when the
// system has one, otherwise our own decoder.
#include <cstdint>
#include <string>
#include <vector>

// True only when the blob unpacked into exactly expectedSize bytes (then held in out).
bool unpackLzms(const std::string& blob, uint64_t expectedSize, std::vector<uint8_t>& out);
