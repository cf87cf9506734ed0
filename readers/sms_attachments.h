#pragma once
// The files sent and received with messages, as sms.db records them: one row
// of the attachment table per file, linked to its message through
// message_attachment_join. The phone keeps the file itself below
// "~/Library/SMS/Attachments/<xx>/<yy>/<guid>/<name>", which a backup stores
// in MediaDomain under "Library/SMS/Attachments/...".
//
// Used by the message reader (each message lists its attachments) and by the
// message attachment category (which takes its files from these rows first).

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db/cppsqlite3.h"
#include "db/items.h"

namespace backup {
class CFileListDB;
}

namespace readers {

// The backup domain of the message attachment files.
inline constexpr char kSmsAttachmentDomain[] = "MediaDomain";
// Where the attachment files lie in that domain.
inline constexpr char kSmsAttachmentFolder[] = "Library/SMS/Attachments/";

// One row of sms.db's attachment table, with the message it came with.
class DBITEM_SmsAttachment : public db::BaseItem {
 public:
  const std::string& Title() const override { return name; }
  const std::string& SearchText() const override { return name; }

  std::int64_t rowId = 0;
  std::int64_t messageId = 0;  // 0 when no message names it
  std::string guid;
  std::string filename;      // as the phone stored it: "~/Library/SMS/Attachments/..."
  std::string transferName;  // the name the sender gave the file
  std::string mimeType;
  std::string uti;
  std::int64_t totalBytes = 0;
  bool outgoing = false;
  std::string name;          // transferName, else the last part of filename
  std::string relativePath;  // in kSmsAttachmentDomain; empty when filename lies elsewhere
  std::string storedPath;    // the file in the backup; empty when the backup lacks it
  // time: created_date as Unix seconds (0 when the phone left none)
};

// The columns of the attachment table by name, read from a row of
// "SELECT message_attachment_join.message_id, attachment.* ..." (message_id
// may be missing: a row of the attachment table alone).
std::unique_ptr<DBITEM_SmsAttachment> ParseSmsAttachmentRow(db::CppSQLite3Query& query);
// The query of every attachment row with the message it belongs to, in
// message then attachment order; attachments no message names come with
// message_id NULL. Needs both tables (check with HasTable first).
inline constexpr char kSmsAttachmentsSql[] =
    "SELECT j.message_id AS message_id, a.* FROM attachment a LEFT JOIN message_attachment_join j "
    "ON j.attachment_id = a.ROWID ORDER BY j.message_id, a.ROWID;";
// The same without the join table (it is not in every store).
inline constexpr char kSmsAttachmentsAloneSql[] = "SELECT * FROM attachment ORDER BY ROWID;";

// The relative path in kSmsAttachmentDomain of a filename as sms.db stores
// it: "~/Library/SMS/Attachments/ab/11/X/a.heic" and
// "/var/mobile/Library/SMS/Attachments/ab/11/X/a.heic" both give
// "Library/SMS/Attachments/ab/11/X/a.heic". Empty for a name that does not
// lie below the attachment folder or that leads out of it ("..").
std::string SmsAttachmentRelativePath(std::string_view filename);

// The media type (readers::kAttachmentImage ...) of an attachment: by its
// MIME type ("image/", "video/", "audio/"), else by the extension of its
// name on the attachment lists, else other. Every attachment has a type.
int SmsAttachmentType(const DBITEM_SmsAttachment& attachment);

// The stored files of the message attachment folder in a backup, by
// relative path: one lookup of the manifest for all of them. A plain folder
// holds no manifest; its files are looked up one by one (FindStoredFile).
class SmsAttachmentFiles {
 public:
  explicit SmsAttachmentFiles(backup::CFileListDB* index) : index_(index) {}
  // The stored path of a relative path below the attachment folder, or
  // empty when the backup does not hold it.
  std::string StoredPathOf(const std::string& relativePath);

 private:
  backup::CFileListDB* index_;
  bool loaded_ = false;
  std::unordered_map<std::string, std::string> storedByPath_;
};

}  // namespace readers
