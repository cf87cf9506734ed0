#include "export/recovery_run.h"

#include "backup/backup_info.h"
#include "chat/whatsapp_db.h"
#include "readers/address_book_db.h"
#include "readers/calendar_db.h"
#include "readers/call_history_db.h"
#include "readers/categories.h"
#include "readers/category_readers.h"
#include "readers/message_db.h"
#include "readers/note_db.h"
#include "readers/safari_db.h"
#include "readers/voice_memo_db.h"

namespace exporting {

std::string RecoveryLabel(const std::string& backupFolder) {
  if (const auto info = backup::ReadInfoPlistSummary(backupFolder); info && !info->deviceName.empty()) {
    return info->deviceName;
  }
  std::filesystem::path folder(backupFolder);
  if (folder.filename().empty()) folder = folder.parent_path();
  return "指定目录_" + folder.filename().string();
}

std::filesystem::path RunRecovery(const readers::CategoryReaders& holder, const std::vector<db::BaseItem*>& selection,
                                  const std::filesystem::path& target, const std::string& label,
                                  IExportProgress* progress) {
  CExportWriter writer(progress, holder.category);
  writer.BeginCategory(target, label);
  switch (holder.category) {
    case readers::kCategoryCalls: readers::WriteCallsCsv(writer, selection); break;
    case readers::kCategoryContacts: readers::WriteContactsCsv(writer, selection); break;
    case readers::kCategoryMessages: readers::WriteMessagesCsv(writer, selection); break;
    case readers::kCategoryCalendar:
    case readers::kCategoryReminders:
      if (holder.calendar) readers::WriteCalendarCsv(writer, selection, holder.calendar->wantedEntityType);
      break;
    case readers::kCategorySafari:
      if (holder.safari) readers::WriteSafariCsv(writer, selection);
      break;
    case readers::kCategoryNotes:
      if (holder.notes) readers::WriteNotesCsv(writer, selection);
      break;
    case readers::kCategoryWhatsApp: chat::WriteWhatsAppCsv(writer, selection); break;
    case readers::kCategoryVoiceMemos: readers::ExportVoiceMemos(selection, writer.Folder()); break;
    default: break;
  }
  // Voice memos are copied as files: no table or page is written beside them
  // (they would be empty).
  if (holder.category >= readers::kCategoryCalls && holder.category <= readers::kCategoryWhatsApp) writer.Finish();
  if (progress != nullptr) progress->SetProgress(100);
  return writer.Folder();
}

}  // namespace exporting
