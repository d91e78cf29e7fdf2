#pragma once
// The release key files as the commands take them: the private key as unencrypted PKCS#8 PEM (keygen's), the
// public key as the build's file (88 characters of Base64 of X||Y).
#include <filesystem>
#include <string>

#include "tools/publisher/signing.h"

// The private key and its public point; false, with problem naming the file, otherwise.
bool readPrivateKeyFile(const std::filesystem::path& path, UniquePkey& key, P256Pair& publicPoint,
                        std::string& problem);
// The public point; a trailing line break is allowed. False, with problem naming the file, otherwise.
bool readPublicKeyFile(const std::filesystem::path& path, P256Pair& point, std::string& problem);
