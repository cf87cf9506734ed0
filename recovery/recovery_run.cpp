#include "recovery/recovery_run.h"

#include <algorithm>

#include "backup/backup_info.h"

namespace recovery {

std::string RecoveryLabel(const std::string& backupFolder) {
  if (const auto info = backup::ReadInfoPlistSummary(backupFolder); info && !info->deviceName.empty()) {
    return info->deviceName;
  }
  std::filesystem::path folder(backupFolder);
  if (folder.filename().empty()) folder = folder.parent_path();
  return "指定目录_" + folder.filename().string();
}

base::Status RunRecovery(const readers::ICategoryReader& reader, const std::vector<db::BaseItem*>& selection,
                         const std::filesystem::path& target, const std::string& label,
                         exporting::IExportProgress* progress, std::filesystem::path& folder,
                         const db::FriendItem* topGroup) {
  // Stopped before it began: no folder is made.
  if (exporting::Cancelled(progress)) return base::Status::Cancelled(target.string(), "export cancelled");
  exporting::CExportWriter writer(progress, reader.Category().number);
  writer.BeginCategory(target, label);
  folder = writer.Folder();
  base::Status written = writer.Failure();
  if (written.Ok()) written = reader.Export(writer, selection, topGroup, progress);
  // The media categories stop their copies without a status of their own.
  if (exporting::Cancelled(progress)) written = base::Status::Cancelled(folder.string(), "export cancelled");
  if (progress != nullptr) progress->SetProgress(100);
  return written;
}

std::vector<db::BaseItem*> TickedDayGroups(const db::FriendItem& topGroup) {
  std::vector<db::BaseItem*> groups;
  const auto shown = static_cast<std::size_t>(topGroup.subListIndex);
  if (shown >= db::kSubListCount) return groups;
  for (db::BaseItem* item : topGroup.items) {
    const auto* day = dynamic_cast<const db::FriendItem*>(item);
    if (day == nullptr) continue;
    const auto& records = day->subLists[shown];
    if (std::any_of(records.begin(), records.end(), [](const db::BaseItem* r) { return r->checked != 0; })) {
      groups.push_back(item);
    }
  }
  return groups;
}

}  // namespace recovery
