#pragma once
// The setup program's own options, from the arguments it was started with: "/update", "/uninstall",
// "/pid N", "/dir FOLDER" and "/auto". Whoever starts the program chooses them, so any argument list is read
// without failing; unknown arguments are skipped. No Windows header: the host fuzzers build it too.
#include <cstdint>
#include <string>
#include <vector>

enum RunMode : int32_t { Install = 0, Update = 1, Uninstall = 2 };

struct SetupArguments {
    RunMode runMode = Install;
    uint32_t waitPid = 0;
    bool autoMode = false;       // "/auto" was given
    bool hasInstallDir = false;  // "/dir" was given with a value
    std::wstring installDir;
};

// Signed decimal like strtol: leading white space, optional sign, digits up to the first other character.
// A value that is negative or beyond 32 bits names no process we could wait for, so it reads as 0.
uint32_t parsePid(const wchar_t* text);
// Applies the arguments (the program's name already left out) in order onto options; a later one wins.
void applySetupArguments(const std::vector<std::wstring>& arguments, SetupArguments& options);
