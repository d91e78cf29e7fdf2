#pragma once
// Letter case as Windows compares file names. Plain C++: also built into the host tools.
#include <string>

// The UTF-8 text with every letter of the scripts release paths use (Latin with its extensions, Greek,
// Cyrillic, Armenian, full-width Latin) in upper case, one letter for one letter, as the file system's
// uppercase table does; other characters, and bytes that are not UTF-8, stay as they are. Two names that
// are equal in this form are one file on Windows.
std::string fileNameUppercase(const std::string& utf8);
