#include "platform/text.h"

#include <windows.h>

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring toUtf16(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (chars <= 0) return {};
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), chars);
    return out;
}

std::wstring pathJoin(const std::wstring& folder, const std::wstring& name) {
    // A release path's "/" becomes "\\", so that a path shown or logged has one kind of separator.
    const std::wstring windowsName = withBackslashes(name);
    if (folder.empty()) return windowsName;
    const wchar_t last = folder.back();
    if (last == L'\\' || last == L'/') return folder + windowsName;
    return folder + L'\\' + windowsName;
}

std::wstring withBackslashes(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}
