#include "db/item_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace db {
namespace {

// The last second of the year 3000 in UTC, the end of the range the
// platform's 64-bit local-time conversion accepts.
constexpr std::int64_t kLastLocalSecond = 32535215999;
constexpr std::int64_t kNanosecondThreshold = 4294967295;

bool LocalTime(std::int64_t seconds, std::tm& out) {
  if (seconds < 0 || seconds > kLastLocalSecond) return false;
  const std::time_t t = static_cast<std::time_t>(seconds);
  return ::localtime_r(&t, &out) != nullptr;
}

// No phone holds a Unix time before 2001, while Apple seconds reach the
// Unix range of 1993-2000 with the dates of 2024-2031: a value below 2001
// is Apple seconds.
bool IsUnixSeconds(std::int64_t value) {
  std::tm local{};
  return LocalTime(value, local) && local.tm_year + 1900 >= 2001;
}

}  // namespace

std::int64_t NormalizeAppleTime(std::int64_t value) {
  if (IsUnixSeconds(value)) return value;
  if (value > kNanosecondThreshold) value /= 1000000000;
  return value + kAppleEpochOffsetSeconds;
}

double NormalizeAppleTime(double value) {
  if (!std::isfinite(value)) return value;
  // Whole seconds decide the range test, as the integer form does.
  if (value >= 0 && value <= static_cast<double>(kLastLocalSecond) &&
      IsUnixSeconds(static_cast<std::int64_t>(value))) {
    return value;
  }
  if (value > static_cast<double>(kNanosecondThreshold)) value /= 1e9;
  return value + static_cast<double>(kAppleEpochOffsetSeconds);
}

std::string FormatItemTime(double time) {
  // Outside +-2^62 the value is no time at all, and converting it would
  // overflow.
  if (!std::isfinite(time) || std::fabs(time) > 4.6e18) return {};
  const std::int64_t seconds = NormalizeAppleTime(static_cast<std::int64_t>(time));
  std::tm local{};
  if (!LocalTime(seconds, local)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace db
