#pragma once
// HTTPS GET of a path on the download host: streamed piece by piece to a sink, or whole into memory.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Where a streamed body goes. start is called before any bytes with the position in the whole body at which
// the bytes that follow begin (the offset asked for, or 0 when the server sent the whole body anyway) and the
// whole body's length when the server announced it (0 otherwise). A fetch that is tried again (withRetries)
// calls it again for each further attempt, with the position the sink has reached (the bytes go on) or 0 (the
// body starts over). piece gets each received piece in order. Either returning false stops the fetch, which
// then fails.
struct BodySink {
    std::function<bool(uint64_t bodyStart, uint64_t bodyLength)> start;
    std::function<bool(const uint8_t* data, size_t size)> piece;
};

// Why a fetch failed, for a caller that decides whether another attempt could help.
enum class FetchFailure {
    None,
    Network,      // no connection, a time-out or a stall, a connection cut or reset, a server error or busy answer
    Answer,       // an answer the request cannot use (404, a range it did not ask for) or a server TLS refuses
    Refused,      // the sink refused the body's length or a piece of it
    Stopped,      // the control's stop was seen
    ProxySignIn,  // the proxy asks for a sign-in that the user's Windows credentials do not give
};

// What a fetch watches and feeds, all optional: stopped is asked while the fetch waits (a true stops it at
// once, which then fails), every received piece's length is added to receivedBytes, and failure is told why
// a fetch failed (None when it succeeded). rangeEnd, when not 0, ends the range asked for before it: the
// bytes [offset, rangeEnd) only (a piece of a pack).
struct FetchControl {
    std::function<bool()> stopped;
    std::atomic<uint64_t>* receivedBytes = nullptr;
    FetchFailure* failure = nullptr;
    uint64_t rangeEnd = 0;
};

// With offset 0 (and no rangeEnd) a plain request, which succeeds only on status 200. With an offset, a Range
// request for the body from that byte on (up to rangeEnd when given): a 206 counts only when its Content-Range
// starts at that offset, and a 200 (a server without ranges) hands the sink the whole body from 0. True only
// when the whole announced length arrived, the sink took every piece and no stop was seen. A request that brings too little for too long is dropped
// (platform/http_limits.h), and so is one whose stop is seen while it waits for the network.
bool httpFetch(const std::wstring& path, uint64_t offset, const BodySink& sink, const FetchControl& control);

// A fetch on httpFetch's terms: the download host, or a stand-in for it in tests.
using BodyFetch = std::function<bool(const std::wstring& path, uint64_t offset, const BodySink& sink,
                                     const FetchControl& control)>;

// The whole body of a plain request into memory, on the same terms, and at most largestBody bytes: a longer
// body, or an announced length beyond it, fails the fetch as refused, and no more than largestBody is ever
// reserved.
bool fetchWholeBody(const BodyFetch& fetch, const std::wstring& path, std::string& body, const FetchControl& control,
                    uint64_t largestBody);
