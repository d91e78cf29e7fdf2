#include "engine/release_freshness.h"

#include <cstdio>
#include <ctime>

#include "engine/version_order.h"

namespace {

constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
// 9999-12-31T23:59:59Z, the last time of the written form.
constexpr int64_t kLastWritableSecond = 253402300799;

bool isLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int64_t year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (years from 1970 on here).
int64_t daysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = year / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

// The digits at text[at, at + count) as a number; false when any of them is not a digit.
bool readDigits(const std::string& text, size_t at, size_t count, int64_t& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool parseUtcTime(const std::string& text, int64_t& seconds) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    int64_t year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second))
        return false;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, int(month)) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    seconds = daysFromCivil(year, int(month), int(day)) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return true;
}

std::string utcTimeText(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    if (seconds > kLastWritableSecond) seconds = kLastWritableSecond;
    int64_t year;
    int month, day;
    civilFromDays(seconds / kSecondsPerDay, year, month, day);
    const int64_t inDay = seconds % kSecondsPerDay;
    char text[48];  // room for any int, so the compiler sees no truncation
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", int(year), month, day, int(inDay / 3600),
                  int(inDay / 60 % 60), int(inDay % 60));
    return text;
}

int64_t currentUtcSeconds() { return int64_t(std::time(nullptr)); }

bool isExpired(int64_t expiresAt, int64_t now) { return now > expiresAt + kExpiryToleranceSeconds; }

ReleaseStanding standingOf(const Manifest& manifest, const std::string& installedVersion, int64_t now) {
    if (!manifest.expires.empty() && isExpired(manifest.expiresAt, now)) return ReleaseStanding::Expired;
    if (isDowngrade(installedVersion, manifest.version)) return ReleaseStanding::Downgrade;
    return ReleaseStanding::Acceptable;
}
