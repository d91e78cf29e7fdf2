#pragma once
// The system libraries that are not KnownDLLs, taken from System32 alone: never from the program's own
// folder (a Downloads or temporary folder, where anyone may have left a DLL named like a system one).

// Loads each delay-loaded library, and each that system components ask for by bare name (windowscodecs), from
// System32 once the entry point has restricted the DLL search. A library already in the process is what
// every later load of its name gets, however a system library asks for it. One that cannot be loaded is no
// error here: the calls into it fail on their own path.
void loadSystemLibraries();
