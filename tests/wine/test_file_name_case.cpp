// The portable file-name case table against the platform's own: each code point of the blocks it covers
// must come out in the case the platform's file-name comparison uses.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "engine/file_name_case.h"
#include "platform/text.h"

namespace {

using UpcaseChar = WCHAR(WINAPI*)(WCHAR);

const struct {
    wchar_t first;
    wchar_t last;
} kCoveredBlocks[] = {{0x0000, 0x058F}, {0x1E00, 0x1EFF}, {0x2C60, 0x2C7F}, {0xA720, 0xA7FF}, {0xFF00, 0xFF5F}};

TEST(FileNameCase, MatchesThePlatformsUppercaseTable) {
    // The table the file system itself upcases names with.
    const auto upcase = reinterpret_cast<UpcaseChar>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
    ASSERT_NE(upcase, nullptr);
    int differences = 0;
    for (const auto& block : kCoveredBlocks) {
        for (unsigned code = block.first; code <= block.last; ++code) {
            const std::wstring letter(1, wchar_t(code));
            const std::wstring ours = toUtf16(fileNameUppercase(toUtf8(letter)));
            const std::wstring platform(1, upcase(letter[0]));
            if (ours == platform) continue;
            if (++differences <= 20) ADD_FAILURE() << std::hex << "U+" << code << ": ours U+" << unsigned(ours[0])
                                                    << ", the platform's U+" << unsigned(platform[0]);
        }
    }
    EXPECT_EQ(differences, 0);
}

}  // namespace
