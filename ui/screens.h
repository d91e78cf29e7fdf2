#pragma once
// The page a paint draws between setting up its back buffer and copying it out: logo, title, body, error
// text, button bar and brand line, derived anew from the shared state on every paint.
#include "ui/theme.h"

// width and height are the client size in device pixels.
void drawScreen(Surface surface, float width, float height, const Fonts& fonts);
