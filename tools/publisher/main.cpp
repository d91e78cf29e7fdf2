// maketor-publish: the vendor's release tool. It makes the release key pair, publishes a folder of files as
// a signed release (manifest.json, manifest.sig, blobs/<sha256>.lzms), signs a release again with a fresh
// expiry and checks a published release with the product's own rules.
#include <cstdio>
#include <exception>
#include <string>

#include "tools/publisher/commands.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  maketor-publish keygen PRIVATE_KEY PUBLIC_KEY\n"
    "  maketor-publish release --key PRIVATE_KEY --version VERSION [--date DATE] [--expires-in DURATION]\n"
    "                          [--allow-downgrade] [--block-size BYTES] [--jobs N] [--previous DIR]...\n"
    "                          SOURCE_DIR RELEASE_DIR\n"
    "  maketor-publish resign --key PRIVATE_KEY --expires-in DURATION RELEASE_DIR\n"
    "  maketor-publish verify --public-key PUBLIC_KEY [--jobs N] [--previous DIR]... RELEASE_DIR\n"
    "  maketor-publish unpack BLOB OUTPUT_FILE\n";

struct Command {
    const char* name;
    int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {"keygen", runKeygen},
    {"release", runRelease},
    {"resign", runResign},
    {"verify", runVerify},
    {"unpack", runUnpack},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string name = argv[1];
    for (const Command& command : kCommands) {
        if (name != command.name) continue;
        try {
            return command.run(Arguments(argv + 2, argv + argc));
        } catch (const std::exception& error) {  // out of memory, file system errors: still one line and an exit code
            return fail(name + ": " + error.what());
        }
    }
    return failUsage("unknown command \"" + name + "\" (run without arguments for the usage)");
}
