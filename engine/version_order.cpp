#include "engine/version_order.h"

#include <vector>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A run of digits as a number of any length: without its leading zeros, the longer one is the larger.
int compareNumbers(std::string a, std::string b) {
    a.erase(0, a.find_first_not_of('0'));
    b.erase(0, b.find_first_not_of('0'));
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

struct VersionParts {
    std::vector<std::string> numbers;  // digit runs
    std::string rest;                  // the text after them; empty for a bare release
};

VersionParts splitVersion(const std::string& version) {
    VersionParts parts;
    size_t at = 0;
    while (at < version.size() && isDigit(version[at])) {
        size_t end = at;
        while (end < version.size() && isDigit(version[end])) ++end;
        parts.numbers.push_back(version.substr(at, end - at));
        at = end;
        // A dot belongs to the numbers only when another number follows it.
        if (at + 1 < version.size() && version[at] == '.' && isDigit(version[at + 1]))
            ++at;
        else
            break;
    }
    parts.rest = version.substr(at);
    return parts;
}

int compareNumberLists(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    const size_t count = a.size() > b.size() ? a.size() : b.size();
    for (size_t i = 0; i < count; ++i) {
        const int order = compareNumbers(i < a.size() ? a[i] : "0", i < b.size() ? b[i] : "0");
        if (order != 0) return order;
    }
    return 0;
}

// The next piece of text from at: a run of digits, or a run of anything else.
std::string nextPiece(const std::string& text, size_t& at) {
    const size_t start = at;
    const bool digits = isDigit(text[at]);
    while (at < text.size() && isDigit(text[at]) == digits) ++at;
    return text.substr(start, at - start);
}

int compareTexts(const std::string& a, const std::string& b) {
    size_t atA = 0, atB = 0;
    while (atA < a.size() && atB < b.size()) {
        const std::string pieceA = nextPiece(a, atA);
        const std::string pieceB = nextPiece(b, atB);
        const int order = isDigit(pieceA[0]) && isDigit(pieceB[0])
                              ? compareNumbers(pieceA, pieceB)
                              : (pieceA < pieceB ? -1 : (pieceA == pieceB ? 0 : 1));
        if (order != 0) return order;
    }
    if (atA < a.size()) return 1;
    return atB < b.size() ? -1 : 0;
}

}  // namespace

VersionOrder compareVersions(const std::string& version, const std::string& other) {
    const VersionParts a = splitVersion(version);
    const VersionParts b = splitVersion(other);
    int order = compareNumberLists(a.numbers, b.numbers);
    // Text after the numbers marks a pre-release: it comes before the bare numbers.
    if (order == 0 && a.rest.empty() != b.rest.empty()) order = a.rest.empty() ? 1 : -1;
    if (order == 0) order = compareTexts(a.rest, b.rest);
    return order < 0 ? VersionOrder::Older : (order == 0 ? VersionOrder::Same : VersionOrder::Newer);
}

bool isDowngrade(const std::string& installed, const std::string& offered) {
    return !installed.empty() && compareVersions(offered, installed) == VersionOrder::Older;
}
