#pragma once
// CMessageDB: the phone's message database (sms.db, SMS and iMessage). One
// conversation per chat (one-to-one or group), every message filed under its
// conversation with its attachments, the messages the owner deleted marked
// so (those the phone still keeps in Recently Deleted, and those rebuilt
// from deleted rows of the file, which come in front of the live ones), and
// the messages' CSV lines for the export.
//
// The chat decides the conversation: chat_message_join links a message to
// its chat, chat_recoverable_message_join (iOS 16 on) links a message the
// owner deleted within the last month, with the deletion date. A one-to-one
// chat is the conversation of its peer's address, so the SMS and iMessage
// chats with one person make one conversation; a group chat is a
// conversation of its own, named by its display_name or else its members.
// A message no chat links (stores without chats, links lost) and every
// rebuilt message go to the conversation of their handle's address.
//
// Columns are read by name; the text is the text column, or where that is
// empty (iOS 16 on, often) the archived attributedBody. Deleted rows are
// looked for in the file and in the frames of its write-ahead log with the
// layout made from the table's live shape (readers/live_table.h) and read
// by column name; only iOS 7's 38-column table keeps the numbered layout
// made for it, read by position after its names were checked.
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
#include "readers/sms_attachments.h"

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

  std::int32_t rowId = -1;  // the message ROWID (a rebuilt row keeps the one it had)
  std::string guid;
  std::string text;         // the text column, else the text of attributedBody
  std::int32_t handleId = 0;  // 0 for what the owner sent to a group
  std::string account;
  std::int32_t isSent = 0;  // 1 when the owner sent it (is_from_me or is_sent)
  std::string destinationCallerId;
  std::string handleText;  // the handle's id column
  std::string address;     // the handle's address (who wrote it, in a group), else the conversation's
  // The files sent with it, in the order the database lists them; owned by
  // the reader.
  std::vector<const DBITEM_SmsAttachment*> attachments;
  // time: the message date as Unix seconds (db::UnixFromAppleDate);
  // deletedFrom: Recently Deleted (deletedAt set), free space (rebuilt from
  // the file) or the write-ahead log (rebuilt from an older frame only).
};

// One conversation: the messages of one chat (one peer address, or a group).
// It owns its messages; items lists them in order (rebuilt ones first, in
// the order the scan found them, then the live ones, Recently Deleted among
// them, in table order).
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

  std::string name;     // the contact's display name, else the address; a group's name
  std::string address;  // the key the conversation was created for: the peer's address, a group's chat guid
  std::int32_t reservedInt = 0;  // no use in this system
  std::int32_t deletedMessageCount = 0;  // rebuilt and Recently Deleted messages
  bool isGroup = false;
  std::vector<std::string> members;  // a group's members by name, in chat_handle_join order
  // time: the time of the message filed last; deleted: 1 once a recovered
  // message was filed here.

 private:
  std::vector<std::unique_ptr<DBITEM_Message>> messages_;  // what items points to
};

