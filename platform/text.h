#pragma once
// UTF-16 <-> UTF-8 conversion and path joining.
#include <string>

std::string toUtf8(const std::wstring& text);
std::wstring toUtf16(const std::string& text);

// Joins a folder and a relative name with one backslash, added only when the folder does not already
// end in a separator. Forward slashes of the name (a release path) become backslashes.
std::wstring pathJoin(const std::wstring& folder, const std::wstring& name);
// The path with every "/" turned into "\\", as paths are shown to the user and written to the log.
std::wstring withBackslashes(std::wstring path);
