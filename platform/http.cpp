#include "platform/http.h"

#include <windows.h>
#include <winhttp.h>

#include <mutex>
#include <new>

#include "app/app_state.h"
#include "build_settings.h"
#include "platform/handles.h"

namespace {

// Release files stay below 4 GiB; a larger announced length is not taken on trust for presizing.
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

// False for any failure, a status other than 200 included; the body is not read then.
bool sendAndCheckStatus(HINTERNET request) {
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return false;
    if (!WinHttpReceiveResponse(request, nullptr)) return false;
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    return status == 200;
}

// The body length the server announced, when it announced one.
bool announcedLength(HINTERNET request, uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return false;
    length = 0;
    const wchar_t* digit = text;
    for (; *digit >= L'0' && *digit <= L'9'; ++digit) length = length * 10 + static_cast<uint64_t>(*digit - L'0');
    return digit != text;
}

// Reads until the server has sent everything or the user cancels; counts each chunk when asked to.
bool readBody(HINTERNET request, std::string& body, bool countProgress) {
    while (!appState.cancelRequested.load()) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        const size_t oldLength = body.size();
        body.resize(oldLength + available);
        DWORD got = 0;
        if (!WinHttpReadData(request, &body[oldLength], available, &got)) {
            body.resize(oldLength);
            return false;
        }
        body.resize(oldLength + got);
        if (countProgress) appState.bytesDone.fetch_add(got);
    }
    return false;
}

}  // namespace

bool httpGet(const std::wstring& path, std::string& body, bool countProgress) {
    body.clear();
    HINTERNET connection = sharedConnection();
    if (!connection) return false;
    UniqueInternet request(WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return false;
    if (!sendAndCheckStatus(request.get())) return false;
    uint64_t expectedLength = 0;
    const bool lengthAnnounced = announcedLength(request.get(), expectedLength);
    try {
        // One allocation of the announced size: a body grown chunk by chunk is copied at each growth, and a
        // large one is then held twice over for a moment.
        if (lengthAnnounced && expectedLength <= kLargestPresizedBody) body.reserve(size_t(expectedLength));
        const bool complete = readBody(request.get(), body, countProgress);
        // A connection that closes early can look like the end of the body; the announced length tells.
        if (complete && lengthAnnounced && body.size() != expectedLength) return false;
        // A cancel that arrives with the last chunk still fails the fetch.
        return complete && !appState.cancelRequested.load();
    } catch (const std::bad_alloc&) {
        return false;  // a body too big for memory is a failed download, not an exception out of the thread
    }
}
