#pragma once
// The messages of a WeChat account: each contact's conversation, read from
// the account's message database (DB/MM.sqlite, one table "Chat_<md5>" and
// one "ChatExt2_<md5>" per contact, <md5> the contact's userMd5), completed
// with deleted messages from the message search index (fts/fts_message.db)
// and from the session summaries (session/session.db and the files below
// session/data, wechat_session.h).
//
// Message tables come in two column orders, told by the first column:
//   column  order A ("TableVer" first)  order B ("CreateTime" first)
//   0       TableVer                    CreateTime
//   1       MesLocalID                  Des (direction)
//   2       MesSvrID                    ImgStatus
//   3       CreateTime                  MesLocalID
//   4       Message                     Message
//   5       Status                      MesSvrID
//   6       ImgStatus                   Status
//   7       Type                        TableVer
//   8       Des (direction)             Type
// Extension tables likewise: "MesLocalID" first (MesLocalID, msgFlag,
// ConIntRes2, ConIntRes3, MsgSource, MsgIdentify, ConStrRes1..3, ConIntRes1)
// or "ConIntRes1" first (ConIntRes1, ConIntRes2, ConIntRes3, ConStrRes1..3,
// MesLocalID, msgFlag, MsgIdentify, MsgSource).
//
// A table name is used only after it was found in the database's own table
// list, and then quoted; values reach SQL as bound parameters.
//
// Threads: everything here runs on the analysis worker inside
// CLocalUserList::AnalyseWxUsers; nothing locks. Afterwards the browser and
// the export only read the records until the account is reset.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "db/items.h"

namespace chat {

// Message types with a meaning here.
inline constexpr std::int32_t kWxMsgPicture = 3;
inline constexpr std::int32_t kWxMsgVideo = 43;
inline constexpr std::int32_t kWxMsgEmoji = -3;          // set when the text holds an emoji image URL
inline constexpr std::int32_t kWxMsgNoPlaceholder = 64;  // an unknown room member gets no placeholder contact
inline constexpr std::int32_t kWxMsgSystem = 10002;
inline constexpr std::int32_t kWxMsgUnknown = -1;        // made from the search index or a session summary

// Shown for a room member who is not among the account's contacts, followed
// by the room's display name.
inline constexpr char kWxLeftMemberPrefix[] = "已退群用户";
// User name of a contact known only by its number in the search index,
// filled with the number.
inline constexpr char kWxUnknownFriendFormat[] = "未知好友_%d";

// One row of a contact's extension table, kept with its message; not shown.
class DBITEM_WxChatExt2 : public db::BaseItem {
 public:
  std::int32_t localId = 0;  // MesLocalID: the message it belongs to
  std::int32_t msgFlag = 0;
  std::int32_t conIntRes2 = 0;
  std::int32_t conIntRes3 = 0;
  std::string msgSource;     // texts UTF-8
  std::string msgIdentify;
  std::string conStrRes1;
  std::string conStrRes2;
  std::string conStrRes3;
  std::int32_t conIntRes1 = 0;
};

// One row of the message search index: a message's text as indexed, which
// outlives the message itself. time is createTime.
class DBITEM_WxBakChatContent : public db::BaseItem {
 public:
  const std::string& Title() const override { return text; }
  const std::string& SearchText() const override { return text; }

  std::int32_t docId = 0;
  std::int32_t usernameId = 0;  // the conversation's number in the index
  std::int32_t localId = 0;
  std::int32_t createTime = 0;
  std::string text;             // UTF-8
};

// One message. time is createTime; sender is the contact, the account or
// SystemMessageContact(), never null once attached; parent is the
// conversation; deleted is 1 for a message made from deleted data.
class DBITEM_WxChat : public db::BaseItem {
 public:
  const std::string& Title() const override { return ShownText(); }
  const std::string& SearchText() const override { return ShownText(); }
  // The text as shown: the index record's when the message has no local ID
  // of its own (it was made from the index), else text.
  const std::string& ShownText() const;

