#pragma once
// What a click (or Enter, or the timer after an install) does, by control id.
void performAction(int id);
// Starts the installed application from the installation folder.
void launchApplication();
