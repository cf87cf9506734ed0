#pragma once
// Sample WeChat messages for the message reader's tests and the demo backup:
// the contact tables of DB/MM.sqlite ("Chat_<md5>" in both column orders,
// "ChatExt2_<md5>" in both), the session summaries (session/session.db and
// the files below session/data in the app's binary form), the message search
// index (fts/fts_message.db) and media files, with live and deleted rows.
//
// The tables are shaped so that the deleted-row scanner finds their deleted
// rows: SessionAbstract has 7 columns (UsrName, CreateTime, ConIntRes1,
// ConIntRes2, ConIntRes3, ConStrRes1, ConStrRes2: layout 19),
// fts_username_id 6 (usernameid as row id, a 0/1 flag, UsrName, tableid and
// two small numbers: layout 2) and each fts_message_table_<n>_content 8
// (docid as row id, c0usernameid >= 1, c1MesLocalID >= 1, c2CreateTime a
// 4-byte time, c3Message, a 0/1 flag, two NULLs: layout 1). SQLite writes
// a free-block header over the first 4 bytes of a deleted row, so the
// samples' deleted rows are shaped to keep what the scan needs past them
// (see the comments at each).
//
// Everything here builds SQL texts or bytes; SqliteFile (sample_backup.h)
// runs the SQL. Functions are pure and may be called from any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "testing/sample_backup.h"

namespace sample {

// The two column orders of a message table (see chat/wechat_messages.h).
enum class WxChatOrder { kTableVerFirst, kCreateTimeFirst };
// The two column orders of an extension table.
enum class WxChatExtOrder { kLocalIdFirst, kConIntRes1First };

struct WxChatRow {
  int localId = 1;
  std::int64_t createTime = 1600000000;
  std::string text;
  int type = 1;
  int direction = 1;  // Des: 0 sent by the account
  std::int64_t serverId = 0;
  int status = 2;
  int imgStatus = 1;
  int tableVer = 1;
};

// Table "Chat_<userMd5>" of the order and its rows.
std::string WxChatTableSql(const std::string& userMd5, WxChatOrder order);
std::string InsertWxChatSql(const std::string& userMd5, const WxChatRow& row, WxChatOrder order);
std::string DeleteWxChatSql(const std::string& userMd5, int localId);
// Table "ChatExt2_<userMd5>" of the order and one row for a message.
std::string WxChatExtTableSql(const std::string& userMd5, WxChatExtOrder order);
std::string InsertWxChatExtSql(const std::string& userMd5, int localId, const std::string& msgSource,
                               WxChatExtOrder order);

// session.db: the table and its rows; path is relative to the account's
// folder and begins with "/".
std::string WxSessionTableSql();
std::string InsertWxSessionSql(const std::string& userName, std::int64_t createTime, const std::string& path);
std::string DeleteWxSessionSql(const std::string& userName);

// A session summary file: field 0x0A the conversation's user name, a 0x12
// field holding the 08 00 10 marker block (16 bytes and a text), 0x22 the
// display name, a number field (0x48), 0x52 the sender, 0x5A the last
// message. Texts shorter than 128 bytes.
struct WxSessionFile {
  std::string userName;
  std::string displayName;
  std::string senderName;
  std::string text;
};
std::vector<std::uint8_t> WxSessionFileBytes(const WxSessionFile& file);
// Where the app keeps a conversation's summary, relative to the account's
// folder: "/session/data/<first two digits of md5>/<md5>".
std::string WxSessionFilePath(const std::string& userMd5);

// fts_message.db: fts_username_id and the content tables 0 .. tableCount-1.
std::string WxIndexTablesSql(int tableCount);
std::string InsertWxIndexNameSql(int usernameId, const std::string& userName, int tableId);
struct WxIndexContent {
  int tableId = 0;
  int usernameId = 1;
  int localId = 1;
  std::int64_t createTime = 1600000000;
  std::string text;
};
std::string InsertWxIndexContentSql(const WxIndexContent& row);
std::string DeleteWxIndexContentSql(const WxIndexContent& row);

// What the built-in account (wxid_velmora01) holds besides its contacts:
//   wxid_wangfang, order A: 5 live messages (text, sent by the account, a
//     picture with its file Img/<md5>/3.pic, an emoji whose URL attribute
//     has a blank before "=", a picture without a file), message 6 deleted
//     and recoverable only from the search index; its session file ends
//     with a new text ("明天见！", a deleted message).
//   20200101@chatroom, order B: member-prefixed texts from wxid_wangfang and
//     from wxid_left99 (no longer a contact: a "已退群用户" placeholder), a
//     system message (10002), the account's "收到" (also the session file's
//     last text: no new message), a type-64 text from an unknown member.
//   zhangwei88: no message table; a deleted session row whose file ends
//     with "改天再约".
//   wxid_member2: a session file without a row ("下次带上我"), tied by its
//     text to a deleted index row of number 7.
//   wxid_gone: an index name row (number 5) left in the file when the name
//     table was rebuilt without it, and a deleted content row "再见了".
//   number 9: a deleted content row of no known contact ("未知好友_9").
std::string WxSampleMessagesSql();
std::string WxSampleSessionsSql();
std::string WxSampleIndexSql();
// Adds the session.db, session files, fts_message.db and media files of the
// built-in account below Documents/<accountMd5>/.
void AddWxSampleMessageFiles(SampleBackupBuilder& builder, const std::string& accountMd5);

}  // namespace sample
