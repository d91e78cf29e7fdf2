#include "platform/http.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "build_settings.h"
#include "platform/handles.h"
#include "platform/http_limits.h"
#include "platform/proxy_settings.h"
#include "platform/setup_log.h"

namespace {

const wchar_t kUserAgent[] = L"maketor-setup/1.0";
constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusPartialContent = 206;
constexpr DWORD kStatusProxySignIn = 407;
// Pieces larger than this are read in several calls, so progress stays smooth.
constexpr DWORD kLargestRead = DWORD(1) << 20;
// How often a request waiting for the network looks at its stop and at the stall rule.
constexpr DWORD kWatchIntervalMs = 100;

// What WinHTTP's callbacks tell the thread that waits on a request. It belongs to the request handle, not to
// the fetch: a fetch that gives up on a stalled or stopped request closes the handle and returns at once,
// while WinHTTP may still finish a read into the buffer and call back, so the handle's last callback frees it.
struct RequestEvents {
    UniqueHandle completed{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    DWORD status = 0;  // the callback that completed the operation waited for
    DWORD available = 0;
    DWORD read = 0;
    DWORD error = 0;
    std::vector<uint8_t> buffer;
};

void CALLBACK onRequestCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    auto* events = reinterpret_cast<RequestEvents*>(context);
    if (!events) return;  // the session and connection handles carry no context
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            delete events;
            return;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            events->available = *static_cast<DWORD*>(info);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            events->read = length;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            events->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
            break;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        default:
            return;
    }
    events->status = status;
    SetEvent(events->completed.get());
}

// The proxy the session's requests go through (empty: none), known once the session is open.
std::wstring sessionProxy;

// Requests to the download host go through the proxy the user's settings name, chosen once.
HINTERNET openSession() {
    const ProxyRoute route = proxyRouteTo(MAKETOR_DOWNLOAD_HOST_W, MAKETOR_DOWNLOAD_PORT);
    sessionProxy = route.proxy;
    if (!route.proxy.empty()) logLine(L"соединение через прокси-сервер " + route.proxy + L" (" + route.source + L")");
    HINTERNET session = WinHttpOpen(
        kUserAgent, route.proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
        route.proxy.empty() ? WINHTTP_NO_PROXY_NAME : route.proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session) return nullptr;
    WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    WinHttpSetStatusCallback(session, onRequestCallback,
                             WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0);
    return session;
}

// One session and one connection serve every request of the process, so that WinHTTP keeps the TLS
// connection alive between files instead of shaking hands per request. They live until the process
// ends: detached threads may still be inside a request at exit, so nothing closes them. The session is
// asynchronous, so that a request waiting on a stalled connection can be given up at once.
HINTERNET sharedConnection() {
    static std::mutex openLock;
    static HINTERNET session = nullptr;
    static HINTERNET connection = nullptr;
    std::lock_guard<std::mutex> lock(openLock);
    if (!session) session = openSession();
    if (session && !connection)
        connection = WinHttpConnect(session, MAKETOR_DOWNLOAD_HOST_W, MAKETOR_DOWNLOAD_PORT, 0);
    return connection;
}

bool isStopped(const FetchControl& control) { return control.stopped && control.stopped(); }

DWORD statusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    return status;
}

// How long the question to the proxy below may take at each step; it is asked only after a failure.
constexpr int kProxyQuestionTimeoutMs = 3000;

// Wine's WinHTTP drops a proxy's 407 to the tunnel and fails the TLS handshake that follows instead: a plain
// request through the same proxy shows whether it asks for a sign-in.
bool proxyAsksForSignIn() {
    if (sessionProxy.empty()) return false;
    UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, sessionProxy.c_str(),
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    WinHttpSetTimeouts(session.get(), kProxyQuestionTimeoutMs, kProxyQuestionTimeoutMs, kProxyQuestionTimeoutMs,
                       kProxyQuestionTimeoutMs);
    UniqueInternet connection(WinHttpConnect(session.get(), MAKETOR_DOWNLOAD_HOST_W, MAKETOR_DOWNLOAD_PORT, 0));
    UniqueInternet request(connection ? WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                                           WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                      : nullptr);
    return request &&
           WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
           WinHttpReceiveResponse(request.get(), nullptr) && statusOf(request.get()) == kStatusProxySignIn;
}

// One request in flight: its handle, what its callbacks say, and the watch on its progress.
struct Exchange {
    HINTERNET request = nullptr;
    RequestEvents* events = nullptr;
    const FetchControl* control = nullptr;
    ProgressWindow progress;
    uint64_t received = 0;
    FetchFailure failure = FetchFailure::Network;
};

