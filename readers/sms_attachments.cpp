#include "readers/sms_attachments.h"

#include <utility>
#include <vector>

#include "backup/file_list_db.h"
#include "db/db_sqlite.h"
#include "db/item_time.h"
#include "readers/attachment_db.h"

namespace readers {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::unique_ptr<DBITEM_SmsAttachment> ParseSmsAttachmentRow(db::CppSQLite3Query& query) {
  auto attachment = std::make_unique<DBITEM_SmsAttachment>();
  attachment->rowId = query.GetInt64Field(query.FieldIndex("ROWID"));
  attachment->messageId = query.GetInt64Field(query.FieldIndex("message_id"));
  attachment->guid = db::FieldText(query, "guid");
  attachment->filename = db::FieldText(query, "filename");
  attachment->transferName = db::FieldText(query, "transfer_name");
  attachment->mimeType = db::FieldText(query, "mime_type");
  attachment->uti = db::FieldText(query, "uti");
  attachment->totalBytes = query.GetInt64Field(query.FieldIndex("total_bytes"));
  attachment->outgoing = query.GetIntField(query.FieldIndex("is_outgoing")) != 0;
  // created_date is seconds since 2001 on the phones of these years; the
  // conversion takes nanoseconds too.
  const std::int64_t created = query.GetInt64Field(query.FieldIndex("created_date"));
  attachment->time = created > 0 ? db::UnixFromAppleDate(created) : 0;
  attachment->name = attachment->transferName;
  if (attachment->name.empty()) {
    const auto slash = attachment->filename.find_last_of('/');
    attachment->name = slash == std::string::npos ? attachment->filename : attachment->filename.substr(slash + 1);
  }
  attachment->relativePath = SmsAttachmentRelativePath(attachment->filename);
  return attachment;
}

std::string SmsAttachmentRelativePath(std::string_view filename) {
  constexpr std::string_view kPrefixes[] = {"~/", "/var/mobile/", "/private/var/mobile/"};
  for (std::string_view prefix : kPrefixes) {
    if (StartsWith(filename, prefix)) {
      filename.remove_prefix(prefix.size());
      break;
    }
  }
  if (!StartsWith(filename, kSmsAttachmentFolder)) return {};
  // A name from the database never leads the lookup out of the folder.
  std::string_view rest = filename;
  while (!rest.empty()) {
    const auto slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == "..") return {};
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return std::string(filename);
}

int SmsAttachmentType(const DBITEM_SmsAttachment& attachment) {
  const std::string_view mime = attachment.mimeType;
  if (StartsWith(mime, "image/")) return kAttachmentImage;
  if (StartsWith(mime, "video/")) return kAttachmentVideo;
  if (StartsWith(mime, "audio/")) return kAttachmentVoice;
  bool png = false;
  for (const std::string* name : {&attachment.name, &attachment.filename}) {
    if (const int type = AttachmentTypeOf(*name, png); type != 0) return type;
  }
  return kAttachmentOther;
}

std::string SmsAttachmentFiles::StoredPathOf(const std::string& relativePath) {
  if (index_ == nullptr || relativePath.empty()) return {};
  if (index_->Mode() == backup::SourceFolder) {
    std::vector<std::string> paths;
    index_->FindFilePaths(relativePath, kSmsAttachmentDomain, paths, false);
    return paths.empty() ? std::string() : paths.front();
  }
  if (!loaded_) {
    loaded_ = true;
    backup::FileRecordList files;
    index_->FindFileRecords(std::string(kSmsAttachmentFolder) + "%", kSmsAttachmentDomain, files, false);
    for (const auto& file : files) storedByPath_.emplace(file->relativePath, file->storedPath);
  }
  const auto found = storedByPath_.find(relativePath);
  return found == storedByPath_.end() ? std::string() : found->second;
}

}  // namespace readers
