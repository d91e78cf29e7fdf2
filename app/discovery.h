#pragma once
// Finds an existing installation (uninstall entry, install record) and the graphics adapters before the
// window opens, and preselects the components.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/install_record.h"

void discoverInstallation();
// The folder proposed for a new installation.
std::wstring defaultInstallDir();
// PCI vendor ids of the hardware graphics adapters, in enumeration order (duplicates kept).
std::vector<uint32_t> listGpuVendorIds();
