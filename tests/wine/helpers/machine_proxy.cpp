// machine_proxy.exe set PROXY [BYPASS] | clear — the machine's WinHTTP proxy setting, as "netsh winhttp set
// proxy" and "netsh winhttp reset proxy" make it (Wine has no netsh winhttp). Exits 1 when it cannot be written.
#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    WINHTTP_PROXY_INFO info = {};
    std::wstring proxy, bypass;
    if (argc >= 3 && std::wcscmp(argv[1], L"set") == 0) {
        proxy = argv[2];
        bypass = argc >= 4 ? argv[3] : L"";
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = proxy.data();
        info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
    } else if (argc == 2 && std::wcscmp(argv[1], L"clear") == 0) {
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    } else {
        std::fwprintf(stderr, L"usage: machine_proxy.exe set PROXY [BYPASS] | clear\n");
        return 2;
    }
    return WinHttpSetDefaultProxyConfiguration(&info) ? 0 : 1;
}
