#include "testing/sample_messages.h"

#include <cstdio>
#include <vector>

#include "testing/ios_schemas.h"
#include "testing/sql_literal.h"
#include "testing/typedstream_writer.h"

namespace sample {
namespace {

// message and handle as iOS 7.1.2 stored them.
constexpr char kSmsMessageIos7[] =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, "
    "replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, "
    "attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, "
    "account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
    "is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me "
    "INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT "
    "0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_system_message INTEGER DEFAULT 0, is_sent "
    "INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, is_forward "
    "INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, is_archive INTEGER DEFAULT 0, cache_has_attachments "
    "INTEGER DEFAULT 0, cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER "
    "DEFAULT 0);";
constexpr char kSmsHandleIos7[] =
    "CREATE TABLE handle ( ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, "
    "service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service) );";

// The phone's own statements for the tables around message and handle. The
// iOS 14 dump at hand holds message and handle only; these are the phone's
// statements as iOS 7.1.2 stored them, which the reader never reads but which
// give the file its real mix of tables, indexes and triggers. The trigger
// that deletes attachment files calls a function of the phone's own process
// and is left out: plain SQLite cannot run it.
constexpr char kSmsTablesAroundMessages[] =
    "CREATE INDEX message_idx_was_downgraded ON message(was_downgraded);"
    "CREATE INDEX message_idx_is_read ON message(is_read, is_from_me, is_finished);"
    "CREATE INDEX message_idx_failed ON message(is_finished, is_from_me, error);"
    "CREATE INDEX message_idx_handle ON message(handle_id, date);"
    "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, "
    "state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, "
    "account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT);"
    "CREATE INDEX chat_idx_identifier ON chat(chat_identifier);"
    "CREATE INDEX chat_idx_room_name ON chat(room_name);"
    "CREATE TABLE chat_message_join ( chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id "
    "INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, PRIMARY KEY (chat_id, message_id));"
    "CREATE INDEX chat_message_join_idx_message_id ON chat_message_join(message_id, chat_id);"
    "CREATE TABLE chat_handle_join ( chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id "
    "INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));"
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date "
    "INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state "
    "INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER "
    "DEFAULT 0);"
    "CREATE TABLE message_attachment_join ( message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, "
    "attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));"
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));"
    // Deleting a conversation's join rows deletes its messages, and a handle
    // that no chat and no message refers to any more goes with them.
    "CREATE TRIGGER clean_orphaned_handles2 AFTER DELETE ON message BEGIN     DELETE FROM handle         WHERE "
    "handle.ROWID = old.handle_id     AND         (SELECT 1 from chat_handle_join WHERE handle_id = "
    "old.handle_id LIMIT 1) IS NULL     AND         (SELECT 1 from message WHERE handle_id = old.handle_id "
    "LIMIT 1) IS NULL; END;"
    "CREATE TRIGGER clean_orphaned_messages AFTER DELETE ON chat_message_join BEGIN     DELETE FROM message     "
    "WHERE (         SELECT 1 FROM chat_message_join         WHERE message_id = message.rowid         LIMIT 1"
    "     ) IS NULL; END;"
    "CREATE TRIGGER update_message_roomname_cache_insert AFTER INSERT ON chat_message_join BEGIN     UPDATE "
    "message       SET cache_roomnames = (         SELECT group_concat(c.room_name)         FROM chat c         "
    "INNER JOIN chat_message_join j ON c.ROWID = j.chat_id         WHERE           j.message_id = "
    "new.message_id       )       WHERE         message.ROWID = new.message_id; END;"
    "CREATE TRIGGER clean_orphaned_handles AFTER DELETE ON chat_handle_join BEGIN     DELETE FROM handle         "
    "WHERE handle.ROWID = old.handle_id     AND         (SELECT 1 from chat_handle_join WHERE handle_id = "
    "old.handle_id LIMIT 1) IS NULL     AND         (SELECT 1 from message WHERE handle_id = old.handle_id "
    "LIMIT 1) IS NULL; END;"
    "CREATE TRIGGER set_message_has_attachments AFTER INSERT ON message_attachment_join BEGIN     UPDATE "
    "message       SET cache_has_attachments = 1     WHERE       message.ROWID = new.message_id; END;";

