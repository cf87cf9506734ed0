#include "backup/backup_info.h"

#include "backup/plist.h"
#include "platform/fs.h"

namespace backup {
namespace {

std::string TextOf(const PlistValue& top, const char* key) {
  const PlistValue* value = top.Find(key);
  return value != nullptr && value->Is<std::string>() ? value->As<std::string>() : std::string();
}

}  // namespace

std::optional<InfoPlistSummary> ReadInfoPlistSummary(const std::string& folder) {
  const auto path = platform::FindIgnoringCase(folder, "Info.plist");
  if (!path || !platform::IsRegularFile(*path)) return std::nullopt;
  try {
    const PlistValue top = ReadPlistFile(path->string());
    InfoPlistSummary summary;
    summary.deviceName = TextOf(top, "Device Name");
    summary.productVersion = TextOf(top, "Product Version");
    summary.productType = TextOf(top, "Product Type");
    if (const PlistValue* date = top.Find("Last Backup Date"); date != nullptr && date->Is<Plist::Date>()) {
      summary.lastBackupDate = date->As<Plist::Date>().UnixSeconds();
    }
    return summary;
  } catch (const Plist::Error&) {
    return std::nullopt;
  }
}

}  // namespace backup
