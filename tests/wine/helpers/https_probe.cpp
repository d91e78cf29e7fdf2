// https_probe.exe PORT PATH — one WinHTTP GET of https://localhost:PORT/PATH. Prints the status code and the
// body length; exits 0 only for status 200. Tells a test setup whether the prefix trusts the test server.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct InternetCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: https_probe.exe PORT PATH\n");
        return 2;
    }
    const INTERNET_PORT port = static_cast<INTERNET_PORT>(_wtoi(argv[1]));
    UniqueInternet session(WinHttpOpen(L"maketor-probe/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueInternet connection(session ? WinHttpConnect(session.get(), L"localhost", port, 0) : nullptr);
    UniqueInternet request(connection ? WinHttpOpenRequest(connection.get(), L"GET", argv[2], nullptr,
                                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                           WINHTTP_FLAG_SECURE)
                                      : nullptr);
    if (!request || !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                        0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        fwprintf(stderr, L"https_probe: request failed (error %lu)\n", GetLastError());
        return 1;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    unsigned long long length = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available) || available == 0) break;
        char buffer[65536];
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer, available < sizeof buffer ? available : sizeof buffer, &got))
            break;
        length += got;
    }
    wprintf(L"status %lu, %llu bytes\n", status, length);
    return status == 200 ? 0 : 1;
}
