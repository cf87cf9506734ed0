#pragma once
// Calendar times of the running system: Unix seconds as a broken-down date
// in the local time zone or in UTC, and a local date back as Unix seconds.
//
// Threads: any thread; the local forms read the process's time zone (TZ),
// which nothing here changes.

#include <cstdint>
#include <ctime>
#include <optional>

namespace platform {

// Unix seconds as a local date and time; nothing when the system cannot
// convert the value (a value beyond what its 64-bit conversion holds).
std::optional<std::tm> LocalTime(std::int64_t unixSeconds);

// Unix seconds as a UTC date and time; nothing when the system cannot
// convert the value.
std::optional<std::tm> UtcTime(std::int64_t unixSeconds);

// The Unix seconds of a local date and time (tm_isdst -1 lets the system
// tell whether daylight saving applies). Fields out of their range carry
// into the next field, as the C library does; callers check them first.
// Nothing when the system cannot convert the date.
std::optional<std::int64_t> UnixFromLocalTime(std::tm local);

}  // namespace platform
