#pragma once
// The one process-wide state record shared by the window thread, the release check and the worker.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "engine/folder_lock.h"
#include "engine/transfer_retry.h"
#include "platform/lock_retry.h"

enum RunPhase : int32_t { Ready = 0, Running = 1, Done = 2, Failed = 3 };

constexpr int kComponentCount = 5;

// One clickable rectangle of the last paint, in device pixels.
struct HitRect {
    float x = 0, y = 0, width = 0, height = 0;
    int32_t id = -1;
};

struct AppState {
    // Guards the four strings below; held only to copy one string in or out.
    std::mutex stateLock;
    std::wstring statusText;
    std::wstring errorText;
    std::string offeredVersion;    // UTF-8
    std::string installedVersion;  // UTF-8

    // Set once from the command line, read-only afterwards.
    RunMode runMode = Install;
    uint32_t waitPid = 0;
    bool autoMode = false;

    uint32_t lockWaitMs = kLockWaitMs;  // how long a locked file may hold up a step; tests shorten it
    uint32_t folderWaitMs = kFolderWaitMs;  // how long a run waits for another on its folder; tests shorten it

    std::atomic<int32_t> phase{Ready};
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> bytesTotal{0};

    // Written by the window thread only while no run is active; read by the worker without a lock.
    bool desktopShortcut = true;
    bool launchAfterInstall = true;
    bool removeUserData = false;
    std::wstring installDir;
    std::array<bool, kComponentCount> selectedComponents{};

    // Published by the release check: componentSizes first, then sizesKnown.
    std::atomic<bool> sizesKnown{false};
    std::array<uint64_t, kComponentCount> componentSizes{};

    std::vector<uint32_t> gpuVendorIds;  // written at start-up only
    std::atomic<HWND> mainWindow{nullptr};

    // Window thread only.
    float uiScale = 1.0f;
    int32_t hoveredId = -1;
    int32_t pressedId = -1;
    int32_t focusedId = -1;  // control with the keyboard focus, −1 for none
    std::vector<HitRect> hitRects;
    bool autoClosePosted = false;
    int32_t lastPhase = Ready;
    bool errorRoomAdded = false;  // the window has grown to make room for an error text
    void* logoImage = nullptr;       // GpBitmap*, released at exit
    void* fontCollection = nullptr;  // GpFontCollection*, released at exit
};

extern AppState appState;

// Reads the process command line into appState.
void parseCommandLine();
// Same rules over a given command line (element 0 is the program and is skipped).
void parseCommandLineText(const wchar_t* commandLine);

void setStatus(const std::wstring& text);
// The workers' single failure path: stores the message for the window, logs it with "ОШИБКА: " and marks the
// run failed, in that order.
void reportFailure(const std::wstring& text);
// The runs' patience with a locked file: appState.lockWaitMs, the wait shown on the status line.
LockWait runLockWait();
// How the run's downloads are tried again: the status line says that a transfer waits to try again (the first
// to wait keeps the line it replaces, the last to go on puts it back), and the log names each retry.
RetryPlan runRetryPlan();
std::wstring getStatus();
// Copies of the other guarded strings, for the painter.
std::wstring getErrorText();
std::string getOfferedVersion();
std::string getInstalledVersion();
void setInstalledVersion(const std::string& version);

// Starts the worker unless a run is already going. Window thread only.
void startWorker();
// Starts the release check thread. Called once, in Install mode.
void startReleaseCheck();
