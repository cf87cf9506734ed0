#pragma once
// CMessageDB: the phone's message database (sms.db, SMS and iMessage). One
// conversation per peer address, every message filed under its conversation,
// the messages rebuilt from deleted rows of the same file added in front of
// the live ones, and the messages' CSV lines for the export.
//
// It reads both message layouts that share the column names used here: iOS 7
// to 10 (dates in seconds, a handle table of five columns) and iOS 11 on
// (dates in nanoseconds, a handle table of six columns and more).
//
// Threads: Open runs on the analysis worker. Afterwards the records are only
// read (by the browser and the recovery run) until the reader is destroyed.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/db_sqlite.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class CExportWriter;
}

namespace readers {

class CAddressBookDB;

// One message. Texts are UTF-8.
class DBITEM_Message : public db::BaseItem {
 public:
  const std::string& Title() const override { return address; }
  const std::string& SearchText() const override { return text; }

  std::int32_t rowId = -1;  // the message ROWID; -1 for a recovered row
  std::string guid;
  std::string text;
  std::int32_t handleId = 0;
  std::string account;
  std::int32_t isSent = 0;  // 0 when NULL
  std::string destinationCallerId;
  std::string handleText;  // the handle's id column
  std::string address;     // the peer: uncanonicalized_id, else handleText
  // time: the message date as Unix seconds (db::UnixFromAppleDate)
};

// One handle row, as the handle lookups hand it back.
class DBITEM_handle : public db::BaseItem {
 public:
  const std::string& Title() const override { return address; }
  const std::string& SearchText() const override { return address; }

  std::string address;  // uncanonicalized_id, else id
};

// One conversation: the messages exchanged with one peer address. It owns its
// messages; items lists them in order (recovered ones first, in the order the
// scan found them, then the live ones in query order).
class DBITEM_MsgFriend : public db::FriendItem {
 public:
  const std::string& Title() const override { return name; }
  const std::string& SearchText() const override { return name; }

  // Files a message at the front of items (a recovered one) or at the end,
  // and takes ownership of it. Returns the message, now owned here.
  DBITEM_Message* File(std::unique_ptr<DBITEM_Message> message, bool atFront);
  // Files messages in front of items, in the order given, and takes
  // ownership of them (db::PrependOwned).
  void FileAtFront(std::vector<std::unique_ptr<DBITEM_Message>> messages);

  std::string name;     // the contact's display name, else the address
  std::string address;  // the key the conversation was created for
  std::int32_t reservedInt = 0;  // no use in this system
  std::int32_t deletedMessageCount = 0;
  // time: the time of the message filed last; deleted: 1 once a recovered
  // message was filed here.

 private:
  std::vector<std::unique_ptr<DBITEM_Message>> messages_;  // what items points to
};

// Table kinds of the message reader.
inline constexpr int kMessageJoinKind = 0;  // message inner join handle
inline constexpr int kHandleKind = 1;       // handle
// The scanner layout of the message table.
inline constexpr int kMessageLayout = 8;
// Name of the conversation that authors every sent message.
inline constexpr char kOwnNumberName[] = "本机号码";

class CMessageDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index; contacts: names the peers
  // through FindContactByNumber. Neither is owned, either may be null
  // (without contacts every conversation is named by its address); contacts
  // must outlive Open.
  explicit CMessageDB(backup::CFileListDB* index = nullptr, const CAddressBookDB* contacts = nullptr);
  ~CMessageDB() override;

  std::string GetTableName(int tableKind) override;
  // Kind 0 files a message under its conversation and hands back nothing;
  // kind 1 hands back a DBITEM_handle.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the live messages, recovers the deleted ones and files both into
  // conversations; a second Open starts from nothing again. Returns the
  // base's status when the database cannot be opened (no conversations
  // then), else ok, also when the live query failed part way (what was read
  // stays; damage is in Problems()).
  base::Status Open(const std::string& path, int param) override;

  // The conversations, those holding recovered messages first: the record
  // browser's list for the messages category. Owned here.
  const std::vector<std::unique_ptr<DBITEM_MsgFriend>>& Conversations() const { return conversations_; }
  // The conversation that authors every sent message ("本机号码"). It is
  // never listed among the conversations and holds no messages. Each reader
  // has its own (one reader per analysis), so two analyses never share it.
  const DBITEM_MsgFriend& OwnNumberFriend() const { return *ownNumberFriend_; }
  // Columns of the message table as the live query saw them: the joined
  // columns less the handle table's. 0 before Open and when the live query
  // failed (then nothing is recovered either).
  int MessageColumnCount() const { return messageColumnCount_; }

 private:
  void Reset();
  DBITEM_MsgFriend& ConversationFor(const std::string& address);
  // Links a message to its conversation (made when new); the caller records
  // its key and guid and files it.
  DBITEM_MsgFriend& PrepareForFiling(DBITEM_Message& message);
  void AddToConversation(std::unique_ptr<DBITEM_Message> message);
  void RecoverDeletedMessages();
  void MergeDeletedMessages();

  // The analysis's index, kept for lookups of the files a record names.
  [[maybe_unused]] backup::CFileListDB* index_;
  const CAddressBookDB* contacts_;
  std::unique_ptr<DBITEM_MsgFriend> ownNumberFriend_;
  std::unordered_map<std::string, DBITEM_Message*> messageByKey_;
  std::unordered_set<std::string> knownGuids_;  // of the messages filed so far
  std::unordered_map<std::string, DBITEM_MsgFriend*> conversationByAddress_;
  std::vector<std::unique_ptr<DBITEM_Message>> recoveredMessages_;
  int messageColumnCount_ = 0;
  std::vector<std::unique_ptr<DBITEM_MsgFriend>> conversations_;
};

// The duplicate filter's key of a message: its time (six decimals), handle
// and first 80 characters (UTF-16 units) of text. Two messages with the same
// key are taken to be copies of one message.
std::string MessageKey(const DBITEM_Message& message);

// Writes the header "名称,日期,类型,内容" and one line per message of every
// conversation in selection (in order; entries that are not conversations of
// this reader are passed over), each with the message's deleted flag.
void WriteMessagesCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection);

}  // namespace readers
