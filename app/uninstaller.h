#pragma once
// Worker body in Uninstall mode.
#include <string>

// True for a folder that must never be removed as a whole: a drive root, or a shell folder of the user or
// the system (profile, desktop, documents, program files, application data and the like), or a folder
// that holds one of them.
bool isProtectedFolder(const std::wstring& folder);

void uninstall();
