#pragma once
// The paint frame: the whole client area drawn into an off-screen bitmap and copied to the window at once.
#include <windows.h>

void paintWindow(HDC windowDc, const RECT& client);
