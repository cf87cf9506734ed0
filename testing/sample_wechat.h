#pragma once
// Sample WeChat data for the WeChat readers' tests and the demo backup: the
// account's settings archive (a keyed-archive binary property list) and its
// contact database (DB/WCDB_Contact.sqlite) in the two 16-column shapes of
// the "Friend" table the deleted-row scanner knows, with the blob columns
// encoded the way the app writes them (the tables in chat/wechat_tagged.h).
//
// Everything here builds bytes or SQL texts; SqliteFile (sample_backup.h)
// runs the SQL. Functions are pure and may be called from any thread.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "testing/plist_writer.h"
#include "testing/sample_backup.h"

namespace sample {

inline constexpr char kWxDomain[] = "AppDomain-com.tencent.xin";

// The two shapes of the Friend table, 16 columns each:
//   kNameFirst  userName, type, certificationFlag, imgStatus, encodeUserName,
//               dbContactLocal, dbContactOther, dbContactRemark,
//               dbContactHeadImage, dbContactProfile, dbContactSocial,
//               dbContactChatRoom, dbContactBrand, dbContactEncryptSecret,
//               extFlag, typeExt
//   kNameLast   type, encodeUserName, certificationFlag, imgStatus,
//               openIMAppid, dbContactLocal, dbContactBrand, dbContactRemark,
//               dbContactHeadImage, dbContactProfile, dbContactSocial,
//               dbContactChatRoom, extFlag, dbContactEncryptSecret, typeExt,
//               userName
enum class WxFriendShape { kNameFirst, kNameLast };
inline constexpr int kWxFriendColumns = 16;

struct WxRoomMember {
  std::string userName;
  std::string displayName;
  std::string inviter;
  int flag = 0;
};

// One row of Friend. Empty texts and lists stand for NULL columns.
struct WxFriendRow {
  std::string userName;
  int type = 3;
  int certificationFlag = 0;
  int imgStatus = 1;
  std::string encodeUserName;
  // dbContactRemark: (tag, text) fields; tag 0x0A is the name the app shows.
  std::vector<std::pair<std::uint8_t, std::string>> remarks;
  std::string headImageUrl;  // dbContactHeadImage
  std::string province, city, district, signature;  // dbContactProfile; all empty: NULL
  std::vector<WxRoomMember> roomMembers;  // dbContactChatRoom; empty: NULL
  std::string brand;                      // dbContactBrand
  int extFlag = 0;
};

// Blob encoders, as the app writes the columns.
std::vector<std::uint8_t> WxTaggedBlob(const std::vector<std::pair<std::uint8_t, std::string>>& fields);
std::vector<std::uint8_t> WxHeadImageBlob(const std::string& url);
// Pieces of at most 99 bytes each.
std::vector<std::uint8_t> WxProfileBlob(const std::string& province, const std::string& city,
                                        const std::string& district, const std::string& signature);
std::string WxRoomMembersXml(const std::vector<WxRoomMember>& members);
std::vector<std::uint8_t> WxChatRoomBlob(const std::vector<WxRoomMember>& members);

std::string WxFriendSchemaSql(WxFriendShape shape);
std::string InsertWxFriendSql(const WxFriendRow& row, WxFriendShape shape);
std::string DeleteWxFriendSql(const std::string& userName);

// The lower-case MD5 of a user name: the name of the account's folder.
std::string WxUserMd5(const std::string& userName);

// A keyed archive (NSKeyedArchiver) whose "$objects" is objects.
std::vector<std::uint8_t> WxKeyedArchive(std::vector<PlistNode> objects);

// The settings archive of an account: "$objects" of 48 elements, the user
// name at 2, the display name at 3, two setting texts at 4 and 5, "0" at
// weChatIdMarker followed by the WeChat ID (none when empty), and the small
// (ending "/132", i.e. "2") and large ("/0") avatar URLs from 40 on.
struct WxSettings {
  std::string userName = "wxid_velmora01";
  std::string displayName = "林小雨";
  std::string weChatId = "lin_xiaoyu";
  std::size_t weChatIdMarker = 16;
  std::string avatarSmall = "http://wx.qlogo.cn/mmhead/ver_1/velmora01/132";
  std::string avatarLarge = "http://wx.qlogo.cn/mmhead/ver_1/velmora01/0";
};
std::vector<PlistNode> WxSettingsObjects(const WxSettings& settings);

// The built-in account's contacts, for the given shape: the account's own
// row; 王芳 (wxid_wangfang, remark name, profile, head image); zhangwei88 (a
// chosen name, type 3); 腾讯新闻 (gh_, brand); a brand account of type 33;
// the chat room 周末爬山群 (20200101@chatroom) listing wxid_wangfang (a friend
// already) and wxid_member2 (known only as a member); deleted and left in the
// file: wxid_gone (赵六) and an older row of zhangwei88.
std::string WxSampleContactsSql(WxFriendShape shape);
// The settings of the built-in account.
WxSettings WxSampleSettings();

// Adds one account at the paths the app uses: Documents/<md5>/mmsetting.archive,
// Documents/<md5>/DB/WCDB_Contact.sqlite (contacts of shape) and
// Documents/<md5>/DB/MM.sqlite (the message template tables, followed by
// messagesSql: the contacts' message tables, none by default).
void AddWeChatAccount(SampleBackupBuilder& builder, const WxSettings& settings, const std::string& contactsSql,
                      const std::string& messagesSql = "");
// The built-in account with its contacts and their messages, session
// summaries, search index and media (sample_wechat_messages.h), for the demo.
void AddWeChatApp(SampleBackupBuilder& builder);

}  // namespace sample