  std::int32_t tableVer = 0;
  std::int32_t localId = -1;      // MesLocalID, the number within its table
  std::int32_t mesSvrId = 0;      // MesSvrID, kept
  std::int32_t createTime = 0;    // seconds since 1970
  std::string text;               // UTF-8, without a room member's "name:\n" prefix
  std::int32_t status = 0;        // Status, kept
  std::int32_t imgStatus = 0;     // ImgStatus, kept
  std::int32_t msgType = -1;
  std::int32_t direction = -1;    // 0 when the account sent it
  // The account's message database (its index in messageDbs) the row was
  // read from; -1 for a message made from the index or a session summary.
  std::int32_t sourceDb = -1;
  std::string mediaPath;          // stored picture or video file, or an emoji image URL
  std::unique_ptr<DBITEM_WxChatExt2> extension;
  std::unique_ptr<DBITEM_WxBakChatContent> indexRecord;
};

// The message's key in its conversation's messagesByKey: localId × 2^32;
// without a local ID, the index record's localId × 2^32 + createTime; else 0.
std::int64_t MessageKey(const DBITEM_WxChat& message);

// Table kinds of LoadContactMessages.
inline constexpr int kWxChatTable = 0;
inline constexpr int kWxChatExtTable = 1;
inline constexpr int kWxIndexTable = 2;

// Loads one table of the contact at contactIndex in account.contacts: 0 its
// messages ("Chat_<md5>" of every message database, in messageDbs order; a
// row that repeats a message read from another file is the same message and
// is dropped, SameMessageHash), 1 its extension rows ("ChatExt2_<md5>" of
// every message database, each given to the message of its local ID read
// from the same file; rows without one are dropped), 2 its search-index rows
// (fts_message_table_<ftsTableId>_content, through AttachIndexRecord).
// Returns 1 when a query ran, 0 when the readers, the contact or the tables
// are missing or no table could be read; a message table of fewer than nine
// columns gives no messages.
int LoadContactMessages(CWxLocalUser& account, std::size_t contactIndex, int table);

// What makes two rows of message tables one message, as a 64-bit hash: the
// server's ID with the time when the server gave one, else the time,
// direction and text (after a room member's "name:\n" prefix, so that a row
// and the message filed from it agree). Rows of one table are never taken
// for each other this way: only a row of another file, or one recovered from
// deleted data, repeats one.
std::size_t SameMessageHash(const DBITEM_WxChat& message);

// The message of every row left in the account's message databases and
// their write-ahead logs that is not among the live messages (deleted rows,
// free pages, older copies of rows), read with a layout made from the files'
// own Chat_<md5> columns. A row is a message when its text decodes and its
// time is not before WeChat's first day (a row whose end another cell was
// written over, or read from bytes that only look like a row's start, is
// not). A row goes to the conversation whose table owns the page it was
// found in; a row of a free page to the conversation that holds the same
// message made from the search index, else to "未知好友_0". A row that
// repeats a message of any conversation (SameMessageHash) is dropped; one
// that repeats a message made from the search index completes it. Recovered
// messages are deleted, those found only in a log marked kWal; their localId
// is the row's when the cell still tells it, else -1.
void RecoverDeletedMessages(CWxLocalUser& account);

// Files message into contact's conversation: sets time, the sender (by the
// message's direction, the contact's kind and a room member's "name:\n"
// prefix, which is removed), the media path of a picture or video, the
// emoji URL, and the lookup maps. The contact's ownedItems takes the
// message; items lists it last. A room member not among the account's
// contacts is registered as a placeholder friend named "已退群用户" + the
// room's name (not for type 64, whose sender is then the room).
void AttachMessage(DBITEM_WxFriend& contact, std::unique_ptr<DBITEM_WxChat> message);

// Ties a search-index record to contact's conversation: to the live message
// of its local ID and time, to a message recovered from a message file
// without its local ID whose text and time are the record's, or as a new
// deleted message (marked from the log as the record is). Returns 1 when it
// took record (emptied), 0 when the message has one already or a message
// with the record's key exists (the caller keeps and frees record).
int AttachIndexRecord(DBITEM_WxFriend& contact, std::unique_ptr<DBITEM_WxBakChatContent>& record);

// A new session item for path (a stored file), appended to the account's
// sessionItems and mapped by path; null when the file does not exist or the
// path is registered already. The account owns the item.
WxSessionItem* RegisterSessionFile(CWxLocalUser& account, const std::string& path);

// Reads every session item's file: its conversation (created as a deleted
// contact when unknown, its display name updated), sender and last message;
// a last message the conversation does not hold becomes a deleted message.
// Files that cannot be opened or are larger than a session file can be are
// skipped.
void ReadSessionFiles(CWxLocalUser& account);

// Ties the search-index records recovered from deleted rows (ftsContents)
// to conversations: by their contact number, else by the text of a session
// item's message, else to a new contact "未知好友_<number>" (kind 5).
// Empties ftsContents.
void MatchIndexRecords(CWxLocalUser& account);

// The HTML markup the chat page and the preview show for a message text:
// an article message (items with a title and a link) as its link rows,
// numbered "1.", "<br/>2." ... when it has more than one; any other text
// escaped, line breaks as "<br/>".
std::string RenderAppMessage(const std::string& text);

// --- used by the account's readers ---------------------------------------

// CTencentWXDB::ParseRow for the message, session and search-index
// databases: message rows (openParam 1) and search-index contents (3, kind
// 1) are handed back; session rows (2, kind 0) and contact numbers (3, kind
// 0) are registered with the reader's owner and nothing is handed back.
void ParseWxDatabaseRow(CTencentWXDB& reader, int tableKind, std::unique_ptr<db::BaseItem>& out,
                        db::CppSQLite3Query& query);

// A live row of the session table: its file (the account's folder followed
// by ConStrRes1) registered as a session item with the row's UsrName and
// CreateTime.
void ReadSessionRow(CWxLocalUser& account, const db::CppSQLite3Query& query);
// Loads the session table and the session rows left deleted in the file and
// its write-ahead log, registering their files (OpenAccountDatabases, session
// step; a file first registered from a row of the log is marked fromWal).
// progressShare 0.1 is spread over the deleted rows.
void LoadSessionSummaries(CWxLocalUser& account);
// Registers the files found below session/data (sessionFilePaths).
void RegisterSessionFilesWithoutRow(CWxLocalUser& account);
// Loads the search index's contact numbers and recovers its deleted rows:
// contact numbers, and contents into ftsContents (those found only in the
// write-ahead log marked kWal).
void LoadSearchIndex(CWxLocalUser& account);

}  // namespace chat
