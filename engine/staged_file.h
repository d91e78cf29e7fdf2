#pragma once
// Where a file of a run waits, whole and flushed to disk, for the commit that renames it over its target.
#include <string>

// The staged file of a release path: its target's ".new" sibling or, when a file of the installation stands
// where the target needs a folder (a release that turns a file into a folder), a file below the download
// cache, which waits there until the commit has deleted that file. Empty for a path that does not lead
// strictly inside the installation folder.
std::wstring stagedPathOf(const std::wstring& installDir, const std::string& path);
