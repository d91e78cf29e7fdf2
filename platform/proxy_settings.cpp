#include "platform/proxy_settings.h"

#include <windows.h>
#include <winhttp.h>

#include "platform/handles.h"
#include "platform/proxy_rules.h"

namespace {

const wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::wstring textOf(GlobalText& text) { return text ? std::wstring(text.get()) : std::wstring(); }

bool readText(HKEY key, const wchar_t* name, std::wstring& value) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return false;
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    value = text;
    return true;
}

bool readNumber(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = 0, size = sizeof(value);
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

// The connection settings as WinHTTP reads them, overridden by the values the Windows settings write beside
// them (which some WinHTTP versions, Wine's among them, do not read): ProxyEnable with ProxyServer and
// ProxyOverride, and AutoConfigURL.
UserProxySettings userProxySettings() {
    UserProxySettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG connection = {};
    if (WinHttpGetIEProxyConfigForCurrentUser(&connection)) {
        GlobalText script(connection.lpszAutoConfigUrl), proxy(connection.lpszProxy),
            bypass(connection.lpszProxyBypass);
        settings.autoDetect = connection.fAutoDetect != FALSE;
        settings.autoConfigUrl = textOf(script);
        settings.proxyServer = textOf(proxy);
        settings.bypassList = textOf(bypass);
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return settings;
    UniqueRegKey key(opened);
    DWORD proxyEnable = 0;
    if (readNumber(key.get(), L"ProxyEnable", proxyEnable)) {
        std::wstring server, bypass;
        settings.proxyServer = proxyEnable && readText(key.get(), L"ProxyServer", server) ? server : L"";
        settings.bypassList = proxyEnable && readText(key.get(), L"ProxyOverride", bypass) ? bypass : L"";
    }
    std::wstring script;
    if (readText(key.get(), L"AutoConfigURL", script) && !script.empty()) settings.autoConfigUrl = script;
    return settings;
}

// Automatic detection asks the network adapters through libraries that some WinHTTP versions (Wine's)
// delay-import, and a loader resolves those by the search order the process started with, the program's own
// folder first: they are loaded from System32 before, and stay for the life of the process.
void loadAutoProxyLibraries() {
    for (const wchar_t* library : {L"iphlpapi.dll", L"dhcpcsvc.dll"})
        LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// What automatic detection or a configuration script says for url; false when it cannot say (no script
// found, none that runs), so that the next setting decides.
bool proxyFromScript(const std::wstring& url, DWORD flags, const std::wstring& scriptUrl, std::wstring& proxy) {
    loadAutoProxyLibraries();
    UniqueInternet session(WinHttpOpen(L"maketor-setup/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    options.dwFlags = flags;
    options.dwAutoDetectFlags = flags & WINHTTP_AUTOPROXY_AUTO_DETECT
                                    ? WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A
                                    : 0;
    options.lpszAutoConfigUrl = scriptUrl.empty() ? nullptr : scriptUrl.c_str();
    options.fAutoLogonIfChallenged = TRUE;  // a script on an intranet server may ask for the user's sign-in
    WINHTTP_PROXY_INFO info = {};
    if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) return false;
    GlobalText named(info.lpszProxy), bypass(info.lpszProxyBypass);
    proxy = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? textOf(named) : L"";
    return true;
}

// A fixed setting: its proxy for HTTPS, unless the bypass list sends the host direct.
ProxyRoute fixedRoute(const std::wstring& proxyServer, const std::wstring& bypassList, const std::wstring& host,
                      unsigned port, const wchar_t* source) {
    if (isBypassed(bypassList, host, port)) return {L"", source};
    return {proxyForHttps(proxyServer), source};
}

}  // namespace

ProxyRoute proxyRouteTo(const std::wstring& host, unsigned port) {
    const std::wstring url = L"https://" + host + L":" + std::to_wstring(port) + L"/maketor/app/";
    const UserProxySettings user = userProxySettings();
    std::wstring proxy;
    if (user.autoDetect && proxyFromScript(url, WINHTTP_AUTOPROXY_AUTO_DETECT, L"", proxy))
        return {proxy, L"автоопределение"};
    if (!user.autoConfigUrl.empty() && proxyFromScript(url, WINHTTP_AUTOPROXY_CONFIG_URL, user.autoConfigUrl, proxy))
        return {proxy, L"сценарий настройки"};
    if (!user.proxyServer.empty())
        return fixedRoute(user.proxyServer, user.bypassList, host, port, L"настройки пользователя");
    WINHTTP_PROXY_INFO machine = {};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        GlobalText named(machine.lpszProxy), bypass(machine.lpszProxyBypass);
        if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && named)
            return fixedRoute(textOf(named), textOf(bypass), host, port, L"настройки WinHTTP компьютера");
    }
    return {L"", L""};
}
