// The order of release versions. Plain C++: the host tests build this same file, under sanitizers.
#include <gtest/gtest.h>

#include "engine/version_order.h"

namespace {

struct OrderCase {
    const char* version;
    const char* other;
    VersionOrder expected;
};

const OrderCase kOrderCases[] = {
    // Numbers compare as numbers, part by part.
    {"1.9", "1.10", VersionOrder::Older},
    {"1.10", "1.9", VersionOrder::Newer},
    {"2.0", "1.99.99", VersionOrder::Newer},
    {"1.0.18", "1.0.9", VersionOrder::Newer},
    {"10", "9", VersionOrder::Newer},
    {"1.10", "1.10", VersionOrder::Same},
    // A missing part is 0; leading zeros do not count; numbers of any length.
    {"2.1", "2.1.0", VersionOrder::Same},
    {"2.1.0.0", "2.1", VersionOrder::Same},
    {"2.1", "2.1.0.1", VersionOrder::Older},
    {"02.01", "2.1", VersionOrder::Same},
    {"1.00000000000000000000000000000001", "1.1", VersionOrder::Same},
    {"1.99999999999999999999999999999999", "1.100000000000000000000000000000000", VersionOrder::Older},
    // Text after the numbers: a pre-release of them, after every lower number.
    {"3.1.0-бета", "3.1.0", VersionOrder::Older},
    {"3.1.0-бета", "3.1", VersionOrder::Older},
    {"3.1.0-бета", "3.0.9", VersionOrder::Newer},
    {"3.1.0-бета", "3.1.0-бета", VersionOrder::Same},
    {"2.0rc1", "2.0", VersionOrder::Older},
    {"1.2.x", "1.2", VersionOrder::Older},
    {"1.2.", "1.2", VersionOrder::Older},
    {"1.2 ", "1.2", VersionOrder::Older},
    // Two texts after the same numbers: digit runs as numbers, the rest byte by byte, shorter first.
    {"1.0-beta2", "1.0-beta10", VersionOrder::Older},
    {"1.0-beta02", "1.0-beta2", VersionOrder::Same},
    {"1.0-alpha", "1.0-beta", VersionOrder::Older},
    {"1.0-beta", "1.0-beta1", VersionOrder::Older},
    {"1.0-rc1", "1.0-beta9", VersionOrder::Newer},
    {"1.0-beta", "1.0-бета", VersionOrder::Older},
    // No number first: a pre-release of 0.
    {"beta", "0.0.1", VersionOrder::Older},
    {"beta", "0", VersionOrder::Older},
    {"beta", "alpha", VersionOrder::Newer},
    {"v2.0", "1.0", VersionOrder::Older},
    {"", "0", VersionOrder::Same},  // no numbers and no text: 0 itself
    {"", "beta", VersionOrder::Newer},
};

TEST(VersionOrder, ComparesNumbersAsNumbersAndTextAsAPreRelease) {
    for (const OrderCase& c : kOrderCases) {
        EXPECT_EQ(compareVersions(c.version, c.other), c.expected) << c.version << " against " << c.other;
        const VersionOrder mirrored = c.expected == VersionOrder::Older   ? VersionOrder::Newer
                                      : c.expected == VersionOrder::Newer ? VersionOrder::Older
                                                                          : VersionOrder::Same;
        EXPECT_EQ(compareVersions(c.other, c.version), mirrored) << c.other << " against " << c.version;
    }
}

TEST(VersionOrder, EveryListSortsTheSameWay) {
    // Each before the next; any two in this order compare so.
    const char* const ascending[] = {"alpha",      "beta",    "0",   "0.9",   "1.0-beta", "1.0-beta2",
                                     "1.0-beta10", "1.0-rc1", "1.0", "1.0.1", "1.9",      "1.10-бета",
                                     "1.10",       "1.10.1",  "2.0rc1", "2.0", "10"};
    const size_t count = sizeof ascending / sizeof ascending[0];
    for (size_t i = 0; i < count; ++i)
        for (size_t j = 0; j < count; ++j) {
            const VersionOrder expected =
                i < j ? VersionOrder::Older : (i == j ? VersionOrder::Same : VersionOrder::Newer);
            EXPECT_EQ(compareVersions(ascending[i], ascending[j]), expected) << ascending[i] << " / " << ascending[j];
        }
}

TEST(VersionOrder, ADowngradeNeedsAnInstalledVersionAboveTheOffered) {
    struct Case {
        const char* installed;
        const char* offered;
        bool downgrade;
    } const cases[] = {
        {"1.10", "1.9", true},
        {"1.9", "1.10", false},
        {"1.10", "1.10", false},  // the same version repairs
        {"1.10", "1.10.0", false},
        {"", "0.1", false},  // nothing installed: a first install takes what is offered
        {"", "beta", false},
        {"3.1.0", "3.1.0-бета", true},
        {"3.1.0-бета", "3.1.0", false},
        {"2.0", "beta", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isDowngrade(c.installed, c.offered), c.downgrade) << c.installed << " -> " << c.offered;
}

}  // namespace
