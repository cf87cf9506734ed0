#include "db/item_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/local_time.h"

namespace db {
namespace {

// The last second of the year 3000 in UTC, the end of the range the
// platform's 64-bit local-time conversion accepts.
constexpr double kLastLocalSecond = 32535215999;
constexpr std::int64_t kNanosecondThreshold = 4294967295;

}  // namespace

double UnixFromAppleSeconds(double appleSeconds) {
  if (appleSeconds == 0) return 0;
  return appleSeconds + static_cast<double>(kAppleEpochOffsetSeconds);
}

double UnixFromAppleDate(std::int64_t stored) {
  double seconds = static_cast<double>(stored);
  if (stored > kNanosecondThreshold) seconds /= 1e9;
  return UnixFromAppleSeconds(seconds);
}

std::string FormatItemTime(double unixSeconds) {
  const double shown = unixSeconds == 0 ? static_cast<double>(kAppleEpochOffsetSeconds) : unixSeconds;
  if (!std::isfinite(shown) || shown < 0 || shown >= kLastLocalSecond + 1) return {};
  const std::optional<std::tm> converted = platform::LocalTime(static_cast<std::int64_t>(shown));
  if (!converted) return {};
  const std::tm& local = *converted;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace db
