#pragma once
// The current user's uninstall entry, the shell shortcuts and the known folders they live in.
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "engine/manifest.h"

// Below HKEY_CURRENT_USER.
extern const wchar_t* const uninstallKeyPath;
// The shortcut's file name, and the names earlier releases used (removed wherever found, never created).
extern const wchar_t* const shortcutName;
extern const wchar_t* const legacyShortcutNames[2];

// Creates or updates the eleven values of the entry for the installation in installDir. Failures are silent.
void writeUninstallEntry(const std::wstring& installDir, const Manifest& manifest, uint64_t installedSizeBytes);
// True when the uninstall of installDir may delete the entry: there is none, its "InstallLocation" is missing
// or empty, or it names installDir (compared as Windows compares paths: letter case and a trailing
// backslash aside). An entry that names another folder, or whose value cannot be read, belongs to another
// installation.
bool uninstallEntryBelongsTo(const std::wstring& installDir);

// Writes a shell link to target (working folder: the target's folder; icon: the target). Needs COM on the
// calling thread. Failures are silent; an empty link path writes nothing.
void createShortcut(const std::wstring& linkPath, const std::wstring& targetPath);
// The target path a shell link file holds, or empty when the file is not a readable link or its target is
// not a file-system path. Needs COM on the calling thread.
std::wstring shortcutTarget(const std::wstring& linkPath);
// The known folder's path, or empty when the shell cannot provide it.
std::wstring knownFolderPath(REFKNOWNFOLDERID folderId);
// The shortcut file of that name in a known folder, or empty when the folder cannot be resolved (nothing is
// then written or removed there, rather than in the current folder).
std::wstring linkPathIn(REFKNOWNFOLDERID folderId, const wchar_t* linkName);
