#pragma once
// The recovery run: writes the records a user ticked, of the category just
// analysed, below the chosen folder, through the export writer.
//
// Threads: the recovery worker; the progress is thread-safe.

#include <filesystem>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/items.h"
#include "export/export_writer.h"
#include "readers/category_reader.h"

namespace recovery {

// The name of the exported source: the device name of the backup's
// Info.plist when it has one, else "指定目录_" and the backup folder's last
// component.
std::string RecoveryLabel(const std::string& backupFolder);

// Writes selection (records of reader's result list, in order) below
// target/<label>/<today>/<category name>, sets folder to that folder, and
// returns ok; or unreadable naming the first folder or file that could not
// be written (the export is then incomplete; folder is still set when it
// was made). The progress ends at 100.
//
// progress (may be null) can stop the run (IExportProgress::Cancelled): it
// stops before the next record or copied file, or within a long copy, and
// returns cancelled. What was finished by then stays: whole tables, pages
// and copies; the table and page being built and a copy cut short are not
// left behind. A run stopped before it began makes no folder (folder stays
// as it was) and sets no progress. A run asked to stop after its last file
// also says cancelled.
//
// The media categories export day groups: selection holds those of topGroup
// (the album or file group the user browsed; TickedDayGroups gives them),
// and the ticked records of the sub-list topGroup shows are copied. Without
// topGroup they copy nothing.
base::Status RunRecovery(const readers::ICategoryReader& reader, const std::vector<db::BaseItem*>& selection,
                         const std::filesystem::path& target, const std::string& label,
                         exporting::IExportProgress* progress, std::filesystem::path& folder,
                         const db::FriendItem* topGroup = nullptr);

// The day groups of topGroup that hold at least one ticked record in the
// sub-list topGroup shows, in order: the selection of a media category.
std::vector<db::BaseItem*> TickedDayGroups(const db::FriendItem& topGroup);

}  // namespace recovery
