#pragma once
// One row of the component list on the Choose screen: tick box, title with the graphics-card note,
// subtitle and size.
#include "ui/theme.h"

// Row `index` with its top-left corner at (x, y), device pixels: its texts in the static layer; its tick box,
// hit rectangle (rows 1 to 4) and control in the dynamic one.
void drawComponentRow(const Canvas& canvas, float x, float y, float width, int index, Gdiplus::GpFont* titleFont,
                      Gdiplus::GpFont* detailFont);
