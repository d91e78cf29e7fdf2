#pragma once
// The setup log in the user's temporary folder, and the workers' single failure path.
#include <string>

// Path of "maketor-setup.log" in the temporary folder.
std::wstring setupLogPath();
// Appends one line (UTF-8, CR LF). Never fails towards the caller.
void logLine(const std::wstring& text);
// Stores the message for the window, logs it with "ОШИБКА: " and marks the run failed, in that order.
void reportFailure(const std::wstring& text);
