#include <cstdio>

#include "tools/publisher/commands.h"

int fail(const std::string& message) {
    std::fprintf(stderr, "maketor-publish: %s\n", message.c_str());
    return 1;
}

int failUsage(const std::string& message) {
    std::fprintf(stderr, "maketor-publish: %s\n", message.c_str());
    return 2;
}
