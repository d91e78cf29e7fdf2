#include "platform/http_limits.h"

bool isStalled(ProgressWindow& window, uint64_t nowMs, uint64_t receivedBytes) {
    if (nowMs - window.startMs < kStallWindowMs) return false;
    if (receivedBytes - window.startBytes < kStallLeastBytes) return true;
    window.startMs = nowMs;
    window.startBytes = receivedBytes;
    return false;
}

bool isTransientStatus(unsigned status) { return (status >= 500 && status <= 599) || status == 408 || status == 429; }
