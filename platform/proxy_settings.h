#pragma once
// The proxy that requests to the download host go through, found as Windows users configure it: the user's
// Internet settings (automatic detection, an automatic configuration script, a fixed proxy with its bypass
// list), and failing those the machine's WinHTTP setting ("netsh winhttp set proxy").
#include <string>

struct ProxyRoute {
    std::wstring proxy;   // "host:port" (or a list WinHTTP tries in order); empty: direct
    const wchar_t* source = L"";  // which setting named it, for the log
};

// Looks at the settings and, for a script or automatic detection, asks WinHTTP to run it for a file on the
// host: call it once per process.
ProxyRoute proxyRouteTo(const std::wstring& host, unsigned port);
