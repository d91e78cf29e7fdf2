#pragma once
// Finds an existing installation (uninstall entry, install record) and the graphics adapters before the
// window opens, and preselects the components.
#include <string>

void discoverInstallation();
// The folder proposed for a new installation.
std::wstring defaultInstallDir();