// The phone keeps the body a second time (from iOS 16 on often only) as an
// archived attributed string.
std::string AttributedBody(const std::string& text) { return SqlBlob(ArchivedAttributedString(text)); }

// The tables around message and handle in their iOS 16 and 17 shape, as
// public write-ups of those phones list their columns (no dump of these
// statements was at hand): chat with its newer columns, the joins with the
// message date, the Recently Deleted join, attachment with its newer
// columns. The trigger that removes a message once no chat links it also
// looks at the Recently Deleted join, or moving a message there would
// delete it.
constexpr char kSmsTablesAroundMessagesIos17[] =
    "CREATE INDEX message_idx_handle ON message(handle_id, date);"
    "CREATE INDEX message_idx_is_read ON message(is_read, is_from_me, is_finished);"
    "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, "
    "state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, "
    "account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT, "
    "group_id TEXT, is_filtered INTEGER DEFAULT 0, successful_query INTEGER, engram_id TEXT, "
    "server_change_token TEXT, ck_sync_state INTEGER DEFAULT 0, original_group_id TEXT, "
    "last_read_message_timestamp INTEGER DEFAULT 0, cloudkit_record_id TEXT, last_addressed_sim_id TEXT, "
    "is_blackholed INTEGER DEFAULT 0, syndication_date INTEGER DEFAULT 0, syndication_type INTEGER DEFAULT 0, "
    "is_recovered INTEGER DEFAULT 0, is_deleting_incoming_messages INTEGER DEFAULT 0);"
    "CREATE INDEX chat_idx_chat_identifier ON chat(chat_identifier);"
    "CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id "
    "INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, message_date INTEGER DEFAULT 0, PRIMARY KEY "
    "(chat_id, message_id));"
    "CREATE INDEX chat_message_join_idx_message_id_only ON chat_message_join(message_id);"
    "CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id "
    "INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));"
    "CREATE TABLE chat_recoverable_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, "
    "message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, delete_date INTEGER, ck_sync_state "
    "INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id), CHECK (delete_date != 0));"
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date "
    "INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state "
    "INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER "
    "DEFAULT 0, is_sticker INTEGER DEFAULT 0, sticker_user_info BLOB, attribution_info BLOB, hide_attachment "
    "INTEGER DEFAULT 0, ck_sync_state INTEGER DEFAULT 0, ck_server_change_token_blob BLOB, ck_record_id TEXT, "
    "original_guid TEXT UNIQUE NOT NULL, is_commsafety_sensitive INTEGER DEFAULT 0);"
    "CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, "
    "attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));"
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));"
    "CREATE TRIGGER after_delete_on_chat_message_join AFTER DELETE ON chat_message_join BEGIN DELETE FROM "
    "message WHERE message.ROWID = old.message_id AND (SELECT 1 FROM chat_message_join WHERE message_id = "
    "old.message_id LIMIT 1) IS NULL AND (SELECT 1 FROM chat_recoverable_message_join WHERE message_id = "
    "old.message_id LIMIT 1) IS NULL; END;"
    "CREATE TRIGGER after_delete_on_chat_recoverable_message_join AFTER DELETE ON chat_recoverable_message_join "
    "BEGIN DELETE FROM message WHERE message.ROWID = old.message_id AND (SELECT 1 FROM chat_message_join WHERE "
    "message_id = old.message_id LIMIT 1) IS NULL AND (SELECT 1 FROM chat_recoverable_message_join WHERE "
    "message_id = old.message_id LIMIT 1) IS NULL; END;"
    "CREATE TRIGGER clean_orphaned_handles AFTER DELETE ON chat_handle_join BEGIN DELETE FROM handle WHERE "
    "handle.ROWID = old.handle_id AND (SELECT 1 from chat_handle_join WHERE handle_id = old.handle_id LIMIT 1) "
    "IS NULL AND (SELECT 1 from message WHERE handle_id = old.handle_id LIMIT 1) IS NULL; END;";

