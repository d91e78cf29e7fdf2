#include "platform/setup_log.h"

#include <windows.h>

#include "platform/handles.h"
#include "platform/text.h"

std::wstring setupLogPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return {};
    return pathJoin(folder, L"maketor-setup.log");
}

void logLine(const std::wstring& text) {
    const std::wstring path = setupLogPath();
    if (path.empty()) return;  // no temporary folder: the line is dropped
    UniqueFile file(_wfopen(path.c_str(), L"a"));  // text mode: "\n" reaches the disk as CR LF
    if (!file) return;
    const std::string bytes = toUtf8(text);
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file.get());
    fputc('\n', file.get());
}
