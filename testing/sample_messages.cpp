#include "testing/sample_messages.h"

#include <cstdio>
#include <vector>

#include "testing/ios_schemas.h"
#include "testing/sql_literal.h"

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

// The phone keeps the body a second time as an archived attributed string
// (a "streamtyped" archive); its size matters for where records fall in the
// pages, its exact contents do not to the reader.
std::string AttributedBody(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(96 + text.size());  // one allocation; also keeps g++ 12 -O3 from a false overflow warning
  bytes.push_back(0x04);
  bytes.push_back(0x0B);
  const std::string head = "streamtyped";
  bytes.insert(bytes.end(), head.begin(), head.end());
  const std::uint8_t middle[] = {0x81, 0xE8, 0x03, 0x84, 0x01, 0x40, 0x84, 0x84, 0x84, 0x12};
  bytes.insert(bytes.end(), std::begin(middle), std::end(middle));
  const std::string cls = "NSAttributedString";
  bytes.insert(bytes.end(), cls.begin(), cls.end());
  const std::uint8_t string[] = {0x00, 0x84, 0x84, 0x08, 'N', 'S', 'O', 'b', 'j', 'e', 'c', 't',
                                 0x00, 0x85, 0x92, 0x84, 0x84, 0x84, 0x08, 'N', 'S', 'S', 't', 'r',
                                 'i', 'n', 'g', 0x01, 0x94, 0x84, 0x01, 0x2B};
  bytes.insert(bytes.end(), std::begin(string), std::end(string));
  bytes.push_back(static_cast<std::uint8_t>(text.size() < 0x80 ? text.size() : 0x7F));
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.insert(bytes.end(), {0x86, 0x84, 0x02, 0x69, 0x49, 0x01});
  return SqlBlob(bytes);
}

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
  const bool withCaller = layout == SmsLayout::kIos14;
  return std::string("INSERT INTO message (ROWID, guid, text, handle_id, attributedBody, version, service, account, "
         "account_guid, date, date_read, date_delivered, is_delivered, is_finished, is_from_me, is_read, "
         "is_sent") + (withCaller ? ", destination_caller_id" : "") + ") VALUES (" +
         Int(m.rowId) + ", " + SqlText(guid) + ", " + SqlText(m.text) + ", " + Int(m.handleId) + ", " +
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

}  // namespace sample
