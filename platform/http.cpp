#include "platform/http.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "build_settings.h"
#include "platform/handles.h"

namespace {

// Bodies read whole into memory are small (the manifest and its signature); a larger announced length is not
// taken on trust for presizing.
const uint64_t kLargestPresizedBody = uint64_t{4} << 30;

// One session and one connection serve every request of the process, so that WinHTTP keeps the TLS
// connection alive between files instead of shaking hands per request. They live until the process
// ends: detached threads may still be inside a request at exit, so nothing closes them.
HINTERNET sharedConnection() {
    static std::mutex openLock;
    static HINTERNET session = nullptr;
    static HINTERNET connection = nullptr;
    std::lock_guard<std::mutex> lock(openLock);
    if (!session)
        session = WinHttpOpen(L"maketor-setup/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    if (session && !connection)
        connection = WinHttpConnect(session, MAKETOR_DOWNLOAD_HOST_W, MAKETOR_DOWNLOAD_PORT, 0);
    return connection;
}

constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusPartialContent = 206;
// Pieces larger than this are read in several calls, so progress and cancellation stay responsive.
constexpr DWORD kLargestRead = DWORD(1) << 20;

bool send(HINTERNET request, uint64_t offset, uint64_t rangeEnd) {
    std::wstring range;
    if (offset > 0 || rangeEnd > 0) range = L"Range: bytes=" + std::to_wstring(offset) + L"-";
    if (rangeEnd > offset) range += std::to_wstring(rangeEnd - 1);
    const wchar_t* headers = range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str();
    if (!WinHttpSendRequest(request, headers, DWORD(range.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) return false;
    return WinHttpReceiveResponse(request, nullptr) != FALSE;
}

DWORD statusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    return status;
}

std::wstring headerText(HINTERNET request, DWORD query) {
    wchar_t text[128] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    return text;
}

// Reads a decimal number at position; false when there is no digit there or it overflows.
bool readNumber(const std::wstring& text, size_t& position, uint64_t& value) {
    const size_t first = position;
    value = 0;
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        const uint64_t digit = uint64_t(text[position] - L'0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return position != first;
}

// The body length the server announced, when it announced one.
bool announcedLength(HINTERNET request, uint64_t& length) {
    const std::wstring text = headerText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    size_t position = 0;
    return readNumber(text, position, length) && position == text.size();
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"): the first byte sent and the whole body's length (0 if unknown).
bool contentRange(HINTERNET request, uint64_t& first, uint64_t& total) {
    const std::wstring text = headerText(request, WINHTTP_QUERY_CONTENT_RANGE);
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return false;
    size_t position = unit.size();
    uint64_t last = 0;
    if (!readNumber(text, position, first) || position >= text.size() || text[position++] != L'-') return false;
    if (!readNumber(text, position, last) || last < first || position >= text.size() || text[position++] != L'/')
        return false;
    total = 0;
    if (text.compare(position, std::wstring::npos, L"*") == 0) return true;
    return readNumber(text, position, total) && position == text.size() && total > last;
}

bool isStopped(const FetchControl& control) { return control.stopped && control.stopped(); }

// Reads until the server has sent everything or the fetch is stopped; counts each piece when asked to.
bool readBody(HINTERNET request, const BodySink& sink, const FetchControl& control, uint64_t& received) {
    std::vector<uint8_t> buffer;
    while (!isStopped(control)) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        available = std::min(available, kLargestRead);
        if (buffer.size() < available) buffer.resize(available);
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), available, &got)) return false;
        if (control.receivedBytes) control.receivedBytes->fetch_add(got);
        received += got;
        if (got > 0 && !sink.piece(buffer.data(), got)) return false;
    }
    return false;
}

// Where the body the server sends begins in the whole body, and the whole length; false for any answer the
// request cannot use.
bool bodyPlacement(HINTERNET request, uint64_t offset, bool ranged, uint64_t& bodyStart, uint64_t& wholeLength) {
    const DWORD status = statusOf(request);
    uint64_t length = 0;
    const bool lengthAnnounced = announcedLength(request, length);
    if (status == kStatusOk) {
        bodyStart = 0;
        wholeLength = lengthAnnounced ? length : 0;
        return true;
    }
    if (status != kStatusPartialContent || !ranged) return false;
    uint64_t first = 0, total = 0;
    if (!contentRange(request, first, total) || first != offset) return false;
    bodyStart = offset;
    wholeLength = total != 0 ? total : (lengthAnnounced ? offset + length : 0);
    return true;
}

}  // namespace

bool httpFetch(const std::wstring& path, uint64_t offset, const BodySink& sink, const FetchControl& control) {
    HINTERNET connection = sharedConnection();
    if (!connection) return false;
    UniqueInternet request(WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request || !send(request.get(), offset, control.rangeEnd)) return false;
    uint64_t bodyStart = 0, wholeLength = 0;
    if (!bodyPlacement(request.get(), offset, offset > 0 || control.rangeEnd > 0, bodyStart, wholeLength))
        return false;
    uint64_t expectedLength = 0;
    const bool lengthAnnounced = announcedLength(request.get(), expectedLength);
    try {
        if (!sink.start(bodyStart, wholeLength)) return false;
        uint64_t received = 0;
        const bool complete = readBody(request.get(), sink, control, received);
        // A connection that closes early can look like the end of the body; the announced length tells.
        if (complete && lengthAnnounced && received != expectedLength) return false;
        // A stop that arrives with the last piece still fails the fetch.
        return complete && !isStopped(control);
    } catch (const std::bad_alloc&) {
        return false;  // a body too big for memory is a failed download, not an exception out of the thread
    }
}

bool fetchWholeBody(const BodyFetch& fetch, const std::wstring& path, std::string& body, const FetchControl& control) {
    body.clear();
    BodySink sink;
    sink.start = [&body](uint64_t, uint64_t length) {
        // One allocation of the announced size: a body grown piece by piece is copied at each growth, and a
        // large one is then held twice over for a moment.
        if (length <= kLargestPresizedBody) body.reserve(size_t(length));
        return true;
    };
    sink.piece = [&body](const uint8_t* data, size_t size) {
        body.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    return fetch(path, 0, sink, control);
}

bool httpGet(const std::wstring& path, std::string& body, const FetchControl& control) {
    return fetchWholeBody(httpFetch, path, body, control);
}
