// keygen PRIVATE_KEY PUBLIC_KEY: a new P-256 release key pair.
#include <filesystem>
#include <system_error>

#include "tools/publisher/arguments.h"
#include "tools/publisher/commands.h"
#include "tools/publisher/file_io.h"
#include "tools/publisher/signing.h"

int runKeygen(const Arguments& arguments) {
    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, {}, parsed, problem) || parsed.operands.size() != 2)
        return failUsage((problem.empty() ? "" : problem + "; ") + "usage: maketor-publish keygen PRIVATE_KEY PUBLIC_KEY");
    const std::filesystem::path privatePath = parsed.operands[0];
    const std::filesystem::path publicPath = parsed.operands[1];

    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(privatePath, error)))
        return fail(privatePath.string() + ": exists already; a private key is never overwritten");
    const UniquePkey key = generateP256Key();
    std::string pem;
    P256Pair point;
    if (!key || !privateKeyPem(key.get(), pem) || !publicKeyPoint(key.get(), point))
        return fail("keygen: OpenSSL could not make a P-256 key pair");
    if (!writeNewPrivateFile(privatePath, pem)) return fail(privatePath.string() + ": cannot be created");
    if (!writeFileReplacing(publicPath, encodeBase64(point))) {
        // A private key whose public half is lost is of no use; it was ours to remove.
        std::filesystem::remove(privatePath, error);
        return fail(publicPath.string() + ": cannot be written");
    }
    return 0;
}
