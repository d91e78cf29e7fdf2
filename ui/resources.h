#pragma once
// The embedded fonts and logo, loaded once at start-up and released at exit.
#include <windows.h>

void loadUiResources(HINSTANCE instance);
// Deletes the logo and then the font collection.
void releaseUiResources();
