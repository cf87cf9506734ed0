#pragma once
// WeChat contacts: one record per friend, chat room, official account or
// chat-room member of an account, read from the account's contact database
// (DB/WCDB_Contact.sqlite, table "Friend") and from the deleted rows left in
// that file. The blob columns are laid out in wechat_tagged.h.
//
// Threads: records are made on the analysis worker; afterwards the browser
// and the export only read them until the account is reset or destroyed.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/cppsqlite3.h"
#include "db/items.h"

namespace db::undark {
struct UndarkValue;
}
namespace exporting {
class CExportWriter;
}

namespace chat {

class CWxLocalUser;
struct WxSessionItem;  // a session summary; defined with the chat messages

// Classes of a WeChat contact (its kind).
inline constexpr std::int32_t kWxKindAccount = 0;
inline constexpr std::int32_t kWxKindFriend = 1;
inline constexpr std::int32_t kWxKindChatRoom = 2;
inline constexpr std::int32_t kWxKindOfficial = 4;
inline constexpr std::int32_t kWxKindRecovered = 5;  // known only from deleted data
inline constexpr std::int32_t kWxKindClassify = -1;   // RegisterContact: classify it

// One WeChat contact, chat room, official account, or the account itself.
// FriendItem fields as used: keyText is the display name (Title), keyTextNarrow
// the avatar URL, kind the class above (-1 until registered), deletedCount the
// contact's deleted messages, deleted 1 for a contact known only from deleted
// rows. Texts are UTF-8.
class DBITEM_WxFriend : public db::FriendItem {
 public:
  DBITEM_WxFriend() = default;
  ~DBITEM_WxFriend() override;

  std::string& DisplayName() { return keyText; }
  const std::string& DisplayName() const { return keyText; }
  std::string& AvatarUrl() { return keyTextNarrow; }
  const std::string& AvatarUrl() const { return keyTextNarrow; }

  std::string userName;           // unique within an account: "wxid_…", "gh_…", "…@chatroom" or chosen
  std::string alias;              // the account's WeChat ID (account records only)
  std::int32_t type = -1;         // Friend.type
  std::int32_t certificationFlag = 0;
  std::int32_t imgStatus = 0;
  std::string encodeUserName;
  std::vector<std::string> remarks;  // non-empty texts of dbContactRemark's fields, in order
  std::string headImageText;      // dbContactHeadImage after its first 4 bytes
  std::vector<std::uint8_t> profile;  // dbContactProfile as stored
  std::string address;            // decoded from profile
  std::string signature;          // decoded from profile
  std::vector<std::uint8_t> social;   // dbContactSocial as stored; nothing decodes it
  std::string socialText;         // always empty; shown by the browser and the CSV
  std::vector<std::uint8_t> chatRoomData;  // dbContactChatRoom as stored
  std::string brand;              // dbContactBrand up to its first zero byte; only emptiness matters
  std::int32_t extFlag = 0;
  std::string openIMAppid;
  std::int32_t usernameId = -1;   // number in the message search index
  std::int32_t ftsTableId = -1;   // table number in the message search index
  std::string userMd5;            // lower-case MD5 of userName: names message tables and the account folder
  std::string inviterUserName;    // chat-room member: who invited it
  std::int32_t memberFlag = -1;   // chat-room member: its Flag

  // The conversation, filled by the message reader: maps to messages owned
  // through ownedItems (items lists them in conversation order).
  std::map<std::int64_t, db::BaseItem*> messagesByKey;
  std::map<std::string, db::BaseItem*> messagesByText;
  db::ItemList ownedItems;

  std::vector<DBITEM_WxFriend*> members;   // chat room: its members (not owned)
  std::vector<DBITEM_WxFriend*> memberOf;  // the rooms listing this contact (not owned)
  CWxLocalUser* owner = nullptr;           // not owned
  WxSessionItem* sessionItem = nullptr;    // not owned
};

using WxFriendList = std::vector<std::unique_ptr<DBITEM_WxFriend>>;

// The contact that messages from the system point to as their sender: user
// name and display name "系统消息", no owner, in no contact list. One per
// process, never destroyed, so a message may point to it whatever account it
// belongs to and whenever accounts are destroyed. Not thread-safe to modify.
DBITEM_WxFriend& SystemMessageContact();

// Fills contact from the live row's column by its exact name (the columns
// the reader knows; others are ignored). Integers are read as 64-bit decimal
// and kept in 32 bits.
void ApplyFriendColumn(DBITEM_WxFriend& contact, const std::string& column, const db::CppSQLite3Query& query,
                       int index);
// The same for a value recovered from a deleted row.
void ApplyFriendValue(DBITEM_WxFriend& contact, const std::string& column, const db::undark::UndarkValue& value);

// Class of a contact from its user name, type and brand (kind -1 of
// RegisterContact): 4 official account, 2 chat room, 1 friend.
std::int32_t ClassifyContact(const DBITEM_WxFriend& contact);

// The avatar URL in a head-image text: from "http://" up to the next byte
// 0x1A (or the end); the whole text when it holds no "http://".
std::string AvatarUrlOf(const std::string& headImageText);

// The members of a chat room from its XML member list: one new contact (owner
// set, not registered) per child element of the root whose name begins with
// "Member", in order, with userName from its "UserName" attribute and the
// Flag, InviterUserName and DisplayName children. Text that is not XML gives
// none.
WxFriendList ParseRoomMembers(const std::string& xml, CWxLocalUser* account);

// Rebuilds the account's contacts from deleted rows of its contact database
// (layout 18 when the table's last column is "userName", else 13) and
// registers the new ones as kind 5. Does nothing when the account has no
// contact reader or its friendColumns is empty (the live table gave no row).
// Returns the number of contacts recovered.
int RecoverDeletedContacts(CWxLocalUser& account);

// The header of the WeChat contact table.
inline constexpr char kWxContactsCsvHeader[] = "微信帐号,昵称,微信号,地址,备注,个性签名,社交信息,群组成员\r\n";

// The export step of the WeChat contact category, on a writer whose category
// was begun: BeginList with the number of contacts in selection, the header
// above, then one line per contact in order (user name, display name,
// encoded user name, address, first remark, signature, social text, then
// every member's display name followed by ";"), each with the contact's
// deleted flag, to CSV and HTML. A field holding a comma, a quote or a line
// break is quoted, so that it cannot shift the columns after it. Entries of
// selection that are not WeChat contacts are passed over. The caller calls
// Finish.
void WriteWxContactsCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection);

}  // namespace chat
