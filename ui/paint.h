#pragma once
// The paint frame: the client area drawn into an off-screen bitmap and copied to the window at once. What
// changes only with the page (the static layer) is drawn once and kept; the rest is drawn over a copy of it
// on every paint.
#include <windows.h>

#include "ui/theme.h"

void paintWindow(HDC windowDc, const RECT& client);
// True when a frame of the current state would look different from the one last painted.
bool frameChanged(const RECT& client);
// What the last paint drew: its controls and, while recording is on, every drawn element.
const FrameRecord& lastFrame();
// From the next paint on, records every drawn element with its measured text (for the layout checks).
void setFrameRecording(bool on);
// Drops the kept bitmaps and fonts: at exit, before GDI+ ends, and whenever the drawing resources change.
void releasePaintCache();
