#include "ui/resources.h"

// The fonts and the logo come with the window's drawing; until then there is nothing to load.
void loadUiResources(HINSTANCE) {}
void releaseUiResources() {}
