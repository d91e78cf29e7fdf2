#pragma once
// The setup log in the user's temporary folder.
#include <string>

// Path of "maketor-setup.log" in the temporary folder.
std::wstring setupLogPath();
// Appends one line (UTF-8, CR LF). Never fails towards the caller.
void logLine(const std::wstring& text);
