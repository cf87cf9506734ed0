#include "platform/local_time.h"

namespace platform {

std::optional<std::tm> LocalTime(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) return std::nullopt;
  return local;
}

std::optional<std::tm> UtcTime(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (::gmtime_r(&t, &utc) == nullptr) return std::nullopt;
  return utc;
}

std::optional<std::int64_t> UnixFromLocalTime(std::tm local) {
  const std::time_t seconds = std::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(seconds);
}

}  // namespace platform
