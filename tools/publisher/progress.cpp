#include "tools/publisher/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::chrono::milliseconds kTerminalRedraw{100};
constexpr std::chrono::milliseconds kDefaultPlainInterval{10000};

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::chrono::milliseconds plainIntervalFromEnvironment() {
    const char* text = std::getenv("MAKETOR_PUBLISH_PROGRESS_SECONDS");
    if (text == nullptr || *text == '\0') return kDefaultPlainInterval;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !(seconds >= 0 && seconds < 1e6)) return kDefaultPlainInterval;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

size_t terminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string mebibytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string clockText(uint64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                      unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(seconds / 60), unsigned(seconds % 60));
    return text;
}

// Keeps the end of a path that is too long, where the file's name is.
std::string lastCharacters(const std::string& text, size_t room) {
    if (text.size() <= room) return text;
    if (room <= 3) return std::string(room, '.');
    size_t from = text.size() - (room - 3);
    while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;  // whole UTF-8
    return "..." + text.substr(from);
}

}  // namespace

Progress::Progress(const char* actionName, size_t files, uint64_t bytes)
    : action(actionName),
      filesTotal(files),
      bytesTotal(bytes),
      terminal(stderrIsTerminal()),
      plainInterval(plainIntervalFromEnvironment()) {}

std::string progressText(const char* action, uint64_t bytesDone, uint64_t bytesTotal, size_t filesDone,
                         size_t filesTotal, double seconds, const std::string& path, size_t width) {
    const unsigned percent = bytesTotal == 0 ? 100 : unsigned(bytesDone * 100 / bytesTotal);
    std::string rate = "-- MiB/s";
    std::string left = "--:-- left";
    if (seconds >= 1.0 && bytesDone > 0) {
        const double bytesPerSecond = double(bytesDone) / seconds;
        rate = mebibytes(uint64_t(bytesPerSecond)) + " MiB/s";
        left = clockText(uint64_t(double(bytesTotal - std::min(bytesDone, bytesTotal)) / bytesPerSecond + 0.5)) +
               " left";
    }
    std::string text = std::string(action) + "  " + mebibytes(bytesDone) + "/" + mebibytes(bytesTotal) + " MiB  " +
                       std::to_string(percent) + "%  " + rate + "  " + left + "  " + std::to_string(filesDone) +
                       "/" + std::to_string(filesTotal) + " files";
    if (path.empty()) return text;
    if (width == 0) return text + "  " + path;
    constexpr size_t kShortestPath = 8;
    if (text.size() + 2 + kShortestPath > width) return text.substr(0, width);
    return text + "  " + lastCharacters(path, width - text.size() - 2);
}

void showProgress(Progress& progress) {
    const ProgressClock::time_point now = ProgressClock::now();
    const auto interval = progress.terminal ? kTerminalRedraw : progress.plainInterval;
    if (progress.shown != ProgressClock::time_point{} && now - progress.shown < interval) return;
    if (!progress.terminal && now - progress.start < interval) return;
    progress.shown = now;
    const double seconds = std::chrono::duration<double>(now - progress.start).count();
    // One column short of the width: a terminal that wraps at the last column would break the redraw.
    const std::string text = progressText(progress.action, progress.bytesDone.load(), progress.bytesTotal,
                                          progress.filesDone, progress.filesTotal, seconds, progress.path,
                                          progress.terminal ? terminalColumns() - 1 : 0);
    std::fprintf(stderr, progress.terminal ? "\r\033[K%s" : "%s\n", text.c_str());
    std::fflush(stderr);
}

void clearProgressLine() {
    if (stderrIsTerminal()) std::fputs("\r\033[K", stderr);
}
