// Resolution of the delay-loaded system libraries (cmake/delay-load.cmake names them): the libraries that
// are not KnownDLLs, which Windows would otherwise look for in the program's own folder first. A setup
// program runs from a Downloads or temporary folder, where anyone may have left a DLL of the same name.
//
// The MinGW delay-load helper asks the hook below first for every function, and takes its answer as final:
// so each library is loaded from System32 alone, and a library or function that cannot be had gives the
// caller that library's own failure value instead of the helper's exception.
#include "platform/system_libraries.h"

#include <windows.h>
#include <delayimp.h>

namespace {

// Every function of these libraries returns its result in RAX: a handle or BOOL (zero on failure), an
// NTSTATUS or an HRESULT. On x64 the caller owns the argument registers and stack, so a function that takes
// no argument can stand in for any of them. Each path into a library starts with a call for which the
// stand-in's value is a failure (WinHttpOpen, BCryptOpenAlgorithmProvider, CryptStringToBinaryA,
// CreateDXGIFactory1), so no caller goes on as if a stand-in had succeeded.
INT_PTR WINAPI failWithZero() {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

LONG WINAPI failWithNtStatus() { return static_cast<LONG>(0xC0000135); /* STATUS_DLL_NOT_FOUND */ }

HRESULT WINAPI failWithHresult() { return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND); }

struct DelayLoadedLibrary {
    const char* name;
    void* unavailable;
};

const DelayLoadedLibrary kDelayLoadedLibraries[] = {
    {"winhttp.dll", reinterpret_cast<void*>(failWithZero)},
    {"crypt32.dll", reinterpret_cast<void*>(failWithZero)},
    {"bcrypt.dll", reinterpret_cast<void*>(failWithNtStatus)},
    {"dxgi.dll", reinterpret_cast<void*>(failWithHresult)},
};

FARPROC unavailableFunctionOf(const char* library) {
    void* function = reinterpret_cast<void*>(failWithZero);
    for (const DelayLoadedLibrary& known : kDelayLoadedLibraries)
        if (lstrcmpiA(known.name, library) == 0) function = known.unavailable;
    return reinterpret_cast<FARPROC>(function);
}

FARPROC exportOf(HMODULE library, const DelayLoadProc& function) {
    return function.fImportByName ? GetProcAddress(library, function.szProcName)
                                  : GetProcAddress(library, MAKEINTRESOURCEA(function.dwOrdinal));
}

// A non-null answer at the start makes the helper return it at once: it neither loads a library nor raises.
FARPROC WINAPI resolveFromSystem32(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliStartProcessing) return nullptr;
    // The library stays loaded for the life of the process: its functions are bound once and for all.
    const HMODULE library = LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const FARPROC function = library ? exportOf(library, info->dlp) : nullptr;
    if (!function) return unavailableFunctionOf(info->szDll);  // not bound: a later call tries again
    *info->ppfn = function;
    return function;
}

// Libraries that the platform's own components ask for by bare name at run time, after the entry point has
// restricted the search, through a loader that may not honour it: GDI+ loads the imaging codecs while the
// window starts, WinHTTP the security package interface at its first TLS connection. Loaded from System32
// first (their own imports with them), they are what those later loads get.
const char* const kLibrariesSystemComponentsAskFor[] = {"windowscodecs.dll", "secur32.dll"};

}  // namespace

void loadSystemLibraries() {
    // Kept for the life of the process, as the delay-load hook keeps them.
    for (const DelayLoadedLibrary& library : kDelayLoadedLibraries)
        LoadLibraryExA(library.name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    for (const char* library : kLibrariesSystemComponentsAskFor)
        LoadLibraryExA(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The helper's notification hook (declared in delayimp.h). Every link asks for this symbol first
// (cmake/delay-load.cmake), so that this definition, and not the runtime's empty one, is the one linked.
PfnDliHook __pfnDliNotifyHook2 = resolveFromSystem32;
