#pragma once
// The current user's uninstall entry, the shell shortcuts and the known folders they live in.
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "engine/manifest.h"

// Below HKEY_CURRENT_USER.
extern const wchar_t* const uninstallKeyPath;

// Creates or updates the eleven values of the entry for the installation in appState.installDir.
// Failures are silent.
void writeUninstallEntry(const Manifest& manifest, uint64_t installedSizeBytes);
// Writes a shell link to target (working folder: the target's folder; icon: the target). Needs COM on the
// calling thread. Failures are silent; an empty link path writes nothing.
void createShortcut(const std::wstring& linkPath, const std::wstring& targetPath);
// The known folder's path, or empty when the shell cannot provide it.
std::wstring knownFolderPath(REFKNOWNFOLDERID folderId);
// The shortcut file of that name in a known folder, or empty when the folder cannot be resolved (nothing is
// then written or removed there, rather than in the current folder).
std::wstring linkPathIn(REFKNOWNFOLDERID folderId, const wchar_t* linkName);
