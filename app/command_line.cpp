#include "app/command_line.h"

uint32_t parsePid(const wchar_t* text) {
    while (*text == L' ' || *text == L'\t' || *text == L'\n' || *text == L'\r' || *text == L'\v' ||
           *text == L'\f')
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = (*text++ == L'-');
    uint64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - L'0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    return negative ? 0 : static_cast<uint32_t>(value);
}

void applySetupArguments(const std::vector<std::wstring>& arguments, SetupArguments& options) {
    const size_t count = arguments.size();
    for (size_t i = 0; i < count; ++i) {
        const std::wstring& arg = arguments[i];
        if (arg == L"/update") {
            options.runMode = Update;
        } else if (arg == L"/uninstall") {
            options.runMode = Uninstall;
        } else if (arg == L"/pid") {
            if (i + 1 < count) options.waitPid = parsePid(arguments[++i].c_str());
        } else if (arg == L"/dir") {
            if (i + 1 < count) {
                options.installDir = arguments[++i];
                options.hasInstallDir = true;
            }
        } else if (arg == L"/auto") {
            options.autoMode = true;
        }
    }
}
