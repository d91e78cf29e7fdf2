#pragma once
// Worker body in Uninstall mode.
void uninstall();
