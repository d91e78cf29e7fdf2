#include "platform/proxy_rules.h"

#include <cwctype>
#include <vector>

namespace {

// Entries of a list separated by ';' or white space, each trimmed; empty ones left out.
std::vector<std::wstring> entriesOf(const std::wstring& list) {
    std::vector<std::wstring> entries;
    std::wstring entry;
    for (const wchar_t c : list + L";") {
        if (c == L';' || std::iswspace(c)) {
            if (!entry.empty()) entries.push_back(entry);
            entry.clear();
        } else {
            entry += c;
        }
    }
    return entries;
}

std::wstring lowered(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towlower(c));
    return text;
}

std::wstring withoutPrefix(const std::wstring& text, const std::wstring& prefix) {
    return lowered(text.substr(0, prefix.size())) == prefix ? text.substr(prefix.size()) : text;
}

// '*' matches any run of characters, itself included; anything else matches itself, letter case aside.
bool matchesPattern(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0, t = 0, star = std::wstring::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && std::towlower(pattern[p]) == std::towlower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

bool isLoopback(const std::wstring& host) {
    const std::wstring name = lowered(host);
    return name == L"localhost" || name.compare(0, 4, L"127.") == 0 || name == L"::1" || name == L"[::1]";
}

}  // namespace

std::wstring proxyForHttps(const std::wstring& proxyServer) {
    std::wstring forEveryScheme;
    for (const std::wstring& entry : entriesOf(proxyServer)) {
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) {
            if (forEveryScheme.empty()) forEveryScheme = withoutPrefix(entry, L"http://");
        } else if (lowered(entry.substr(0, equals)) == L"https") {
            return withoutPrefix(entry.substr(equals + 1), L"http://");
        }
    }
    return forEveryScheme;
}

bool isBypassed(const std::wstring& bypassList, const std::wstring& host, unsigned port) {
    const std::vector<std::wstring> entries = entriesOf(bypassList);
    bool loopbackThroughProxy = false;
    for (const std::wstring& entry : entries) loopbackThroughProxy |= lowered(entry) == L"<-loopback>";
    if (isLoopback(host) && !loopbackThroughProxy) return true;
    const std::wstring hostAndPort = host + L":" + std::to_wstring(port);
    for (const std::wstring& entry : entries) {
        if (lowered(entry) == L"<local>") {
            if (host.find(L'.') == std::wstring::npos && host.find(L':') == std::wstring::npos) return true;
            continue;
        }
        const std::wstring pattern = withoutPrefix(withoutPrefix(entry, L"https://"), L"http://");
        if (matchesPattern(pattern, host) || matchesPattern(pattern, hostAndPort)) return true;
    }
    return false;
}
