// libFuzzer target over the command-line parsers: the setup program's own options (whoever starts it picks
// them) and the publisher's "--name value" options with --jobs. The input is the argument list, NUL
// separated; the setup program sees each byte as one UTF-16 unit, as a Latin-1 command line would reach it.
#include "app/command_line.h"
#include "tools/publisher/arguments.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// The C library's reading of the same text: a number outside 0..2^32-1 names no process.
uint32_t referencePid(const wchar_t* text) {
    errno = 0;
    const long long value = std::wcstoll(text, nullptr, 10);
    if (errno == ERANGE || value < 0 || value > 0xFFFFFFFFll) return 0;
    return uint32_t(value);
}

const std::set<std::string> kKnownOptions = {"key", "out", "jobs", "block-size"};
const std::set<std::string> kKnownFlags = {"allow-downgrade"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments;
    std::vector<std::wstring> wideArguments;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0) continue;
        arguments.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
        wideArguments.emplace_back(data + start, data + i);
        start = i + 1;
    }

    SetupArguments options;
    applySetupArguments(wideArguments, options);
    check(options.runMode == Install || options.runMode == Update || options.runMode == Uninstall);
    check(options.hasInstallDir || options.installDir.empty());
    // Each argument as a process id, from a block of exactly its length and the terminator.
    for (const std::wstring& argument : wideArguments) {
        const std::unique_ptr<wchar_t[]> text(new wchar_t[argument.size() + 1]);
        std::wmemcpy(text.get(), argument.c_str(), argument.size() + 1);
        check(parsePid(text.get()) == referencePid(text.get()));
    }

    ParsedArguments parsed;
    std::string problem;
    if (!parseArguments(arguments, kKnownOptions, parsed, problem, {}, kKnownFlags)) {
        check(!problem.empty());
        return 0;
    }
    check(parsed.options.size() * 2 + parsed.flags.size() + parsed.operands.size() == arguments.size());
    size_t jobs = 0;
    if (parseJobs(parsed, jobs)) check(jobs >= 1 && (jobs <= 256 || parsed.options.count("jobs") == 0));
    return 0;
}
