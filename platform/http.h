#pragma once
// HTTPS GET of a path on the download host: streamed piece by piece to a sink, or whole into memory.
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

// With offset 0 a plain request, which succeeds only on status 200. With an offset, a Range request for the
// body from that byte on: a 206 counts only when its Content-Range starts at that offset, and a 200 (a server
// without ranges) hands the sink the whole body from 0. True only when the whole announced length arrived, the
// sink took every piece and no cancellation was seen. With countProgress every received piece's length is
// added to appState.bytesDone.
bool httpFetch(const std::wstring& path, uint64_t offset, const BodySink& sink, bool countProgress);

// The whole body of a plain request into memory, on the same terms.
bool httpGet(const std::wstring& path, std::string& body, bool countProgress);
