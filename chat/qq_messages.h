#pragma once
// QQ messages: the live rows of an account's message tables (one-to-one
// "tb_c2cMsg_<peer>", group "tb_TroopMsg_<group>"), the rows of its message
// search index, and the messages rebuilt from deleted rows of both
// databases, filed into the account's conversations (qq_account.h).
//
// A table name read from the data is used only after it was found in the
// database's own table list, and then quoted as an identifier.
//
// Threads: the analysis worker files the messages; afterwards the browser
// and the export only read them. RenderQqMessage is stateless and may be
// called from any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "chat/qq_account.h"
#include "db/cppsqlite3.h"
#include "db/items.h"

namespace chat {

// msgType of a picture message: it shows the placeholder picture.
inline constexpr std::int32_t kQqMsgPicture = 1;
// Conversation of recovered messages that name none, filled with the
// account's contact count at the time.
inline constexpr char kQqUnknownConversationFormat[] = "未知用户_%d";

// One QQ message. time is sendTime; sender is the account, a contact or
// QqUnknownUser(), never null once filed; parent and conversation are the
// conversation it was filed into; deleted is 1 for a message from deleted
// data or from the search index alone. Texts are UTF-8.
class DBITEM_QqChat : public db::BaseItem {
 public:
  const std::string& Title() const override { return content; }
  const std::string& SearchText() const override { return content; }

  std::int32_t docId = 0;            // search-index row number
  std::int32_t msgId = -1;
  std::string senderUin;             // the sender's number (one-to-one: the "uin" column)
  std::int32_t sendTime = 0;         // seconds since 1970
  std::int32_t msgType = 0;          // kQqMsgPicture marks a picture
  std::int32_t flag = 0;             // one-to-one: 0 when the account sent it
  std::string nickName;              // the sender's nickname in a group
  std::string content;
  std::string conversationUin;       // the conversation's number, from the index or a deleted row
  std::int32_t isDeletedColumn = 0;  // the index's deletion column, kept
  std::string mediaPath;             // a picture's image: the placeholder picture of the skin
  DBITEM_QqFriend* conversation = nullptr;  // not owned
};

// The key of a message within a conversation and an account: senderUin,
// sendTime in decimal, content.
std::string QqMessageKey(const DBITEM_QqChat& message);

// Files message into conversation: returns 0 when the conversation holds a
// message of the same key already (message is left with the caller, who
// drops it); else 1, and conversation's ownedItems took the message (the
// pointer is emptied). The sender is the account for a message of a friend
// conversation with flag 0, else the contact of senderUin (registered with
// the account when new, named by the message's nickname or its nickname
// file), else QqUnknownUser(). markDeleted, or a conversation known only
// from deleted data, marks the message deleted. A picture gets the skin's
// placeholder picture as mediaPath, whether or not that file is there.
int AttachQqMessage(DBITEM_QqFriend& conversation, std::unique_ptr<DBITEM_QqChat>& message, bool markDeleted);

// The HTML markup the chat page and the preview show for a message text.
// A shared article (a "<msg " element with url="..." attributes, a
// "<pushmail" with them, or "<digest>"/"<url>" items) becomes its link rows,
// numbered "1.", "<br/>2." ... when it has more than one item; any other
// text is escaped as HTML.
std::string RenderQqMessage(const std::string& text);

// --- used by the account's readers ---------------------------------------

// A message row of QQ.db (kind 2 one-to-one, kind 3 group) read by column
// name; null for another kind.
std::unique_ptr<DBITEM_QqChat> ReadQqMessageRow(int tableKind, const db::CppSQLite3Query& query);
// A row of the search index (any of its three tables), filed into the
// conversation of its conversation number (a new contact known only from
// the index when unknown) as a deleted message, unless it repeats one.
void FileQqIndexRow(CQqLocalUser& account, int tableKind, const db::CppSQLite3Query& query);
// Loads the one-to-one and the group table of every listed contact.
void LoadQqConversations(CQqLocalUser& account);
// Rebuilds messages from deleted rows of the account's search index and
// message database and of their write-ahead logs (those of its readers that
// were opened; rows found only in a log are marked kWal), and files them from
// the last found to the first: a row of a message table's page into that
// table's conversation, any other into the conversation it names. Rows that
// do not look like messages (texts that do not decode, a time outside QQ's
// years, a sender that is no number) and repeats of the account's messages
// are dropped. docs/formats/qq.md tells the layouts and rules.
void RecoverQqDeletedMessages(CQqLocalUser& account);

}  // namespace chat