std::string MessageGuid(std::int64_t rowId) {
  char text[40];
  std::snprintf(text, sizeof text, "5C0F2A7E-3B1D-4C8E-9F6A-%012llX", static_cast<unsigned long long>(rowId));
  return text;
}

std::string Int(std::int64_t value) { return std::to_string(value); }

// 2021-12-01 09:00:00 in UTC+8, the start of the sample's conversations.
constexpr std::int64_t kSampleStart = 1638320400;

std::int64_t At(int minutes) { return AppleNanoseconds(kSampleStart + minutes * 60LL); }

SmsMessage Received(std::int64_t rowId, std::int64_t handleId, int minutes, const std::string& text,
                    bool read) {
  SmsMessage m;
  m.rowId = rowId;
  m.handleId = handleId;
  m.date = At(minutes);
  m.text = text;
  m.isRead = read;
  // Read a few minutes after arrival, in nanoseconds like the date.
  if (read) m.dateRead = m.date + 180000000000LL;
  return m;
}

SmsMessage Sent(std::int64_t rowId, std::int64_t handleId, int minutes, const std::string& text) {
  SmsMessage m;
  m.rowId = rowId;
  m.handleId = handleId;
  m.date = At(minutes);
  m.dateDelivered = m.date + 2000000000LL;
  m.text = text;
  m.isFromMe = true;
  return m;
}

SmsMessage AsIMessage(SmsMessage m) {
  m.service = "iMessage";
  m.account = std::string("e:") + kSmsOwnAppleId;
  m.destinationCallerId = kSmsOwnAppleId;
  return m;
}

// A conversation: its handle, its chat and its messages, in order.
std::string Conversation(std::int64_t chatId, const SmsHandle& handle, const std::vector<SmsMessage>& messages) {
  std::string sql = InsertHandleSql(handle) + InsertChatSql(chatId, handle);
  for (const SmsMessage& m : messages) sql += InsertMessageSql(m) + JoinMessageToChatSql(chatId, m.rowId);
  return sql;
}

}  // namespace

std::int64_t AppleNanoseconds(std::int64_t unixSeconds) {
  return (unixSeconds - 978307200) * 1000000000LL;
}

std::string SmsSchemaSql(SmsLayout layout) {
  if (layout == SmsLayout::kIos17) return std::string(kSmsMessageIos17) + kSmsHandleIos14 + kSmsTablesAroundMessagesIos17;
  if (layout == SmsLayout::kIos7) return std::string(kSmsMessageIos7) + kSmsHandleIos7 + kSmsTablesAroundMessages;
  return std::string(kSmsMessageIos14) + kSmsHandleIos14 + kSmsTablesAroundMessages;
}

std::string InsertHandleSql(const SmsHandle& handle) {
  return "INSERT INTO handle (ROWID, id, country, service, uncanonicalized_id) VALUES (" + Int(handle.rowId) +
         ", " + SqlText(handle.id) + ", " + SqlText(handle.country) + ", " + SqlText(handle.service) + ", " +
         SqlTextOrNull(handle.uncanonicalizedId) + ");";
}

std::string InsertMessageSql(const SmsMessage& m, SmsLayout layout) {
  const std::string guid = m.guid.empty() ? MessageGuid(m.rowId) : m.guid;
  const std::string account = m.account.empty() ? std::string("p:") + kSmsOwnNumber : m.account;
  const std::string caller = m.destinationCallerId.empty() ? kSmsOwnNumber : m.destinationCallerId;
  const char* flag = m.isFromMe ? "1" : "0";
  const bool withCaller = layout != SmsLayout::kIos7;
  return std::string("INSERT INTO message (ROWID, guid, text, handle_id, attributedBody, version, service, account, "
         "account_guid, date, date_read, date_delivered, is_delivered, is_finished, is_from_me, is_read, "
         "is_sent") + (withCaller ? ", destination_caller_id" : "") + ") VALUES (" +
         Int(m.rowId) + ", " + SqlText(guid) + ", " + (m.bodyOnly ? "NULL" : SqlText(m.text)) + ", " + Int(m.handleId) + ", " +
         AttributedBody(m.text) + ", 10, " + SqlText(m.service) + ", " + SqlText(account) + ", " +
         SqlText(m.accountGuid) + ", " + Int(m.date) + ", " + Int(m.dateRead) + ", " + Int(m.dateDelivered) +
         ", " + flag + ", 1, " + flag + ", " + (m.isRead ? "1" : "0") + ", " + flag +
         (withCaller ? ", " + SqlText(caller) : std::string()) + ");";
}

