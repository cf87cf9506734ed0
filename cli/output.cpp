#include "cli/output.h"

#include <ctime>
#include <iostream>
#include <optional>

#include "platform/local_time.h"

namespace cli {

void PrintJson(std::ostream& out, const nlohmann::ordered_json& value) {
  out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::string FormatUtc(std::int64_t unixSeconds) {
  const std::optional<std::tm> utc = platform::UtcTime(unixSeconds);
  if (!utc) return std::to_string(unixSeconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*utc);
  return text;
}

void ShowBackupPaths(nlohmann::ordered_json& value, const backup::CFileListDB& index) {
  if (!index.Encrypted()) return;
  if (value.is_string()) {
    value = index.BackupPathOf(value.get<std::string>());
  } else if (value.is_structured()) {
    for (auto& item : value) ShowBackupPaths(item, index);
  }
}

int ReportNoBackup(const std::string& reason) {
  std::cerr << kNoBackupInfo << ": " << reason << '\n';
  return kExitUnreadable;
}

}  // namespace cli
