// libFuzzer target over the Base64 and signature reading of `maketor-publish verify`, which checks release
// folders it did not make: the input is "signature text \n key text \n manifest text". A text that decodes
// must be the one spelling of its 64 bytes; a key must be a point of P-256 before any signature is checked
// with it, and a checked signature is accepted only when it is the signer's.
#include "tools/publisher/signing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// The next line of text from position (without its line break); position moves past it.
std::string nextLine(const std::string& text, size_t& position) {
    const size_t end = std::min(text.find('\n', position), text.size());
    std::string line = text.substr(position, end - position);
    position = std::min(end + 1, text.size());
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t position = 0;
    const std::string signatureText = nextLine(input, position);
    const std::string keyText = nextLine(input, position);
    const std::string message = input.substr(position);

    P256Pair signature{}, key{};
    const bool signatureRead = decodeBase64(signatureText, signature);
    const bool keyRead = decodeBase64(keyText, key);
    if (signatureRead) check(encodeBase64(signature) == signatureText);
    if (keyRead) check(encodeBase64(key) == keyText);
    if (signatureRead && keyRead && isP256Point(key)) {
        const bool accepted = verifyMessage(key, message, signature);
        // An accepted signature stays bound to its message: one byte more and it no longer holds.
        if (accepted) check(!verifyMessage(key, message + " ", signature));
    }
    return 0;
}
