#pragma once
// How a proxy is chosen for the download host from the settings Windows users make, as the system's own
// HTTP stacks read them: the proxy server of a fixed setting for HTTPS, and the bypass list.
#include <string>

// The user's Internet settings ("Internet Settings" in the user's registry hive, or the connection settings
// Windows keeps beside them).
struct UserProxySettings {
    bool autoDetect = false;     // "Automatically detect settings" (WPAD)
    std::wstring autoConfigUrl;  // "Use setup script": the address of a PAC file
    std::wstring proxyServer;    // "Use a proxy server": "host:port", or per scheme "http=host:port;https=host:port"
    std::wstring bypassList;     // addresses that go direct: "*.corp.example;10.*;<local>", separated by ';'
};

// The proxy an HTTPS request goes through under a fixed setting: the "https=" entry, else an entry for every
// scheme; empty when there is none (the request goes direct). A "http://" before a server is dropped.
std::wstring proxyForHttps(const std::wstring& proxyServer);

// True when the bypass list sends requests to host direct: an entry that matches it (letter case aside, '*'
// standing for any run of characters, a "http://" or "https://" before it ignored, with or without the port),
// "<local>" for a name without a dot, and loopback (localhost, 127.x.x.x, ::1) always, unless the list says
// "<-loopback>".
bool isBypassed(const std::wstring& bypassList, const std::wstring& host, unsigned port);
