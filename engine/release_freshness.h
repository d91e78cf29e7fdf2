#pragma once
// Whether a signed release may replace an installation: never one that would take it back to an earlier
// version, and never one past the expiry its manifest names. A mirror that cannot forge a release can still
// serve an old one, or keep serving one while newer releases appear elsewhere; these two rules notice both.
// Plain C++: also built into the host tools.
#include <cstdint>
#include <string>

#include "engine/manifest.h"

// How far a clock may run ahead before a manifest that is still valid looks expired to it. A day: clocks
// that Windows keeps in time are off by seconds, but a machine set to the wrong time zone (local time right,
// zone wrong) is off by whole hours, up to a day in practice, and a daylight-saving change missed adds an
// hour; all of these pass. A clock ahead by more is a machine the user will want to set right anyway; the
// message says so. The vendor counts this day on top of the expiry: a frozen mirror goes unnoticed for at
// most the time left until expiry plus a day.
constexpr int64_t kExpiryToleranceSeconds = 24 * 60 * 60;

// A UTC time written exactly as "YYYY-MM-DDTHH:MM:SSZ" (RFC 3339 in whole seconds, years 1970 to 9999), as
// seconds since 1970-01-01T00:00:00Z. False for anything else: other forms, offsets, days a month has not.
bool parseUtcTime(const std::string& text, int64_t& seconds);
// The same form for seconds since 1970 (0 to the end of 9999).
std::string utcTimeText(int64_t seconds);
// Seconds since 1970-01-01T00:00:00Z by this machine's clock.
int64_t currentUtcSeconds();

// Past its expiry even for a clock running the tolerance ahead.
bool isExpired(int64_t expiresAt, int64_t now);

enum class ReleaseStanding {
    Acceptable,
    Expired,    // the manifest names an expiry that has passed
    Downgrade,  // it would take the installation back to an earlier version
};

// Whether manifest may replace an installation of installedVersion (empty: nothing installed) at the time now.
ReleaseStanding standingOf(const Manifest& manifest, const std::string& installedVersion, int64_t now);
