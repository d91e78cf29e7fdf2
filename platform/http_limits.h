#pragma once
// Bounds on one request: the WinHTTP time-outs, named rather than left to the defaults (which let a name
// resolution wait for ever), and the rule that drops a transfer making too little progress: a server that
// drips a byte every few seconds never trips a receive time-out.
#include <cstdint>

// WinHttpSetTimeouts, in milliseconds.
constexpr int kResolveTimeoutMs = 15000;  // the host name
constexpr int kConnectTimeoutMs = 15000;  // the TCP connection
constexpr int kSendTimeoutMs = 30000;     // the request
constexpr int kReceiveTimeoutMs = 30000;  // each wait for bytes of the answer

// A request must bring kStallLeastBytes in every window of kStallWindowMs from its start (about 4.4 kbit/s):
// a connection dripping a byte every 5 s trips it after the first window, a slow link of 64 kbit/s brings
// fifteen times that.
constexpr uint64_t kStallWindowMs = 30000;
constexpr uint64_t kStallLeastBytes = uint64_t{16} << 10;

struct ProgressWindow {
    uint64_t startMs = 0;
    uint64_t startBytes = 0;
};

// Asked at any moment with the bytes received so far (never fewer than before). True when a whole window
// passed with fewer than kStallLeastBytes; otherwise a window that has run its course gives way to the next.
bool isStalled(ProgressWindow& window, uint64_t nowMs, uint64_t receivedBytes);

// An answer status that tells of passing trouble, worth another attempt: a server error (5xx), a request
// time-out (408) or too many requests (429).
bool isTransientStatus(unsigned status);