std::string InsertChatSql(std::int64_t chatId, const SmsHandle& handle) {
  const bool iMessage = handle.service == "iMessage";
  const std::string login = iMessage ? std::string("E:") + kSmsOwnAppleId : std::string("P:") + kSmsOwnNumber;
  return "INSERT INTO chat (ROWID, guid, style, state, account_id, chat_identifier, service_name, account_login, "
         "is_archived, last_addressed_handle, display_name) VALUES (" +
         Int(chatId) + ", " + SqlText(handle.service + ";-;" + handle.id) + ", 45, 3, " +
         SqlText("9A1B3C5D-7E2F-4A6B-8C0D-1E3F5A7B9C2D") + ", " + SqlText(handle.id) + ", " + SqlText(handle.service) +
         ", " + SqlText(login) + ", 0, " + SqlText(iMessage ? kSmsOwnAppleId : kSmsOwnNumber) + ", '');" +
         "INSERT INTO chat_handle_join (chat_id, handle_id) VALUES (" + Int(chatId) + ", " + Int(handle.rowId) +
         ");";
}

std::string JoinMessageToChatSql(std::int64_t chatId, std::int64_t messageId) {
  return "INSERT INTO chat_message_join (chat_id, message_id) VALUES (" + Int(chatId) + ", " + Int(messageId) +
         ");";
}

