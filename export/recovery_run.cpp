#include "export/recovery_run.h"

#include <algorithm>

#include "backup/backup_info.h"
#include "chat/qq_export.h"
#include "chat/wechat_export.h"
#include "chat/whatsapp_db.h"
#include "readers/address_book_db.h"
#include "readers/attachment_db.h"
#include "readers/calendar_db.h"
#include "readers/call_history_db.h"
#include "readers/categories.h"
#include "readers/category_readers.h"
#include "readers/message_db.h"
#include "readers/note_db.h"
#include "readers/photo_db.h"
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
                                  IExportProgress* progress, const db::FriendItem* topGroup) {
  CExportWriter writer(progress, holder.category);
  writer.BeginCategory(target, label);
  switch (holder.category) {
    case readers::kCategoryQq: {
      const auto accounts = readers::QqAccountsOf(holder);
      if (holder.account < accounts.size()) {
        chat::ExportQqChats(writer, *accounts[holder.account], selection);
      } else {
        writer.Finish();
      }
      break;
    }
    case readers::kCategoryWeChatContacts:
    case readers::kCategoryWeChat: {
      // The chat categories finish their writer themselves.
      const auto accounts = readers::WxAccountsOf(holder);
      if (holder.account < accounts.size()) {
        chat::ExportChatCategory(writer, *accounts[holder.account], selection);
      } else {
        writer.Finish();
      }
      break;
    }
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
    case readers::kCategoryPhotos:
    case readers::kCategoryVideos:
      if (const auto* album = dynamic_cast<const readers::DBITEM_PhotoFriend*>(topGroup)) {
        readers::ExportPhotos(writer.Folder(), selection, *album, progress);
      }
      break;
    case readers::kCategoryNotesAttachments:
    case readers::kCategoryMessageAttachments:
    case readers::kCategoryWeChatAttachments:
    case readers::kCategoryWhatsAppFiles:
      if (const auto* group = dynamic_cast<const readers::DBITEM_AttachmentFriend*>(topGroup)) {
        readers::ExportAttachments(writer.Folder(), selection, *group, progress);
      }
      break;
    default: break;
  }
  // Voice memos are copied as files: no table or page is written beside them
  // (they would be empty).
  if (holder.category >= readers::kCategoryCalls && holder.category <= readers::kCategoryWhatsApp) writer.Finish();
  if (progress != nullptr) progress->SetProgress(100);
  return writer.WriteFailed() ? std::filesystem::path() : writer.Folder();
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

}  // namespace exporting
