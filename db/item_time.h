#pragma once
// Record times (Unix seconds, 0 for none; the unit is settled in
// db/items.h): the conversions readers apply to the times the phone stores,
// mostly seconds (in Messages from iOS 11 on nanoseconds) since 2001-01-01
// 00:00 UTC, and the one text form output gives them.

#include <cstdint>
#include <string>

namespace db {

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
inline constexpr std::int64_t kAppleEpochOffsetSeconds = 978307200;

// A time stored as seconds since 2001 (Core Data dates, call and calendar
// dates), as Unix seconds with its fraction. A stored 0 is the phone's empty
// date and gives 0, no time. Not finite stays as it is.
double UnixFromAppleSeconds(double appleSeconds);

// A Messages date: seconds since 2001 or, when larger than 4294967295 (from
// iOS 11 on), nanoseconds since 2001; as Unix seconds, the fraction of a
// nanosecond date kept. A stored 0 gives 0, no time.
double UnixFromAppleDate(std::int64_t stored);

// Unix seconds as "%04d-%02d-%02d %02d:%02d:%02d " in local time, with one
// trailing blank, the fraction cut off. No time (0) shows as the phone's
// epoch, 2001-01-01 00:00 UTC, the date the tables have always shown for an
// empty date. Empty when the time cannot be converted (not finite, before
// 1970 or after the year 3000). Reads the local time zone.
std::string FormatItemTime(double unixSeconds);

}  // namespace db
