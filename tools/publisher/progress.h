#pragma once
// Progress of a long run, shown on stderr when stderr is a terminal: files and bytes done of the total,
// on one line rewritten in place. Logs get no progress lines, only the outcome.
#include <cstddef>
#include <cstdint>
#include <string>

struct Progress {
    const char* action;  // "releasing", "verifying"
    size_t filesTotal = 0;
    uint64_t bytesTotal = 0;
    size_t filesDone = 0;
    uint64_t bytesDone = 0;
};

// Shows the file about to be worked on with the totals so far.
void showProgress(const Progress& progress, const std::string& path);
// Counts one more file of the given size.
void advanceProgress(Progress& progress, uint64_t fileBytes);
// Clears the progress line, so that the next message starts a clean line.
void clearProgressLine();