SmsDbScript SampleSmsDbIos14() {
  const SmsHandle wang{1, "+8613800138000", "cn", "SMS", ""};
  const SmsHandle mei{2, "lin.mei@example.com", "cn", "iMessage", ""};
  const SmsHandle shop{3, "+14155550123", "us", "SMS", "+1 (415) 555-0123"};
  const SmsHandle carrier{4, "10086", "cn", "SMS", "10086"};
  const SmsHandle zhao{5, "+8615012345678", "cn", "SMS", ""};

  SmsDbScript script;
  std::string& sql = script.setupSql;
  // One transaction, as the phone's own writes are batched; it also keeps
  // building the sample fast.
  sql = "BEGIN;" + SmsSchemaSql(SmsLayout::kIos14);
  sql += "INSERT INTO _SqliteDatabaseProperties (key, value) VALUES ('_ClientVersion', '14006');";
  // Rows are numbered in the order they arrive. A real sms.db has pages full
  // of messages, and a page that deleting a few leaves well filled keeps
  // their bytes where they were (a page left nearly empty is rebuilt, which
  // overwrites them): so the history around the deleted messages is long.
  std::int64_t next = 1;
  const char* const kDayBefore[] = {"在吗？", "在，怎么了", "周五的材料准备好了吗", "还差一点，晚上发你",
                                    "好，辛苦了", "不客气", "报告第三页的数据要更新", "收到，我改一下",
                                    "改好了，发你邮箱了", "看到了，谢谢", "下周一上午九点开会", "好的，我提前到",
                                    "记得带笔记本电脑", "没问题", "会议室换到302了", "知道了",
                                    "客户说下午两点到", "我去接他们", "辛苦，路上小心", "到了跟你说"};
  std::vector<SmsMessage> wangMessages;
  for (int i = 0; i < 20; ++i) {
    const int minutes = -1440 + i * 30;
    wangMessages.push_back(i % 2 == 0 ? Received(next++, 1, minutes, kDayBefore[i], true)
                                      : Sent(next++, 1, minutes, kDayBefore[i]));
  }
  wangMessages.push_back(Received(next++, 1, 0, "明天下午三点开会，别忘了带资料。", true));
  wangMessages.push_back(Sent(next++, 1, 3, "好的，收到！"));
  wangMessages.push_back(Received(next++, 1, 10, "我的银行卡号是6222 0000 1111 2222，帮我转一下", true));  // 23
  wangMessages.push_back(Sent(next++, 1, 12, "说好了，周末见"));                                           // 24
  wangMessages.push_back(Received(next++, 1, 30, "会议改到四点了", true));
  sql += Conversation(1, wang, wangMessages);
  sql += Conversation(5, zhao, {Received(next, 5, 40, "这条短信看完就删掉吧", false),  // 26
                                Sent(next + 1, 5, 42, "那就删了吧")});                 // 27
  next += 2;
  sql += Conversation(2, mei,
                      {AsIMessage(Received(next, 2, 60, "Hi Mei, are we still on for dinner, 7pm?", true)),
                       AsIMessage(Sent(next + 1, 2, 62, "She said \"see you there\", so yes.")),
                       AsIMessage(Received(next + 2, 2, 65, "<script>alert('hi')</script>", false)),
                       AsIMessage(Received(next + 3, 2, 70, "Don't tell anyone, the code is 4711", false)),  // 31
                       AsIMessage(Received(next + 4, 2, 75, "\xEF\xBF\xBC", true))});
  // Message 32 is a picture: its text is the object replacement character.
  sql += "INSERT INTO attachment (ROWID, guid, created_date, start_date, filename, uti, mime_type, transfer_state, "
         "is_outgoing, transfer_name, total_bytes) VALUES (1, 'AT_0_5C0F2A7E-3B1D-4C8E-9F6A-000000000020', "
         "660017700, 0, '~/Library/SMS/Attachments/20/00/AT_0_5C0F2A7E/IMG_0001.jpeg', 'public.jpeg', "
         "'image/jpeg', 5, 0, 'IMG_0001.jpeg', 245123);"
         "INSERT INTO message_attachment_join (message_id, attachment_id) VALUES (32, 1);";
  next += 5;
  sql += Conversation(
      3, shop, {Received(next++, 3, 120, "Your package has shipped. Track it at https://example.com/t/8841", true)});
  sql += Conversation(4, carrier,
                      {Received(next++, 4, 180, "【中国移动】尊敬的客户，您好！您本月话费账单已出，详询10086。", false)});
  const char* const kEvening[] = {"晚上一起吃饭吗", "好啊，几点", "七点，老地方", "行，我订位子",
                                  "订好了，靠窗", "太好了", "要不要叫上小李", "叫上吧，人多热闹",
                                  "他说晚点到", "没关系，我们先点菜", "你想吃什么", "随便，你定"};
  for (int i = 0; i < 12; ++i) {
    const int minutes = 540 + i * 2;
    const std::int64_t rowId = next++;
    sql += InsertMessageSql(i % 2 == 0 ? Received(rowId, 1, minutes, kEvening[i], true)
                                       : Sent(rowId, 1, minutes, kEvening[i])) +
           JoinMessageToChatSql(1, rowId);
  }
  // The owner deletes single messages the way the phone does, through their
  // join rows (a trigger deletes the message): one read, one sent, one unread.
  sql += "DELETE FROM chat_message_join WHERE message_id IN (23, 24, 31);";
  // And one whole conversation: its messages, then its handle, go too.
  sql += "DELETE FROM chat_handle_join WHERE chat_id = 5;"
         "DELETE FROM chat_message_join WHERE chat_id = 5;"
         "DELETE FROM chat WHERE ROWID = 5;"
         "COMMIT;";
  script.recentSql = InsertMessageSql(Sent(next, 1, 600, "我到了，在门口等你")) + JoinMessageToChatSql(1, next);
  return script;
}

std::unique_ptr<SqliteFile> MakeSampleSmsDb(SqliteFile::Journal journal) {
  const SmsDbScript script = SampleSmsDbIos14();
  return std::make_unique<SqliteFile>(script.setupSql, script.recentSql, journal);
}

