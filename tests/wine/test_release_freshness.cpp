// Whether a signed release may replace an installation: its expiry and its version. Plain C++: the host
// tests build this same file, under sanitizers.
#include <gtest/gtest.h>

#include "engine/release_freshness.h"

namespace {

struct TimeCase {
    const char* text;
    bool valid;
    int64_t seconds;
};

const TimeCase kTimeCases[] = {
    {"1970-01-01T00:00:00Z", true, 0},
    {"2025-07-01T12:00:00Z", true, 1751371200},
    {"2024-02-29T23:59:59Z", true, 1709251199},
    {"2000-02-29T00:00:00Z", true, 951782400},
    {"2038-01-19T03:14:08Z", true, 2147483648},
    {"9999-12-31T23:59:59Z", true, 253402300799},
    {"2025-02-29T00:00:00Z", false, 0},  // not a leap year
    {"1900-02-29T00:00:00Z", false, 0},
    {"2025-04-31T00:00:00Z", false, 0},
    {"2025-13-01T00:00:00Z", false, 0},
    {"2025-00-01T00:00:00Z", false, 0},
    {"2025-01-00T00:00:00Z", false, 0},
    {"2025-01-01T24:00:00Z", false, 0},
    {"2025-01-01T00:60:00Z", false, 0},
    {"2025-01-01T00:00:60Z", false, 0},
    {"1969-12-31T23:59:59Z", false, 0},
    {"2025-07-01T12:00:00", false, 0},        // no zone
    {"2025-07-01T12:00:00+03:00", false, 0},  // an offset
    {"2025-07-01t12:00:00z", false, 0},
    {"2025-07-01 12:00:00Z", false, 0},
    {"2025-07-01T12:00:00.5Z", false, 0},
    {"2025-7-01T12:00:00Z", false, 0},
    {"+025-07-01T12:00:00Z", false, 0},
    {"2025-07-01T12:0a:00Z", false, 0},
    {"2025-07-01", false, 0},
    {"", false, 0},
};

TEST(UtcTime, ReadsExactlyOneFormAndWritesItBack) {
    for (const TimeCase& c : kTimeCases) {
        int64_t seconds = -1;
        EXPECT_EQ(parseUtcTime(c.text, seconds), c.valid) << c.text;
        if (!c.valid) continue;
        EXPECT_EQ(seconds, c.seconds) << c.text;
        EXPECT_EQ(utcTimeText(c.seconds), c.text);
    }
}

TEST(UtcTime, EverySecondOfADayAndEveryDayOfFourCenturiesRoundTrips) {
    // 2000-03-01 to 2400-02-29 covers every kind of year and month end once; the days step by 1.
    int64_t seconds = 0;
    ASSERT_TRUE(parseUtcTime("2000-03-01T00:00:00Z", seconds));
    for (int64_t day = 0; day < 146097; ++day) {
        const int64_t at = seconds + day * 86400 + (day * 7919) % 86400;
        int64_t back = -1;
        ASSERT_TRUE(parseUtcTime(utcTimeText(at), back)) << utcTimeText(at);
        ASSERT_EQ(back, at) << utcTimeText(at);
    }
}

TEST(UtcTime, TheClockIsUtc) {
    int64_t first = 0, year2100 = 0;
    ASSERT_TRUE(parseUtcTime("2024-01-01T00:00:00Z", first));
    ASSERT_TRUE(parseUtcTime("2100-01-01T00:00:00Z", year2100));
    const int64_t now = currentUtcSeconds();
    EXPECT_GT(now, first);
    EXPECT_LT(now, year2100);
}

Manifest manifestOf(const char* version, const char* expires) {
    Manifest manifest;
    manifest.version = version;
    manifest.expires = expires;
    if (*expires) {
        EXPECT_TRUE(parseUtcTime(expires, manifest.expiresAt)) << expires;
    }
    return manifest;
}

TEST(ReleaseStanding, RefusesAnExpiredManifestBeyondTheToleranceAndAnEarlierVersion) {
    int64_t noon = 0;
    ASSERT_TRUE(parseUtcTime("2025-07-01T12:00:00Z", noon));
    const int64_t tolerance = kExpiryToleranceSeconds;
    struct Case {
        const char* installed;
        const char* offered;
        const char* expires;
        int64_t now;
        ReleaseStanding expected;
    } const cases[] = {
        {"", "1.0", "", noon, ReleaseStanding::Acceptable},  // no expiry: never stale
        {"", "1.0", "2025-07-01T12:00:00Z", noon - 1, ReleaseStanding::Acceptable},
        {"", "1.0", "2025-07-01T12:00:00Z", noon + 1, ReleaseStanding::Acceptable},  // within the tolerance
        {"", "1.0", "2025-07-01T12:00:00Z", noon + tolerance, ReleaseStanding::Acceptable},
        {"", "1.0", "2025-07-01T12:00:00Z", noon + tolerance + 1, ReleaseStanding::Expired},
        {"1.0", "1.0", "2025-07-01T12:00:00Z", noon + 30 * tolerance, ReleaseStanding::Expired},
        {"1.10", "1.9", "", noon, ReleaseStanding::Downgrade},
        {"1.10", "1.9", "2025-07-01T12:00:00Z", noon, ReleaseStanding::Downgrade},
        {"1.10", "1.9", "2025-07-01T12:00:00Z", noon + 2 * tolerance, ReleaseStanding::Expired},
        {"1.9", "1.10", "2025-07-01T12:00:00Z", noon, ReleaseStanding::Acceptable},
        {"1.10", "1.10", "", noon, ReleaseStanding::Acceptable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(standingOf(manifestOf(c.offered, c.expires), c.installed, c.now), c.expected)
            << "installed '" << c.installed << "', offered " << c.offered << " expiring '" << c.expires
            << "' at " << c.now - noon << " s after it";
}

}  // namespace
