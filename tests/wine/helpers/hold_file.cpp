// hold_file.exe PATH MILLISECONDS — opens the file the way a virus scanner or an indexer does (reading, no
// delete or write sharing), prints "held" once it has it, keeps it for the given time and lets go. Exits 1
// when the file cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/handles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: hold_file.exe PATH MILLISECONDS\n");
        return 2;
    }
    UniqueHandle file(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        fwprintf(stderr, L"cannot open %ls: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
}