std::string InsertGroupChatSql(std::int64_t chatId, const std::string& guid, const std::string& displayName,
                               const std::vector<std::int64_t>& members) {
  const std::string identifier = guid.substr(guid.rfind(';') + 1);
  std::string sql =
      "INSERT INTO chat (ROWID, guid, style, state, account_id, chat_identifier, service_name, room_name, "
      "account_login, is_archived, last_addressed_handle, display_name, group_id) VALUES (" +
      Int(chatId) + ", " + SqlText(guid) + ", 43, 3, " + SqlText("9A1B3C5D-7E2F-4A6B-8C0D-1E3F5A7B9C2D") + ", " +
      SqlText(identifier) + ", 'iMessage', " + SqlText(identifier) + ", " +
      SqlText(std::string("E:") + kSmsOwnAppleId) + ", 0, " + SqlText(kSmsOwnAppleId) + ", " +
      SqlTextOrNull(displayName) + ", " + SqlText(MessageGuid(900 + chatId)) + ");";
  for (std::int64_t member : members) {
    sql += "INSERT INTO chat_handle_join (chat_id, handle_id) VALUES (" + Int(chatId) + ", " + Int(member) + ");";
  }
  return sql;
}

std::string MoveToRecentlyDeletedSql(std::int64_t chatId, std::int64_t messageId, std::int64_t deleteDate) {
  return "INSERT INTO chat_recoverable_message_join (chat_id, message_id, delete_date) VALUES (" + Int(chatId) +
         ", " + Int(messageId) + ", " + Int(deleteDate) + ");DELETE FROM chat_message_join WHERE chat_id = " +
         Int(chatId) + " AND message_id = " + Int(messageId) + ";";
}

std::string InsertAttachmentSql(const SmsAttachmentRow& a) {
  const std::string guid = "AT_0_" + MessageGuid(a.rowId);
  const std::string name = a.relativePath.substr(a.relativePath.rfind('/') + 1);
  return "INSERT INTO attachment (ROWID, guid, created_date, start_date, filename, uti, mime_type, "
         "transfer_state, is_outgoing, transfer_name, total_bytes, original_guid) VALUES (" +
         Int(a.rowId) + ", " + SqlText(guid) + ", " + Int(a.createdDate) + ", 0, " +
         SqlText("~/" + a.relativePath) + ", " + SqlTextOrNull(a.uti) + ", " + SqlTextOrNull(a.mimeType) + ", 5, " +
         (a.outgoing ? "1" : "0") + ", " + SqlText(name) + ", " + Int(a.totalBytes) + ", " + SqlText(guid) +
         ");INSERT INTO message_attachment_join (message_id, attachment_id) VALUES (" + Int(a.messageId) + ", " +
         Int(a.rowId) + ");";
}

