#pragma once
// QQ and TIM accounts: one CQqLocalUser per account listed in the app's
// account archive, with its contacts and groups, read from the account's
// message database and its message search index. TIM is QQ's office
// variant and keeps the same files in its own domain.
//
// Files, relative to the app's domain:
//   Documents/QQAccountsManager        the account archive (a keyed archive)
//   .../<uin>/QQ.db                    messages: tb_c2cTables, tb_TroopMsgSeq,
//                                      tb_c2cMsg_<peer>, tb_TroopMsg_<group>
//   .../<uin>/FTSMsg.db                search index: tb_Index_c2cMsg_content,
//                                      tb_Index_TroopMsg_content,
//                                      tb_Index_discussGrp_content
//   ...<number>.plist                  a contact's nickname (keyed archive)
// Current builds ("QQ NT") keep an account's chats in
//   Documents/QQNT/DB/nt_db/nt_qq_<hash>/nt_msg.db
// encrypted with a key the backup does not hold: such an account is listed
// and marked (chatsEncrypted), never read (qq_nt.h).
// The archive's "$objects" hold, per account, two dictionaries in a row
// followed by two texts: the account's number and its nickname. The table
// layouts are written out in docs/formats/qq.md.
//
// Threads: everything here runs on the analysis worker (through
// CLocalUserList::AnalyseQqUsers); nothing locks. Afterwards the browser and
// the export only read the records until the account is analysed again or
// destroyed.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/db_sqlite.h"
#include "db/progress.h"
#include "db/items.h"

namespace backup {
class CFileListDB;
}

namespace chat {

class CQqLocalUser;
class CTencentQQDB;

inline constexpr char kQqDomain[] = "AppDomain-com.tencent.mqq";
inline constexpr char kTimDomain[] = "AppDomain-com.tencent.tim";
// The account archive, looked up by this file name.
inline constexpr char kQqAccountsArchive[] = "QQAccountsManager";
// The sender of every message that names none.
inline constexpr char kQqUnknownUserName[] = "未知用户";
// A TIM account's user name is its number followed by this.
inline constexpr char kTimAccountSuffix[] = "(TIM)";
// Shown when an analysis found no QQ account.
inline constexpr char kNoQqAccountText[] = "未找到QQ本地帐号";
// Shown for an account whose current chats are in an encrypted nt_msg.db:
// they are in the backup, but cannot be read from it.
inline constexpr char kQqEncryptedChatsText[] = "此QQ版本的聊天记录已加密，无法从备份中读取";
// Shown for an account whose nt_msg.db is not encrypted (no build known to
// us writes one) or too short to tell: its chats are not read here.
inline constexpr char kQqNtChatsNotReadText[] = "此QQ版本的聊天记录暂不支持读取";
// The avatar service: "http://<host>/headimg_dl?dst_uin=<number>&spec=100".
inline constexpr char kQqAvatarHost[] = "q1.qlogo.cn";

// What a contact's number names (DBITEM_QqFriend::type).
inline constexpr std::int32_t kQqTypeAccount = 0;
inline constexpr std::int32_t kQqTypeFriend = 1;  // has a one-to-one table
inline constexpr std::int32_t kQqTypeGroup = 2;   // has a group table
inline constexpr std::int32_t kQqTypeBoth = 3;

// A QQ contact, group or account, and the conversation held with it.
// FriendItem fields as used: keyText is the display name (the nickname, else
// the number), keyTextNarrow the avatar URL, items the messages in
// conversation order, deletedCount the deleted ones among them (set at the
// end of an analysis). kind stays -1. Texts are UTF-8.
class DBITEM_QqFriend : public db::FriendItem {
 public:
  DBITEM_QqFriend() = default;
  ~DBITEM_QqFriend() override;

  std::string& DisplayName() { return keyText; }
  const std::string& DisplayName() const { return keyText; }
  std::string& AvatarUrl() { return keyTextNarrow; }
  const std::string& AvatarUrl() const { return keyTextNarrow; }

  std::string userName;              // the number as text (a group's number for a group)
  std::int32_t type = -1;            // kQqType*; -1 for a sender known only from a message
  std::int64_t uinNumber = 0;        // userName as a number; 0 when it is none
  std::string c2cTable;              // its one-to-one table, as tb_c2cTables names it
  std::string troopTable;            // "tb_TroopMsg_" + the group's number
  std::int32_t deletedConversation = 0;  // 1: known only from deleted data; its messages are deleted
  CQqLocalUser* owner = nullptr;     // the account it belongs to; not owned
  // The conversation: message key (QqMessageKey) -> message. The messages
  // are owned through ownedItems and listed in items.
  std::map<std::string, db::BaseItem*> messagesByKey;
  db::ItemList ownedItems;
};

// One QQ or TIM account. Its userName is uin, followed by "(TIM)" for a TIM
// account; type is 0. As a conversation it holds the messages filed under
// its own number.
class CQqLocalUser : public DBITEM_QqFriend {
 public:
  CQqLocalUser();
  ~CQqLocalUser() override;

