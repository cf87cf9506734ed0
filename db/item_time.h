#pragma once
// Record times. A record's time is Unix seconds; the phone stores most times
// as seconds (or, from iOS 11 on, nanoseconds) since 2001-01-01 00:00 UTC.

#include <cstdint>
#include <string>

namespace db {

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
inline constexpr std::int64_t kAppleEpochOffsetSeconds = 978307200;

// A stored time as Unix seconds. A value that is a valid local time from the
// year 2001 up to the end of the year 3000 is taken as Unix seconds already
// and returned unchanged; any other counts from 2001, in nanoseconds when it
// is larger than 4294967295. The integer form divides nanoseconds with
// integer division, the floating form with floating division. Reads the local
// time zone.
std::int64_t NormalizeAppleTime(std::int64_t value);
double NormalizeAppleTime(double value);

// "%04d-%02d-%02d %02d:%02d:%02d " in local time, with one trailing blank,
// after NormalizeAppleTime; empty when the time cannot be converted.
std::string FormatItemTime(double time);

}  // namespace db