namespace {

// 2024-03-09 10:00:00 in UTC+8, the start of the iOS 17 sample.
constexpr std::int64_t kIos17Start = 1709949600;

std::int64_t At17(int minutes) { return AppleNanoseconds(kIos17Start + minutes * 60LL); }

SmsMessage Message17(std::int64_t rowId, std::int64_t handleId, int minutes, const std::string& text, bool fromMe,
                     bool bodyOnly) {
  SmsMessage m;
  m.rowId = rowId;
  m.handleId = handleId;
  m.date = At17(minutes);
  m.text = text;
  m.isFromMe = fromMe;
  if (fromMe) m.dateDelivered = m.date + 2000000000LL;
  m.bodyOnly = bodyOnly;
  m.service = "iMessage";
  m.account = std::string("e:") + kSmsOwnAppleId;
  m.destinationCallerId = kSmsOwnAppleId;
  return m;
}

// The files the iOS 17 sample's attachment rows name, by row.
struct SampleAttachment {
  std::int64_t messageId;
  const char* relativePath;
  const char* mimeType;
  const char* uti;
  std::int64_t totalBytes;
  bool inBackup;
};
constexpr SampleAttachment kIos17Attachments[] = {
    {103, "Library/SMS/Attachments/4e/14/B6F0E2A1-0001/IMG_4821.HEIC", "image/heic", "public.heic", 1843200, true},
    {210, "Library/SMS/Attachments/5c/12/A1B2C3D4-0004/Audio Message.caf", "audio/x-caf", "com.apple.coreaudio-format",
     38912, true},
    {301, "Library/SMS/Attachments/3a/10/A1B2C3D4-0001/IMG_2041.JPG", "image/jpeg", "public.jpeg", 245123, true},
    {301, "Library/SMS/Attachments/3a/10/A1B2C3D4-0002/IMG_2042.MOV", "video/quicktime", "com.apple.quicktime-movie",
     5242880, true},
    {402, "Library/SMS/Attachments/5c/12/A1B2C3D4-0003/合同.pdf", "application/pdf", "com.adobe.pdf", 88123, true},
    // Kept in iCloud only: the row is there, the file is not in the backup.
    {402, "Library/SMS/Attachments/6d/13/C7D8E9F0-0005/IMG_0099.HEIC", "image/heic", "public.heic", 2011136, false},
};

}  // namespace

std::vector<SmsAttachmentFile> SampleSmsAttachmentFiles() {
  std::vector<SmsAttachmentFile> files;
  std::int64_t birth = kIos17Start + 5 * 60;
  for (const SampleAttachment& a : kIos17Attachments) {
    if (a.inBackup) files.push_back({a.relativePath, birth});
    birth += 3600;
  }
  // A file the phone still keeps though no row names it any more.
  files.push_back({"Library/SMS/Attachments/7f/15/D0E1F2A3-0006/IMG_3001.PNG", kIos17Start - 86400});
  return files;
}