  // The app domain of the account's files: TIM's for a TIM account.
  const char* Domain() const;
  // The stored path of the account's file name ("QQ.db", "FTSMsg.db"), or
  // "" when the backup has none. Folder mode: below accountFolder (or, as
  // the app lays the files out, below Documents/contents/<uin>); otherwise a
  // file whose relative path ends in "<uin>/<name>" with <uin> a whole path
  // component, so that account 10001 never reads the files of 110001.
  std::string FindAccountFile(const std::string& name) const;
  // What the account page and the command line say about chats that are
  // in the backup but not read: kQqEncryptedChatsText when chatsEncrypted,
  // kQqNtChatsNotReadText for any other nt_msg.db, else "".
  const char* ChatsNotice() const;
  // Deletes the readers, the contacts and every message, and empties the
  // lookup maps. The account stays registered under its own number when it
  // was before (a QQ account; a TIM account never is).
  void Reset();

  std::string uin;             // the account's number
  std::string accountFolder;   // folder mode: the account's folder; else ""
  backup::CFileListDB* fileIndex = nullptr;  // not owned
  std::int32_t index = 0;      // position in the list's qqUsers
  std::vector<std::unique_ptr<DBITEM_QqFriend>> contacts;  // contacts and groups, without the account
  std::map<std::string, DBITEM_QqFriend*> contactsByUin;   // userName -> contact; own number -> account
  // Message key -> message, over all conversations of the account (the
  // first message of a key); not owned.
  std::map<std::string, db::BaseItem*> messagesByKey;
  std::unique_ptr<CTencentQQDB> qqDb;   // QQ.db, or none
  std::unique_ptr<CTencentQQDB> ftsDb;  // FTSMsg.db, or none
  float progressShare = 0;     // share of the progress bar for this account
  db::AnalysisProgress* progress = nullptr;  // where the share is reported; not owned, may be null
  std::int32_t isTim = 0;      // 1 for a TIM account
  bool registeredWithItself = false;  // whether contactsByUin maps the account's own number to it
  // Current builds: the stored path of the account's nt_msg.db, "" when the
  // backup has none (an account can have both it and an older QQ.db). Set
  // when the account is found; Reset keeps it.
  std::string ntMessageDb;
  // That nt_msg.db is encrypted: the account's current chats are in the
  // backup but cannot be read. Its older QQ.db, if any, is still read.
  bool chatsEncrypted = false;
};

// The databases of an account, by the openParam their reader is opened with.
enum QqDatabase : int { kQqMessageDb = 0, kQqIndexDb = 1 };

// One database of an account. GetTableName by openParam and kind:
//   0 QQ.db      0 "tb_c2cTables", 1 "tb_TroopMsgSeq", 2 "tb_c2cMsg_xxx",
//                3 "tb_TroopMsg_xxx" (templates; the real names come from
//                the contacts)
//   1 FTSMsg.db  0 "tb_Index_c2cMsg_content", 1 "tb_Index_discussGrp_content",
//                2 "tb_Index_TroopMsg_content"
// Any other openParam or kind answers "".
class CTencentQQDB : public db::CDbSqlite {
 public:
  explicit CTencentQQDB(CQqLocalUser* owner) : owner_(owner) {}

  std::string GetTableName(int tableKind) override;
  // Table lists (QQ.db kinds 0 and 1) and index rows (FTSMsg.db) are filed
  // with the owner and nothing is handed back; message rows (QQ.db kinds 2
  // and 3) are handed back as DBITEM_QqChat.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Opens the database and loads it: QQ.db its contacts, groups and their
  // messages; FTSMsg.db its index rows. Returns the base's status when it
  // cannot open the file (nothing is read), else ok.
  base::Status Open(const std::string& path, int param) override;

  CQqLocalUser* Owner() const { return owner_; }

 private:
  CQqLocalUser* owner_;  // not owned
};

// The sender of messages that name none: user name and display name
// "未知用户", no owner, in no contact list. One per process and never
// destroyed, so messages of any account may point at it whenever accounts
// come and go. Not thread-safe to modify.
DBITEM_QqFriend& QqUnknownUser();

// Registers contact with account under its userName. Returns 1 when it was
// new: the account's contacts now own it (contact is emptied), its owner is
// set, an empty display name becomes the number and it gets its avatar URL.
// Returns 0 when the number is known: the known contact takes contact's
// display name when its own is only its number, and becomes type 3 when one
// of the two is a friend and the other a group (taking the other's table
// name); contact is left with the caller, who drops it.
int RegisterQqContact(CQqLocalUser& account, std::unique_ptr<DBITEM_QqFriend>& contact);

// Fills contact's display name from its number's nickname file: the first
// file of the owner's domain (TIM's for a TIM account, whose app keeps its
// own files) whose name ends in the number followed by ".plist", the number
// not being the tail of a longer one. In its "$objects", every dictionary
// followed by the text of the number and a second text names the contact
// (the last such pair wins). A file that cannot be read is passed over for
// the next. Does nothing without an owner with a file index, or for a
// userName that is not a number.
void ReadQqNickname(DBITEM_QqFriend& contact);

// Loads one account: remembers fileIndex (not owned) and index, opens
// QQ.db (contacts, groups, messages) and FTSMsg.db (index messages), then
// files the messages rebuilt from deleted rows of both. Returns false, and
// reads nothing, when the account's QQ.db is not in the backup; a missing
// FTSMsg.db only costs its messages. The caller closes the readers.
bool LoadQqAccount(int index, CQqLocalUser& account, backup::CFileListDB* fileIndex);

}  // namespace chat
