#pragma once
// The page a paint draws between setting up its back buffer and copying it out: logo, title, body, error
// text, button bar and brand line, derived from one copy of the shared state.
#include "ui/theme.h"

// Draws the canvas's layer of the frame, whose client size is frame.width × frame.height device pixels.
void drawScreen(const Canvas& canvas, const Fonts& fonts);
