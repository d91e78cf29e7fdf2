#include "engine/file_name_case.h"

#include <algorithm>
#include <cstdint>

namespace {

// Windows upcases a file name one UTF-16 unit at a time through a fixed table, with no locale. That table
// maps a letter only to a capital whose own small letter it is: "ß" has no capital, "ı" and "ſ" stay apart
// from "I" and "S", the final "ς" from "σ", the title-case "ǅ" from "Ǆ". This is that table for the blocks
// U+0000-058F, U+1E00-1EFF, U+2C60-2C7F, U+A720-A7FF and U+FF00-FF5F, made from the simple uppercase
// mapping of the Unicode character database with that rule. Each run maps every stride-th code point from
// first to last by adding delta. The Wine tests compare it, code point by code point, with the platform's.
struct UppercaseRun {
    char32_t first;
    char32_t last;
    int32_t delta;
    uint32_t stride;
};

const UppercaseRun kUppercaseRuns[] = {
    {0x0061, 0x007A, -32, 1}, {0x00E0, 0x00F6, -32, 1}, {0x00F8, 0x00FE, -32, 1}, {0x00FF, 0x00FF, 121, 1},
    {0x0101, 0x012F, -1, 2}, {0x0133, 0x0137, -1, 2}, {0x013A, 0x0148, -1, 2}, {0x014B, 0x0177, -1, 2},
    {0x017A, 0x017E, -1, 2}, {0x0180, 0x0180, 195, 1}, {0x0183, 0x0185, -1, 2}, {0x0188, 0x0188, -1, 1},
    {0x018C, 0x018C, -1, 1}, {0x0192, 0x0192, -1, 1}, {0x0195, 0x0195, 97, 1}, {0x0199, 0x0199, -1, 1},
    {0x019A, 0x019A, 163, 1}, {0x019E, 0x019E, 130, 1}, {0x01A1, 0x01A5, -1, 2}, {0x01A8, 0x01A8, -1, 1},
    {0x01AD, 0x01AD, -1, 1}, {0x01B0, 0x01B0, -1, 1}, {0x01B4, 0x01B6, -1, 2}, {0x01B9, 0x01B9, -1, 1},
    {0x01BD, 0x01BD, -1, 1}, {0x01BF, 0x01BF, 56, 1}, {0x01C6, 0x01C6, -2, 1}, {0x01C9, 0x01C9, -2, 1},
    {0x01CC, 0x01CC, -2, 1}, {0x01CE, 0x01DC, -1, 2}, {0x01DD, 0x01DD, -79, 1}, {0x01DF, 0x01EF, -1, 2},
    {0x01F3, 0x01F3, -2, 1}, {0x01F5, 0x01F5, -1, 1}, {0x01F9, 0x021F, -1, 2}, {0x0223, 0x0233, -1, 2},
    {0x023C, 0x023C, -1, 1}, {0x023F, 0x0240, 10815, 1}, {0x0242, 0x0242, -1, 1}, {0x0247, 0x024F, -1, 2},
    {0x0250, 0x0250, 10783, 1}, {0x0251, 0x0251, 10780, 1}, {0x0252, 0x0252, 10782, 1}, {0x0253, 0x0253, -210, 1},
    {0x0254, 0x0254, -206, 1}, {0x0256, 0x0257, -205, 1}, {0x0259, 0x0259, -202, 1}, {0x025B, 0x025B, -203, 1},
    {0x025C, 0x025C, 42319, 1}, {0x0260, 0x0260, -205, 1}, {0x0261, 0x0261, 42315, 1}, {0x0263, 0x0263, -207, 1},
    {0x0265, 0x0265, 42280, 1}, {0x0266, 0x0266, 42308, 1}, {0x0268, 0x0268, -209, 1}, {0x0269, 0x0269, -211, 1},
    {0x026A, 0x026A, 42308, 1}, {0x026B, 0x026B, 10743, 1}, {0x026C, 0x026C, 42305, 1}, {0x026F, 0x026F, -211, 1},
    {0x0271, 0x0271, 10749, 1}, {0x0272, 0x0272, -213, 1}, {0x0275, 0x0275, -214, 1}, {0x027D, 0x027D, 10727, 1},
    {0x0280, 0x0280, -218, 1}, {0x0282, 0x0282, 42307, 1}, {0x0283, 0x0283, -218, 1}, {0x0287, 0x0287, 42282, 1},
    {0x0288, 0x0288, -218, 1}, {0x0289, 0x0289, -69, 1}, {0x028A, 0x028B, -217, 1}, {0x028C, 0x028C, -71, 1},
    {0x0292, 0x0292, -219, 1}, {0x029D, 0x029D, 42261, 1}, {0x029E, 0x029E, 42258, 1}, {0x0371, 0x0373, -1, 2},
    {0x0377, 0x0377, -1, 1}, {0x037B, 0x037D, 130, 1}, {0x03AC, 0x03AC, -38, 1}, {0x03AD, 0x03AF, -37, 1},
    {0x03B1, 0x03C1, -32, 1}, {0x03C3, 0x03CB, -32, 1}, {0x03CC, 0x03CC, -64, 1}, {0x03CD, 0x03CE, -63, 1},
    {0x03D7, 0x03D7, -8, 1}, {0x03D9, 0x03EF, -1, 2}, {0x03F2, 0x03F2, 7, 1}, {0x03F3, 0x03F3, -116, 1},
    {0x03F8, 0x03F8, -1, 1}, {0x03FB, 0x03FB, -1, 1}, {0x0430, 0x044F, -32, 1}, {0x0450, 0x045F, -80, 1},
    {0x0461, 0x0481, -1, 2}, {0x048B, 0x04BF, -1, 2}, {0x04C2, 0x04CE, -1, 2}, {0x04CF, 0x04CF, -15, 1},
    {0x04D1, 0x052F, -1, 2}, {0x0561, 0x0586, -48, 1}, {0x1E01, 0x1E95, -1, 2}, {0x1EA1, 0x1EFF, -1, 2},
    {0x2C61, 0x2C61, -1, 1}, {0x2C65, 0x2C65, -10795, 1}, {0x2C66, 0x2C66, -10792, 1}, {0x2C68, 0x2C6C, -1, 2},
    {0x2C73, 0x2C73, -1, 1}, {0x2C76, 0x2C76, -1, 1}, {0xA723, 0xA72F, -1, 2}, {0xA733, 0xA76F, -1, 2},
    {0xA77A, 0xA77C, -1, 2}, {0xA77F, 0xA787, -1, 2}, {0xA78C, 0xA78C, -1, 1}, {0xA791, 0xA793, -1, 2},
    {0xA794, 0xA794, 48, 1}, {0xA797, 0xA7A9, -1, 2}, {0xA7B5, 0xA7C3, -1, 2}, {0xA7C8, 0xA7CA, -1, 2},
    {0xA7D1, 0xA7D1, -1, 1}, {0xA7D7, 0xA7D9, -1, 2}, {0xA7F6, 0xA7F6, -1, 1}, {0xFF41, 0xFF5A, -32, 1},
};

char32_t uppercaseOf(char32_t c) {
    const UppercaseRun* run = std::upper_bound(std::begin(kUppercaseRuns), std::end(kUppercaseRuns), c,
                                               [](char32_t value, const UppercaseRun& r) { return value < r.first; });
    if (run == std::begin(kUppercaseRuns)) return c;
    --run;
    if (c > run->last || (c - run->first) % run->stride != 0) return c;
    return char32_t(int32_t(c) + run->delta);
}

// Length of the well-formed UTF-8 sequence at text[at], with its code point; 0 when the bytes there are not
// one (overlong forms, surrogates and values beyond U+10FFFF included).
size_t decodeUtf8(const std::string& text, size_t at, char32_t& c) {
    const uint8_t lead = uint8_t(text[at]);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (text.size() - at < length) return 0;
    c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const uint8_t next = uint8_t(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        c = (c << 6) | (next & 0x3F);
    }
    const char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string fileNameUppercase(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        char32_t c = 0;
        const size_t length = decodeUtf8(utf8, at, c);
        if (length == 0) {
            out += utf8[at++];
            continue;
        }
        appendUtf8(out, uppercaseOf(c));
        at += length;
    }
    return out;
}
