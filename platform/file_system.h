#pragma once
// File and folder operations of the workers, on wide paths. None of them throws; results are flags or
// empty values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"

// The path without its last element ("C:\a\b" -> "C:\a", "a/b" -> "a"); empty when there is no separator.
std::wstring parentFolder(const std::wstring& path);
// A file or folder of that name exists (an error while probing counts as absent).
bool entryExists(const std::wstring& path);
// Size of the file in bytes; false when it cannot be read.
bool fileSizeOf(const std::wstring& path, uint64_t& size);
// Creates the folder and any missing ancestors; true when the folder exists afterwards.
bool createFolderTree(const std::wstring& path);
// The whole file into bytes; false when it cannot be opened or read.
bool readWholeFile(const std::wstring& path, std::string& bytes);
// Creates or truncates the file and writes the bytes; with flushToDisk the data reaches the disk before the
// handle closes. False when the open or a write failed (a partial file may remain).
bool writeWholeFile(const std::wstring& path, const void* data, size_t size, bool flushToDisk);
// Writes the bytes to path + ".new", flushed to disk, then renames that over path, so that a crash leaves either
// the old file or the new one. False (and no ".new" left) when either step failed; GetLastError holds why.
bool replaceFileContent(const std::wstring& path, const void* data, size_t size);
// Opens an existing file for sequential reading; invalid when that fails.
UniqueHandle openForReading(const std::wstring& path);
// Opens a file for writing: truncated (created when missing), or kept as it is for appending or rewriting.
UniqueHandle openForWriting(const std::wstring& path, bool truncate);
// Size of an open file; false when it cannot be read.
bool sizeOfOpenFile(HANDLE file, uint64_t& size);
// Reads up to size bytes, fewer only at the end of the file; false on a read error.
bool readUpTo(HANDLE file, void* data, size_t size, size_t& got);
// Writes all size bytes at the current position; false when any of them could not be written.
bool writeAll(HANDLE file, const void* data, size_t size);
// Moves the position to offset and makes it the end of the file.
bool truncateAt(HANDLE file, uint64_t offset);
// Moves the position to the end of the file.
bool seekToEnd(HANDLE file);
// Deletes one file, or one folder if it is empty, read-only or not. True when nothing is left at the path;
// callers that only tidy up ignore the result. On failure GetLastError holds the removal's error.
bool deleteFileOrEmptyFolder(const std::wstring& path);
// Deletes a folder with everything below it, or a file, read-only or not. Links and junctions are removed
// themselves, never followed. Errors are ignored.
void deleteTree(const std::wstring& path);
// The names of the entries in folder ("." and ".." aside); empty when it cannot be listed.
std::vector<std::wstring> entryNamesIn(const std::wstring& folder);
// An empty folder or a file of length 0. False when that cannot be determined.
bool isEmptyEntry(const std::wstring& path);
// True when the file exists and cannot be opened for exclusive writing because another process holds it.
bool isFileInUse(const std::wstring& path);
// Absolute form of the path, without trailing separators (a drive root keeps its backslash); empty on error.
std::wstring fullPathOf(const std::wstring& path);
// True when inner lies strictly below outer; both are compared in absolute form, ignoring case.
bool isStrictlyInside(const std::wstring& inner, const std::wstring& outer);
bool samePathText(const std::wstring& a, const std::wstring& b);
