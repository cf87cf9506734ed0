#pragma once
// CWhatsAppDB: WhatsApp's chat database (ChatStorage.sqlite). Every row of
// its message table ZWAMESSAGE becomes a message, the messages are grouped
// into conversations by the peer address they were sent to (ZTOJID), and the
// messages rebuilt from deleted rows of the same file and of its
// write-ahead log are filed into the same conversations, in front of the
// live ones. It also writes the CSV lines of the ticked conversations for
// the export.
//
// Deleted rows are looked for with layout kWhatsAppMessageLayout where the
// table has the iOS 15 shape it was made for, else with a layout made from
// the table's live shape (readers/live_table.h); either way a row's values
// are taken by column name, and only rows on the table's own pages or on
// free pages count. A rebuilt row is a message when its stanza id is a
// text, its date one the app could have written and its texts decode; it is
// dropped when it repeats a live or an already kept message (MessageKey, or
// the same stanza id: an older version of a message).
//
// The reader knows no accounts, contact names or media: a conversation is
// named by its peer address, a message carries its text, time, addresses and
// direction flag only. Newer app versions key a chat by an opaque
// "<number>@lid" identifier instead of the phone number; the phone number of
// each is in table ZWAPHONENUMBERLIDPAIR (ZLID, ZPHONENUMBER), kept in
// ChatStorage.sqlite itself or in LID.sqlite beside it (see
// docs/formats/whatsapp_lid.md). Such a chat is named by that number.
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

namespace exporting {
class CExportWriter;
}

namespace chat {

// One message. Texts are UTF-8.
class DBITEM_WhatsApp : public db::BaseItem {
 public:
  const std::string& Title() const override { return toJid; }
  const std::string& SearchText() const override { return text; }

  std::int32_t rowId = -1;   // Z_PK; -1 for a recovered row (the key is not in the record)
  std::int32_t isFromMe = 0; // ZISFROMME as stored: 1 for a message this phone sent
  std::string text;          // ZTEXT
  std::string fromJid;       // ZFROMJID, or "未知用户" when it has none
  std::string pushName;      // ZPUSHNAME, the sender's name as sent with the message
  std::string stanzaId;      // ZSTANZAID, the message's own identifier; "" when the table has none
  std::string toJid;         // the peer, the key of the conversation: ZTOJID, else ZFROMJID, else pushName
  // time: ZMESSAGEDATE (seconds since 2001) cut to whole seconds, as Unix
  // seconds; 0 when the row has no date. deleted: 1 when rebuilt from
  // deleted rows; deletedFrom kWal when found only in the write-ahead log.
  // sender and parent are not set.
};

// One conversation: the messages whose toJid is jid. It owns its messages;
// items lists them in order: the recovered ones first, in the order the scan
// found them, then the live ones in table order.
class DBITEM_WhatsAppFriend : public db::FriendItem {
 public:
  // The phone number of an "@lid" chat whose number is known, else jid.
  const std::string& Title() const override { return phoneNumber.empty() ? jid : phoneNumber; }
  const std::string& SearchText() const override { return Title(); }

  // Files a message at the end of items, takes ownership of it, and makes
  // the conversation's time the message's. Returns the message, now owned
  // here.
  DBITEM_WhatsApp* Append(std::unique_ptr<DBITEM_WhatsApp> message);
  // Files messages in front of items in the order given (the first given
  // becomes the first item) and takes ownership of them. Leaves time, deleted
  // and deletedMessageCount to the caller.
  void Prepend(std::vector<std::unique_ptr<DBITEM_WhatsApp>> messages);

  std::string jid;
  std::string phoneNumber;  // for a jid ending in "@lid": ZPHONENUMBER of its pair row as stored; else empty
  std::int32_t deletedMessageCount = 0;  // messages rebuilt from deleted rows
  // time: the time of the message filed last; deleted: 1 once it holds a
  // recovered message. kind and deletedCount are not used.