// Waits for the operation just started to end with expected; false when it ended otherwise, or when the stop
// was seen or the request stalled meanwhile (the caller then closes the request, which WinHTTP allows while
// an operation is pending).
bool awaitCompletion(Exchange& exchange, DWORD expected) {
    for (;;) {
        if (WaitForSingleObject(exchange.events->completed.get(), kWatchIntervalMs) == WAIT_OBJECT_0) break;
        if (isStopped(*exchange.control)) {
            exchange.failure = FetchFailure::Stopped;
            return false;
        }
        if (isStalled(exchange.progress, GetTickCount64(), exchange.received)) {
            exchange.failure = FetchFailure::Network;
            return false;
        }
    }
    if (exchange.events->status == expected) return true;
    // A server whose certificate TLS refuses stays refused; any other error may pass.
    exchange.failure = exchange.events->error == ERROR_WINHTTP_SECURE_FAILURE ? FetchFailure::Answer
                                                                              : FetchFailure::Network;
    return false;
}


bool sendOnce(Exchange& exchange, const std::wstring& range) {
    const wchar_t* headers = range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str();
    if (!WinHttpSendRequest(exchange.request, headers, DWORD(range.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                            reinterpret_cast<DWORD_PTR>(exchange.events)) ||
        !awaitCompletion(exchange, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE))
        return false;
    return WinHttpReceiveResponse(exchange.request, nullptr) &&
           awaitCompletion(exchange, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE);
}

// A proxy that asks for a sign-in gets the user's Windows credentials, once, where its scheme can carry them
// (Negotiate, NTLM); a proxy that wants a name and password typed in cannot be answered.
bool offerWindowsCredentials(HINTERNET request) {
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target) || target != WINHTTP_AUTH_TARGET_PROXY)
        return false;
    const DWORD scheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                         : (supported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                     : 0;
    return scheme != 0 && WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr);
}