// Table kinds of the message reader.
inline constexpr int kMessageKind = 0;          // message
inline constexpr int kHandleKind = 1;           // handle
inline constexpr int kChatKind = 2;             // chat
inline constexpr int kChatMemberKind = 3;       // chat_handle_join
inline constexpr int kChatMessageKind = 4;      // chat_message_join
inline constexpr int kRecoverableKind = 5;      // chat_recoverable_message_join
inline constexpr int kSmsAttachmentKind = 6;    // attachment with message_attachment_join
// The scanner layout of iOS 7's message table (38 columns, dates in seconds).
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
  // Kind 0 files a message under its conversation; kinds 1 to 6 (the
  // handles, the chats, their links and the attachments) are kept by the
  // reader for the filing. No kind hands back a record.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the live messages, recovers the deleted ones and files both into
  // conversations; a second Open starts from nothing again. Returns the
  // base's status when the database cannot be opened (no conversations
  // then), else ok, also when the live query failed part way (what was read
  // stays; damage is in Problems()).
  base::Status Open(const std::string& path, int param) override;

  // The conversations, those holding deleted messages first (those with
  // rebuilt ones before the others): the record browser's list for the
  // messages category. Owned here.
  const std::vector<std::unique_ptr<DBITEM_MsgFriend>>& Conversations() const { return conversations_; }
  // The conversation that authors every sent message ("本机号码"). It is
  // never listed among the conversations and holds no messages. Each reader
  // has its own (one reader per analysis), so two analyses never share it.
  const DBITEM_MsgFriend& OwnNumberFriend() const { return *ownNumberFriend_; }
  // Columns of the message table as the live query saw them. 0 before Open
  // and when the live query failed (then nothing is recovered either).
  int MessageColumnCount() const { return messageColumnCount_; }

 private:
  struct Handle {
    std::string address;  // uncanonicalized_id, else id
    std::string id;
  };
  struct Chat {
    std::string guid;
    std::string identifier;
    std::string displayName;
    std::int32_t style = 0;
    std::vector<std::int64_t> members;  // handle rows
  };
  // Where a message was linked: its chat, and for one in Recently Deleted
  // when the owner deleted it.
  struct ChatLink {
    std::int64_t chatId = 0;
    double deletedAt = 0;
  };
  // Positions of the message columns read, found once per query.
  struct MessageColumns {
    int rowId, guid, text, attributedBody, handleId, account, date, isSent, isFromMe, destinationCallerId;
  };

  void Reset();
  void LoadChats();
  void LoadAttachments();
  void ParseMessageRow(db::CppSQLite3Query& query);
  bool IsGroup(const Chat& chat) const;
  const std::string& HandleAddress(std::int64_t handleId) const;
  // The conversation of an address (made when new, named through the
  // contacts) and of a group chat.
  DBITEM_MsgFriend& ConversationFor(const std::string& address);
  DBITEM_MsgFriend& GroupConversationFor(std::int64_t chatId, const Chat& chat);
  // The name a person is shown by: the contact's display name, else the
  // address.
  std::string NameOf(const std::string& address) const;
  // The author of a message received in a group (made when new).
  DBITEM_MsgFriend* MemberFor(const std::string& address);
  // Links a message to its conversation (its chat when it has one, else its
  // handle's address), sets its sender and address; the caller records its
  // key and guid and files it.
  DBITEM_MsgFriend& PrepareForFiling(DBITEM_Message& message, const ChatLink* link);
  void AddToConversation(std::unique_ptr<DBITEM_Message> message);
  void LinkAttachments(DBITEM_Message& message) const;
  void RecoverDeletedMessages();
  void MergeDeletedMessages();

  // The analysis's index: where the attachment files are looked up.
  backup::CFileListDB* index_;
  const CAddressBookDB* contacts_;
  std::unique_ptr<DBITEM_MsgFriend> ownNumberFriend_;
  std::unordered_map<std::string, DBITEM_Message*> messageByKey_;
  std::unordered_set<std::string> knownGuids_;  // of the messages filed so far
  std::unordered_map<std::string, DBITEM_MsgFriend*> conversationByAddress_;
  std::unordered_map<std::int64_t, DBITEM_MsgFriend*> conversationByChat_;
  std::unordered_map<std::string, std::unique_ptr<DBITEM_MsgFriend>> members_;
  std::unordered_map<std::int64_t, Handle> handles_;
  std::unordered_map<std::int64_t, Chat> chats_;
  std::unordered_map<std::int64_t, ChatLink> chatOfMessage_;
  std::unordered_map<std::int64_t, ChatLink> recentlyDeleted_;
  std::vector<std::unique_ptr<DBITEM_SmsAttachment>> attachments_;  // by message, then row
  std::unordered_map<std::int64_t, std::vector<const DBITEM_SmsAttachment*>> attachmentsOf_;
  MessageColumns columns_{};
  bool columnsFound_ = false;
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
// this reader are passed over), each with the message's deleted flag. When
// the writer has a folder, the attachment files the backup holds are copied
// to "网页格式/附件" and the HTML row of their message shows (a picture) or
// links them; an attachment without its file is named in the row.
void WriteMessagesCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection);

}  // namespace readers