 private:
  std::vector<std::unique_ptr<DBITEM_WhatsApp>> messages_;  // what items points to
};

// Table kinds of the reader.
inline constexpr int kWhatsAppMessageKind = 0;  // ZWAMESSAGE
inline constexpr int kWhatsAppLidPairKind = 1;  // ZWAPHONENUMBERLIDPAIR
// Open params: the chat database, or LID.sqlite (its lid pairs only).
inline constexpr int kWhatsAppChatStore = 0;
inline constexpr int kWhatsAppLidStore = 1;
// The scanner layout of ZWAMESSAGE and its column count on iOS 15, the one
// shape the layout is used for.
inline constexpr int kWhatsAppMessageLayout = 17;
inline constexpr int kWhatsAppMessageColumns = 34;
// The sender address of a message that has none.
inline constexpr char kUnknownSender[] = "未知用户";

class CWhatsAppDB : public db::CDbSqlite {
 public:
  CWhatsAppDB();
  ~CWhatsAppDB() override;

  // "ZWAMESSAGE" for kind 0 while openParam is kWhatsAppChatStore;
  // "ZWAPHONENUMBERLIDPAIR" for kind 1 with either param; else "".
  std::string GetTableName(int tableKind) override;
  // Kind 0 files a message into its conversation, kind 1 notes one lid pair;
  // both hand back nothing.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // With kWhatsAppChatStore: loads the live messages, recovers the deleted
  // ones from the same file and files both into conversations, then reads
  // the file's lid pairs and names the "@lid" conversations by them. With
  // kWhatsAppLidStore: reads the lid pairs only. Every Open starts from
  // nothing. Returns the base's status when the database cannot be opened (no
  // conversations then), else ok, also when a table is missing or was read
  // only part way (what was read stays). Any other param loads nothing.
  base::Status Open(const std::string& path, int param) override;

  // The lid pairs the last Open read: "<number>@lid" (ZLID, "@lid" added
  // when it has no server part) -> ZPHONENUMBER as stored. A lid listed twice
  // keeps its first number; a row without either is passed over.
  const std::map<std::string, std::string>& PhoneNumbersByLid() const { return phoneByLid_; }
  // Sets the phoneNumber of every conversation whose jid ends in "@lid",
  // has none yet and is in phoneByLid (LID.sqlite's pairs, after the
  // store's own).
  void NameLidConversations(const std::map<std::string, std::string>& phoneByLid);

  // The conversations, those holding recovered messages first: the record
  // browser's list for the WhatsApp category. Owned here.
  const std::vector<std::unique_ptr<DBITEM_WhatsAppFriend>>& Conversations() const { return conversations_; }
  // Columns of ZWAMESSAGE as the live load saw them; 0 before Open and when
  // the table could not be read (then nothing is recovered either).
  int MessageColumnCount() const { return columnCount_; }

 private:
  void Reset();
  // The conversation of jid, made at the end of the list when there is none.
  DBITEM_WhatsAppFriend& ConversationFor(const std::string& jid);
  void AddLiveMessage(std::unique_ptr<DBITEM_WhatsApp> message);
  void RecoverDeletedMessages();
  void MergeRecoveredMessages();

  std::unordered_set<std::string> messageKeys_;  // MessageKey of every message filed
  std::unordered_set<std::string> stanzaIds_;    // stanza ids of every message filed
  std::unordered_map<std::string, DBITEM_WhatsAppFriend*> conversationByJid_;
  std::vector<std::unique_ptr<DBITEM_WhatsApp>> recoveredMessages_;  // in scan order, only inside Open
  std::map<std::string, std::string> phoneByLid_;
  int columnCount_ = 0;
  std::vector<std::unique_ptr<DBITEM_WhatsAppFriend>> conversations_;
};

// The duplicate filter's key of a message: its time with six decimals
// followed by the first 80 characters (UTF-16 units) of its text; time 60 and
// text "hi" give "60.000000hi". Two messages with one key are taken to be
// copies of one message.
std::string MessageKey(const DBITEM_WhatsApp& message);

// The export step of the WhatsApp category, on a writer whose category was
// begun: BeginList with the number of conversations in selection, the header
// "名称,日期,类型,内容", then one line per message of every conversation in
// order ("name,date,发送 or 接收,quoted text", the name being the
// conversation's Title: its phone number or jid), each with the message's deleted
// flag. Entries of selection that are not WhatsApp conversations are passed
// over. The caller calls Finish.
void WriteWhatsAppCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection);

}  // namespace chat
