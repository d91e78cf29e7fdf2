#include "tools/publisher/progress.h"

#include <unistd.h>

#include <cstdio>

namespace {

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

double mebibytes(uint64_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

}  // namespace

void showProgress(const Progress& progress, const std::string& path) {
    if (!stderrIsTerminal()) return;
    std::fprintf(stderr, "\r\033[K%s %zu/%zu files, %.1f/%.1f MiB: %s", progress.action, progress.filesDone,
                 progress.filesTotal, mebibytes(progress.bytesDone), mebibytes(progress.bytesTotal), path.c_str());
    std::fflush(stderr);
}

void advanceProgress(Progress& progress, uint64_t fileBytes) {
    progress.filesDone += 1;
    progress.bytesDone += fileBytes;
}

void clearProgressLine() {
    if (stderrIsTerminal()) std::fputs("\r\033[K", stderr);
}
