#pragma once
// Sample message databases (sms.db) in the shape iOS 14 writes them, for the
// message reader's tests and the demo backup.
//
// The schema is the phone's own: message and handle as iOS 14.3 (or iOS 7)
// stores them, the chat, join and attachment tables with their indexes and
// triggers in the shape the phone's iOS 7.1.2 sms.db has them, so that
// deleting a conversation removes its messages and then its orphaned handle
// exactly as on a phone. Rows are deleted with secure_delete off: their
// bytes stay in the file.
//
// Everything here builds SQL texts; SqliteFile (sample_backup.h) runs them.
// Functions are pure and may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testing/ios_schemas.h"
#include "testing/sample_backup.h"

namespace sample {

// Dates in sms.db count nanoseconds from 2001-01-01 00:00 UTC from iOS 11 on.
std::int64_t AppleNanoseconds(std::int64_t unixSeconds);

// The phone number and iCloud address of the sample phone's owner.
inline constexpr char kSmsOwnNumber[] = "+8613700001234";
inline constexpr char kSmsOwnAppleId[] = "lin.zhou@icloud.com";

// One row of the handle table.
struct SmsHandle {
  std::int64_t rowId = 0;
  std::string id;                 // "+8613800138000", "someone@example.com"
  std::string country = "cn";
  std::string service = "SMS";    // or "iMessage"
  std::string uncanonicalizedId;  // empty: stored as NULL
};

// One row of the message table; columns not named here keep the table's
// defaults.
struct SmsMessage {
  std::int64_t rowId = 0;     // required: the guid is made from it
  std::string guid;           // empty: a 36-character UUID made from rowId
  std::string text;
  std::int64_t handleId = 0;
  std::string service = "SMS";
  std::string account;        // empty: "p:" and the own number
  std::string accountGuid = "9A1B3C5D-7E2F-4A6B-8C0D-1E3F5A7B9C2D";
  std::int64_t date = 0;      // as stored: nanoseconds (or seconds) since 2001
  std::int64_t dateRead = 0;  // 0 while unread
  std::int64_t dateDelivered = 0;
  bool isFromMe = false;      // also sets is_sent and is_delivered
  bool isRead = false;
  std::string destinationCallerId;  // empty: the own number
  // iOS 16 on: text left NULL, the body only in attributedBody.
  bool bodyOnly = false;
};

// The two shapes of the message tables the reader knows: iOS 7 to 10 (message
// 38 columns, handle 5) and iOS 11 on, here as iOS 14.3 has them (message 74,
// handle 6). The columns the reader uses sit at the same positions in both.
enum class SmsLayout { kIos7, kIos14, kIos17 };
inline constexpr int kSmsMessageIos7Columns = 38;
inline constexpr int kSmsHandleIos7Columns = 5;

// CREATE statements (tables, indexes, triggers) of a sample sms.db. iOS 17
// has the chat, join and attachment tables in their newer shape, the
// Recently Deleted join, and a trigger that keeps a message whose chat link
// moved there.
std::string SmsSchemaSql(SmsLayout layout = SmsLayout::kIos14);
// INSERT statements of one row; texts are quoted for SQL. iOS 7 has no
// destination_caller_id; the message leaves it out there.
std::string InsertHandleSql(const SmsHandle& handle);
std::string InsertMessageSql(const SmsMessage& message, SmsLayout layout = SmsLayout::kIos14);
// A chat with the handle as its one member, and the join rows that put
// messages into it (iOS files every message of a conversation this way).
std::string InsertChatSql(std::int64_t chatId, const SmsHandle& handle);
std::string JoinMessageToChatSql(std::int64_t chatId, std::int64_t messageId);

// The built-in sample sms.db, iOS 14 shape, dates in nanoseconds: five
// conversations (Chinese and English, texts with a comma, a quote and
// "<script>", a picture), 46 messages. Deleted: three single messages (23
// read, 24 sent, 31 unread) and one conversation whole (26, 27; its handle 5
// went with it). All can be recovered (23, read, keeps an 8-byte
// date_read).
// setupSql holds the schema, the rows and the deletions; recentSql the
// newest message (47), which SqliteFile leaves in sms.db-wal when asked to.
struct SmsDbScript {
  std::string setupSql;
  std::string recentSql;
};
SmsDbScript SampleSmsDbIos14();
std::unique_ptr<SqliteFile> MakeSampleSmsDb(SqliteFile::Journal journal = SqliteFile::Journal::kRollback);

// iOS 17 rows besides: a group chat (chat.style 43) with its members, the
// Recently Deleted join, an attachment row with its message.
std::string InsertGroupChatSql(std::int64_t chatId, const std::string& guid, const std::string& displayName,
                               const std::vector<std::int64_t>& members);
// Moves messages to Recently Deleted the way the phone does: a row in the
// recoverable join (deleteDate as stored, nanoseconds since 2001), then the
// chat link goes.
std::string MoveToRecentlyDeletedSql(std::int64_t chatId, std::int64_t messageId, std::int64_t deleteDate);
struct SmsAttachmentRow {
  std::int64_t rowId = 0;
  std::int64_t messageId = 0;
  std::string relativePath;  // below MediaDomain: "Library/SMS/Attachments/..."
  std::string mimeType;
  std::string uti;
  std::int64_t totalBytes = 0;
  bool outgoing = false;
  std::int64_t createdDate = 0;  // seconds since 2001
};
std::string InsertAttachmentSql(const SmsAttachmentRow& attachment);

// The built-in sample sms.db in the shape iOS 17 writes it (84-column
// message table), dates in nanoseconds, 2024-03. Conversations: one SMS peer
// (+8613800138000), a named group chat "周末爬山群" (three members, the
// owner's messages with handle_id 0), a group without a name (two members)
// and one iMessage peer; most bodies only in attributedBody, one of them
// longer than 127 bytes. Recently Deleted: two messages of the SMS peer, one
// the owner sent to the named group, and a whole chat whose chat row is gone
// (two messages). One message of the SMS peer (27, its body only in
// attributedBody) is purged: its row deleted, only its bytes are left. Attachments: a HEIC picture, an audio message
// (.caf), a JPEG and a MOV, a PDF, all with files (SampleSmsAttachmentFiles),
// and a picture whose file the backup lacks. recentSql holds the newest
// message (109, sent to the SMS peer).
SmsDbScript SampleSmsDbIos17();
std::unique_ptr<SqliteFile> MakeSampleSmsDbIos17(SqliteFile::Journal journal = SqliteFile::Journal::kRollback);
// The attachment files of the iOS 17 sample as a backup holds them in
// MediaDomain, with their times (Unix seconds); the last one is named by no
// row of the attachment table.
struct SmsAttachmentFile {
  std::string relativePath;
  std::int64_t birth = 0;
};
std::vector<SmsAttachmentFile> SampleSmsAttachmentFiles();

}  // namespace sample
