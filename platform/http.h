#pragma once
// HTTPS GET of a path on the download host: streamed piece by piece to a sink, or whole into memory.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Where a streamed body goes. start is called once, before any bytes, with the position in the whole body at
// which the bytes that follow begin (the offset asked for, or 0 when the server sent the whole body anyway)
// and the whole body's length when the server announced it (0 otherwise). piece gets each received piece in
// order. Either returning false stops the fetch, which then fails.
struct BodySink {
    std::function<bool(uint64_t bodyStart, uint64_t bodyLength)> start;
    std::function<bool(const uint8_t* data, size_t size)> piece;
};

// What a fetch watches and feeds, both optional: stopped is asked between received pieces (a true stops the
// fetch, which then fails), and every received piece's length is added to receivedBytes. rangeEnd, when not 0,
// ends the range asked for before it: the bytes [offset, rangeEnd) only (a piece of a pack).
struct FetchControl {
    std::function<bool()> stopped;
    std::atomic<uint64_t>* receivedBytes = nullptr;
    uint64_t rangeEnd = 0;
};

// With offset 0 (and no rangeEnd) a plain request, which succeeds only on status 200. With an offset, a Range
// request for the body from that byte on (up to rangeEnd when given): a 206 counts only when its Content-Range
// starts at that offset, and a 200 (a server without ranges) hands the sink the whole body from 0. True only when the whole announced length arrived, the
// sink took every piece and no stop was seen.
bool httpFetch(const std::wstring& path, uint64_t offset, const BodySink& sink, const FetchControl& control);

// A fetch on httpFetch's terms: the download host, or a stand-in for it in tests.
using BodyFetch = std::function<bool(const std::wstring& path, uint64_t offset, const BodySink& sink,
                                     const FetchControl& control)>;

// The whole body of a plain request into memory, on the same terms.
bool fetchWholeBody(const BodyFetch& fetch, const std::wstring& path, std::string& body, const FetchControl& control);
bool httpGet(const std::wstring& path, std::string& body, const FetchControl& control);
