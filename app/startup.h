#pragma once
// Process start-up: clean-up of old temporary copies, relaunch from a temporary copy, the window and loop.
#include <windows.h>

#include <string>

#include "app/app_state.h"

// Removes "maketor-setup-*.exe" copies that earlier runs left in tempDir, except the running one.
void cleanUpOldCopies(const std::wstring& tempDir, const std::wstring& exePath);

// The argument string a temporary copy is started with (mode, pid, auto and the quoted folder).
std::wstring relaunchArguments();

// When the running executable lies in installDir: copies it to tempDir as "maketor-setup-<pid>.exe",
// starts the copy with the same options and returns true. Otherwise returns false.
bool relaunchFromTemp(const std::wstring& tempDir, const std::wstring& exePath);

// True when both paths name the same existing file-system object (volume and file id).
bool sameFileObject(const std::wstring& a, const std::wstring& b);

// Logical client height for the mode (600 wide), and the client size in device pixels for a scale.
int logicalClientHeight(RunMode mode, bool hasInstalledVersion);
SIZE clientSizeFor(RunMode mode, bool hasInstalledVersion, float scale);

// The effective DPI scale of the primary monitor (1.0 when the platform cannot say).
float primaryMonitorScale();

// Registers the window class and creates the main window (stored in appState.mainWindow).
HWND createMainWindow(HINSTANCE instance);

// The whole process: start-up, message loop and exit. Always returns 0.
int runSetup(HINSTANCE instance);