SmsDbScript SampleSmsDbIos17() {
  const SmsHandle zhang{1, "+8613800138000", "cn", "SMS", ""};
  const SmsHandle mei{2, "lin.mei@example.com", "cn", "iMessage", ""};
  const SmsHandle chen{3, "+8615900001111", "cn", "iMessage", ""};
  const SmsHandle liu{4, "+8618600002222", "cn", "iMessage", ""};
  const SmsHandle code{5, "+8613911112222", "cn", "SMS", ""};

  SmsDbScript script;
  std::string& sql = script.setupSql;
  sql = "BEGIN;" + SmsSchemaSql(SmsLayout::kIos17);
  sql += "INSERT INTO _SqliteDatabaseProperties (key, value) VALUES ('_ClientVersion', '17200');";
  for (const SmsHandle& h : {zhang, mei, chen, liu, code}) sql += InsertHandleSql(h);
  sql += InsertChatSql(1, zhang);
  sql += InsertGroupChatSql(2, "iMessage;+;chat381726354910283746", "周末爬山群", {3, 4, 2});
  sql += InsertGroupChatSql(3, "iMessage;+;chat927364518273645190", "", {2, 3});
  sql += InsertChatSql(4, mei);
  sql += InsertChatSql(5, code);
  const auto add = [&sql](std::int64_t chatId, SmsMessage m) {
    if (m.handleId == 1 || m.handleId == 5) {
      m.service = "SMS";
      m.account = std::string("p:") + kSmsOwnNumber;
      m.destinationCallerId = kSmsOwnNumber;
    }
    sql += InsertMessageSql(m, SmsLayout::kIos17) + JoinMessageToChatSql(chatId, m.rowId);
  };
  // A month of history first: a page that deleting one message leaves well
  // filled keeps that message's bytes where they were.
  const char* const kHistory[] = {"下班了吗", "快了", "晚饭吃什么", "面条吧", "好", "路上堵车",
                                  "慢慢来", "到家了", "早点休息", "晚安", "早", "今天降温了",
                                  "多穿点", "知道啦", "周末有空吗", "有"};
  for (int i = 0; i < 16; ++i) {
    add(1, Message17(11 + i, 1, -43200 + i * 1440, kHistory[i], i % 2 == 1, i % 3 == 0));
  }
  // Purged below: out of Recently Deleted too; only its bytes stay.
  add(1, Message17(27, 1, -20000, "这条消息已经彻底删除了", false, true));
  add(1, Message17(101, 1, 0, "周六去爬山吗？", false, false));
  add(1, Message17(102, 1, 2, "去！几点出发", true, true));
  add(1, Message17(103, 1, 5, "早上七点，北门集合", false, true));
  add(1, Message17(104, 1, 6, "好，我带水", true, false));
  add(1, Message17(105, 1, 8, "我的新地址是朝阳区望京街8号", false, true));
  add(1, Message17(106, 1, 9, "收到", true, true));
  add(1, Message17(108, 1, 12, "别忘了带雨衣", false, true));
  add(2, Message17(201, 3, 60, "大家好，这周六爬香山", false, true));
  // What the owner writes to a group carries no handle (handle_id 0).
  add(2, Message17(202, 0, 61, "我报名", true, true));
  add(2, Message17(203, 4, 62, "我也去", false, false));
  add(2, Message17(204, 0, 63, "我开车，能坐四个人", true, true));
  add(2, Message17(205, 2, 64, "那我坐你的车", false, false));
  add(2, Message17(206, 0, 65, "下次别叫他了", true, true));
  add(2, Message17(207, 3, 66,
                   "路线：从北门进，经过香炉峰、鬼见愁，再从东门下山，全程大约六公里，"
                   "中午在山顶野餐，大家自带午饭和水，记得穿防滑的鞋。",
                   false, true));
  add(2, Message17(210, 4, 70, "\xEF\xBF\xBC", false, false));
  add(3, Message17(301, 2, 120, "照片发你们了", false, true));
  add(3, Message17(302, 0, 121, "收到，拍得真好", true, true));
  add(4, Message17(401, 2, 180, "Dinner at 7?", false, true));
  add(4, Message17(402, 2, 181, "Sure, see you there. The contract is attached.", true, true));
  add(5, Message17(501, 5, 240, "验证码482913，五分钟内有效", false, false));
  add(5, Message17(502, 5, 241, "谢谢", true, true));
  std::int64_t attachmentRow = 1;
  std::int64_t created = kIos17Start - 978307200 + 5 * 60;
  for (const SampleAttachment& a : kIos17Attachments) {
    sql += InsertAttachmentSql({attachmentRow++, a.messageId, a.relativePath, a.mimeType, a.uti, a.totalBytes,
                                a.messageId == 402, created});
    created += 3600;
  }
  // Recently Deleted, a day later: two of the SMS peer's, one the owner sent
  // to the group, and the whole verification-code chat, whose chat row then
  // goes too.
  const std::int64_t deleted = At17(1440);
  sql += MoveToRecentlyDeletedSql(1, 105, deleted) + MoveToRecentlyDeletedSql(1, 106, deleted);
  sql += MoveToRecentlyDeletedSql(2, 206, deleted + 60000000000LL);
  sql += MoveToRecentlyDeletedSql(5, 501, deleted + 120000000000LL) +
         MoveToRecentlyDeletedSql(5, 502, deleted + 120000000000LL);
  sql += "DELETE FROM chat_handle_join WHERE chat_id = 5;DELETE FROM chat WHERE ROWID = 5;";
  // Purged: out of Recently Deleted too, the row is gone; its bytes stay.
  sql += "DELETE FROM chat_message_join WHERE message_id = 27;";
  sql += "COMMIT;";
  // The newest message, which a backup may still hold in sms.db-wal.
  std::string& recent = script.recentSql;
  std::swap(recent, sql);
  add(1, Message17(109, 1, 30, "我到北门了", true, true));
  std::swap(recent, sql);
  return script;
}

std::unique_ptr<SqliteFile> MakeSampleSmsDbIos17(SqliteFile::Journal journal) {
  const SmsDbScript script = SampleSmsDbIos17();
  return std::make_unique<SqliteFile>(script.setupSql, script.recentSql, journal);
}

}  // namespace sample
