#pragma once
// Deleting a file that the install record lists, and the folders this leaves empty.
#include <string>

#include "platform/lock_retry.h"

// A record key that names a place inside the installation folder: not empty, no "..", no ":", not beginning
// with a separator. Any other key is never joined to the folder.
bool isSafeRecordKey(const std::string& key);
// The installation folder joined with the key, or empty when the key is unsafe or would not lead strictly
// inside the folder.
std::wstring recordedFilePath(const std::wstring& installDir, const std::string& key);
// Deletes the file (or empty folder) the key names, then climbs towards installDir removing each folder
// this left empty; installDir itself is never removed. A file that is locked for a moment is waited for as
// wait says. Returns false when the key was skipped as unsafe.
bool deleteRecordedFile(const std::wstring& installDir, const std::string& key, const LockWait& wait = {});
