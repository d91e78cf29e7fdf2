#pragma once
// The window's 60 ms timer tick and its close policy.
#include <windows.h>

void onTimerTick(HWND window);
// WM_CLOSE: during a run only asks the run to cancel; otherwise destroys the window.
void onCloseRequest(HWND window);
