#pragma once
// The summary of a backup that its Info.plist gives.

#include <cstdint>
#include <optional>
#include <string>

namespace backup {

struct InfoPlistSummary {
  std::string deviceName;      // "Device Name"
  std::optional<std::int64_t> lastBackupDate;  // "Last Backup Date", Unix seconds
  std::string productVersion;  // "Product Version", e.g. "14.3"
  std::string productType;     // "Product Type", e.g. "iPhone9,3"
};

// Reads "Info.plist" (name matched ignoring case) of a backup folder, XML or
// binary. Returns nothing when there is none or it cannot be read; a key that
// is missing or of another type leaves its field empty.
std::optional<InfoPlistSummary> ReadInfoPlistSummary(const std::string& folder);

}  // namespace backup
