#include "cli/output.h"

#include <ctime>
#include <iostream>

namespace cli {

void PrintJson(std::ostream& out, const nlohmann::ordered_json& value) {
  out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::string FormatUtc(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (::gmtime_r(&t, &utc) == nullptr) return std::to_string(unixSeconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

int ReportNoBackup(const std::string& reason) {
  std::cerr << kNoBackupInfo << ": " << reason << '\n';
  return kExitUnreadable;
}

}  // namespace cli