bool send(Exchange& exchange, uint64_t offset) {
    const uint64_t rangeEnd = exchange.control->rangeEnd;
    std::wstring range;
    if (offset > 0 || rangeEnd > 0) range = L"Range: bytes=" + std::to_wstring(offset) + L"-";
    if (rangeEnd > offset) range += std::to_wstring(rangeEnd - 1);
    DWORD logonPolicy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;  // the Windows sign-in for a proxy outside the intranet too
    WinHttpSetOption(exchange.request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logonPolicy, sizeof logonPolicy);
    if (!sendOnce(exchange, range)) {
        if (exchange.failure != FetchFailure::Stopped && proxyAsksForSignIn())
            exchange.failure = FetchFailure::ProxySignIn;
        return false;
    }
    if (statusOf(exchange.request) == kStatusProxySignIn && offerWindowsCredentials(exchange.request))
        return sendOnce(exchange, range);
    return true;
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

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"): the first and last byte sent and the whole body's length (0 if
// unknown).
bool contentRange(HINTERNET request, uint64_t& first, uint64_t& last, uint64_t& total) {
    const std::wstring text = headerText(request, WINHTTP_QUERY_CONTENT_RANGE);
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return false;
    size_t position = unit.size();
    if (!readNumber(text, position, first) || position >= text.size() || text[position++] != L'-') return false;
    if (!readNumber(text, position, last) || last < first || position >= text.size() || text[position++] != L'/')
        return false;
    total = 0;
    if (text.compare(position, std::wstring::npos, L"*") == 0) return true;
    return readNumber(text, position, total) && position == text.size() && total > last;
}

// Where the body the server sends begins in the whole body, and the whole length; false for any answer the
// request cannot use (failure says whether another attempt could help).
bool bodyPlacement(Exchange& exchange, uint64_t offset, uint64_t& bodyStart, uint64_t& wholeLength) {
    const DWORD status = statusOf(exchange.request);
    uint64_t length = 0;
    const bool lengthAnnounced = announcedLength(exchange.request, length);
    exchange.failure = FetchFailure::Answer;
    if (status == kStatusOk) {
        bodyStart = 0;
        wholeLength = lengthAnnounced ? length : 0;
        return true;
    }
    if (status == kStatusProxySignIn) exchange.failure = FetchFailure::ProxySignIn;
    if (isTransientStatus(status)) exchange.failure = FetchFailure::Network;
    if (status != kStatusPartialContent || (offset == 0 && exchange.control->rangeEnd == 0)) return false;
    uint64_t first = 0, last = 0, total = 0;
    if (!contentRange(exchange.request, first, last, total) || first != offset) return false;
    // A length that disagrees with the range would let the body run past it.
    if (lengthAnnounced && length != last - first + 1) return false;
    bodyStart = offset;
    wholeLength = total != 0 ? total : (lengthAnnounced ? offset + length : 0);
    return true;
}

// Reads until the server has sent everything; counts each piece when asked to.
bool readBody(Exchange& exchange, const BodySink& sink) {
    RequestEvents& events = *exchange.events;
    for (;;) {
        if (!WinHttpQueryDataAvailable(exchange.request, nullptr) ||
            !awaitCompletion(exchange, WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE))
            return false;
        const DWORD available = std::min(events.available, kLargestRead);
        if (available == 0) return true;
        if (events.buffer.size() < available) events.buffer.resize(available);
        if (!WinHttpReadData(exchange.request, events.buffer.data(), available, nullptr) ||
            !awaitCompletion(exchange, WINHTTP_CALLBACK_STATUS_READ_COMPLETE))
            return false;
        const DWORD got = events.read;
        if (got == 0) return true;
        exchange.received += got;
        if (exchange.control->receivedBytes) exchange.control->receivedBytes->fetch_add(got);
        if (!sink.piece(events.buffer.data(), got)) {
            exchange.failure = FetchFailure::Refused;
            return false;
        }
    }
}

bool fetchOnce(Exchange& exchange, uint64_t offset, const BodySink& sink) {
    if (!send(exchange, offset)) return false;
    uint64_t bodyStart = 0, wholeLength = 0;
    if (!bodyPlacement(exchange, offset, bodyStart, wholeLength)) return false;
    uint64_t expectedLength = 0;
    const bool lengthAnnounced = announcedLength(exchange.request, expectedLength);
    if (!sink.start(bodyStart, wholeLength)) {
        exchange.failure = FetchFailure::Refused;
        return false;
    }
    exchange.failure = FetchFailure::Network;
    if (!readBody(exchange, sink)) return false;
    // A connection that closes early can look like the end of the body; the announced length tells.
    if (lengthAnnounced && exchange.received != expectedLength) return false;
    // A stop that arrives with the last piece still fails the fetch.
    if (isStopped(*exchange.control)) {
        exchange.failure = FetchFailure::Stopped;
        return false;
    }
    return true;
}

bool fetchOverNetwork(const std::wstring& path, uint64_t offset, const BodySink& sink, const FetchControl& control,
                      FetchFailure& failure) {
    failure = FetchFailure::Network;
    HINTERNET connection = sharedConnection();
    if (!connection) return false;
    auto* events = new (std::nothrow) RequestEvents;
    if (!events || !events->completed) {
        delete events;
        return false;
    }
    UniqueInternet request(WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(events);
    if (!request || !WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        request.reset();
        delete events;  // no callback of the request knows it
        return false;
    }
    // From here the request's last callback frees events, so this thread leaves them alone once it closes it.
    Exchange exchange;
    exchange.request = request.get();
    exchange.events = events;
    exchange.control = &control;
    exchange.progress = ProgressWindow{GetTickCount64(), 0};
    bool fetched = false;
    try {
        fetched = fetchOnce(exchange, offset, sink);
    } catch (const std::bad_alloc&) {
        exchange.failure = FetchFailure::Refused;  // a body too big for memory is no exception out of the thread
    }
    failure = fetched ? FetchFailure::None : exchange.failure;
    return fetched;
}

}  // namespace

bool httpFetch(const std::wstring& path, uint64_t offset, const BodySink& sink, const FetchControl& control) {
    FetchFailure failure = FetchFailure::None;
    const bool fetched = fetchOverNetwork(path, offset, sink, control, failure);
    if (control.failure) *control.failure = failure;
    return fetched;
}

namespace {

// Gives body room for capacity bytes, exactly: a string's own reserve may round a growth up to twice what it
// had, which would take a body near its cap past it.
void growTo(std::string& body, uint64_t capacity) {
    std::string grown;
    grown.reserve(size_t(capacity));
    grown.append(body);
    body.swap(grown);
}

}  // namespace

bool fetchWholeBody(const BodyFetch& fetch, const std::wstring& path, std::string& body, const FetchControl& control,
                    uint64_t largestBody) {
    body.clear();
    BodySink sink;
    sink.start = [&body, largestBody](uint64_t bodyStart, uint64_t length) {
        if (bodyStart == 0) body.clear();  // a further attempt that got the whole body again
        if (length > largestBody) return false;
        // One allocation of the announced size: a body grown piece by piece is copied at each growth, and a
        // large one is then held twice over for a moment.
        if (length > body.capacity()) growTo(body, length);
        return true;
    };
    sink.piece = [&body, largestBody](const uint8_t* data, size_t size) {
        if (size > largestBody - body.size()) return false;
        if (body.size() + size > body.capacity())
            growTo(body, std::min<uint64_t>(largestBody, std::max<uint64_t>(2 * body.capacity(), body.size() + size)));
        body.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    return fetch(path, 0, sink, control);
}
