#pragma once
// Progress of a long run on stderr. On a terminal: one line rewritten in place (bytes done of the total,
// rate, time left, files, the file in work), redrawn while the work goes on. Elsewhere (a log, a pipe): the
// same as a plain line every MAKETOR_PUBLISH_PROGRESS_SECONDS seconds (default 10), so short runs print none.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

using ProgressClock = std::chrono::steady_clock;

struct Progress {
    Progress(const char* action, size_t filesTotal, uint64_t bytesTotal);

    const char* action;  // "checking", "compressing", "verifying"
    size_t filesTotal;
    uint64_t bytesTotal;
    std::atomic<uint64_t> bytesDone{0};  // added to by the workers as they go
    size_t filesDone = 0;
    std::string path;  // the file in work
    ProgressClock::time_point start = ProgressClock::now();
    ProgressClock::time_point shown{};
    bool terminal;
    std::chrono::milliseconds plainInterval;
};

// What a progress line says, e.g. "compressing  45.2/128.0 MiB  35%  9.8 MiB/s  0:09 left  12/222 files  a.dll".
// The rate and the time left show as "--" until a second has passed with bytes done. Within a width (0: any),
// the path loses its beginning first, then the path goes and the figures are cut.
std::string progressText(const char* action, uint64_t bytesDone, uint64_t bytesTotal, size_t filesDone,
                         size_t filesTotal, double seconds, const std::string& path, size_t width);
// Draws the line when it is due: on a terminal at most ten times a second, elsewhere every plainInterval.
void showProgress(Progress& progress);
// Clears the terminal line, so that the next message starts a clean line (nothing to do in a pipe).
void clearProgressLine();
