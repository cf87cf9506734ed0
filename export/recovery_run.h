#pragma once
// The recovery run: writes the records a user ticked, of the category just
// analysed, below the chosen folder, through the export writer.
//
// Threads: the recovery worker; the progress is thread-safe.

#include <filesystem>
#include <string>
#include <vector>

#include "db/items.h"
#include "export/export_writer.h"

namespace readers {
class CategoryReaders;
}

namespace exporting {

// The name of the exported source: the device name of the backup's
// Info.plist when it has one, else "指定目录_" and the backup folder's last
// component.
std::string RecoveryLabel(const std::string& backupFolder);

// Writes selection (records of holder's category, in order; for the chat
// categories records of the account holder.account names) below
// target/<label>/<today>/<category name> and returns that folder, or an
// empty path when the folder or the category's table or page could not be
// written (the export is incomplete). The progress ends at 100.
//
// The media categories (photos and videos, attachments) export day groups:
// selection holds those of topGroup (the album or file group the user
// browsed; TickedDayGroups gives them), and the ticked records of the
// sub-list topGroup shows are copied. Without topGroup they copy nothing.
std::filesystem::path RunRecovery(const readers::CategoryReaders& holder, const std::vector<db::BaseItem*>& selection,
                                  const std::filesystem::path& target, const std::string& label,
                                  IExportProgress* progress, const db::FriendItem* topGroup = nullptr);

// The day groups of topGroup that hold at least one ticked record in the
// sub-list topGroup shows, in order: the selection of a media category.
std::vector<db::BaseItem*> TickedDayGroups(const db::FriendItem& topGroup);

}  // namespace exporting
