#pragma once
// The installed application as the workers see it: its file name and whether it is running.
#include <string>

extern const wchar_t* const applicationFileName;
extern const wchar_t* const applicationInUseText;

// "maketor.exe" in installDir.
std::wstring applicationPathIn(const std::wstring& installDir);
// True when the application's file exists and a running process holds it, so it cannot be replaced or
// removed. Any other error of the probe counts as not in use.
bool applicationInUse(const std::wstring& installDir);
