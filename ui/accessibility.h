#pragma once
// The window for screen readers: an MSAA IAccessible for the client area whose children are the controls of
// the frame on screen (buttons and checkboxes, with their names, states and default actions). oleacc is
// loaded from System32 at run time; where it cannot be loaded the window simply has no such object.
#include <windows.h>

#include <cstdint>

// The answer to WM_GETOBJECT for the client area, or 0 when there is no accessibility object.
LRESULT accessibleClientResult(HWND window, WPARAM wParam);
// The window is being destroyed: the object stops answering and its clients are disconnected.
void releaseAccessibleClient();
// Tells screen readers that the keyboard focus is on the control now (nothing when it is not on screen).
void notifyFocusMoved(HWND window, int32_t controlId);
// Tells screen readers that the control's state (its tick) may have changed.
void notifyStateChanged(HWND window, int32_t controlId);
