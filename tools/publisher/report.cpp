#include <cstdio>

#include "tools/publisher/commands.h"
#include "tools/publisher/progress.h"

int fail(const std::string& message) {
    clearProgressLine();
    std::fprintf(stderr, "maketor-publish: %s\n", message.c_str());
    return 1;
}

int failUsage(const std::string& message) {
    std::fprintf(stderr, "maketor-publish: %s\n", message.c_str());
    return 2;
}
