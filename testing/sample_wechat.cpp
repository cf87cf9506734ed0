#include "testing/sample_wechat.h"

#include <cstdio>

#include <boost/uuid/detail/md5.hpp>

#include "testing/sample_wechat_messages.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kNameFirstSchema[] =
    "CREATE TABLE Friend(userName text primary key on conflict replace, type integer default 0, "
    "certificationFlag integer default 0, imgStatus integer default 0, encodeUserName text, dbContactLocal blob, "
    "dbContactOther blob, dbContactRemark blob, dbContactHeadImage blob, dbContactProfile blob, dbContactSocial "
    "blob, dbContactChatRoom blob, dbContactBrand blob, dbContactEncryptSecret blob, extFlag integer default 0, "
    "typeExt integer default 0);";
constexpr char kNameLastSchema[] =
    "CREATE TABLE Friend(type integer default 0, encodeUserName text, certificationFlag integer default 0, "
    "imgStatus integer default 0, openIMAppid text, dbContactLocal blob, dbContactBrand blob, dbContactRemark "
    "blob, dbContactHeadImage blob, dbContactProfile blob, dbContactSocial blob, dbContactChatRoom blob, extFlag "
    "integer default 0, dbContactEncryptSecret blob, typeExt integer default 0, userName text primary key on "
    "conflict replace);";
// Other tables of the real file; the reader reads none of them.
constexpr char kOtherContactTables[] =
    "CREATE TABLE MassSendContact(UsrName text not null primary key on conflict replace, Detail text, ConIntRes1 "
    "integer default 0, ConIntRes2 integer default 0, ConStrRes1 text, ConStrRes2 text);";
constexpr char kMessageTemplates[] =
    "CREATE TABLE Chat(TableVer integer default 1, MesLocalID integer primary key autoincrement, MesSvrID bigint "
    "default 0, CreateTime integer default 0, Message text, Status integer default 0, ImgStatus integer default 0, "
    "Type integer, Des integer);"
    "CREATE TABLE ChatExt2(MesLocalID integer primary key, msgFlag integer default 0, ConIntRes2 integer default "
    "0, ConIntRes3 integer default 0, MsgSource text, MsgIdentify text, ConStrRes1 text, ConStrRes2 text, "
    "ConStrRes3 text, ConIntRes1 integer default 0);";

void AppendVarint(Bytes& out, std::uint64_t value) {
  do {
    std::uint8_t byte = value & 0x7F;
    value >>= 7;
    if (value != 0) byte |= 0x80;
    out.push_back(byte);
  } while (value != 0);
}

void AppendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string BlobOrNull(const Bytes& bytes) { return bytes.empty() ? "NULL" : SqlBlob(bytes); }

}  // namespace

Bytes WxTaggedBlob(const std::vector<std::pair<std::uint8_t, std::string>>& fields) {
  Bytes out;
  for (const auto& [tag, text] : fields) {
    out.push_back(tag);
    AppendVarint(out, text.size());
    AppendText(out, text);
  }
  return out;
}

Bytes WxHeadImageBlob(const std::string& url) {
  if (url.empty()) return {};
  // A 4-byte field header, then the small URL and, after 0x1A and its
  // length, the large one.
  Bytes out = {0x08, 0x01, 0x12, static_cast<std::uint8_t>(url.size() & 0x7F)};
  AppendText(out, url);
  out.push_back(0x1A);
  const std::string large = url.substr(0, url.rfind('/') + 1) + "0";
  AppendVarint(out, large.size());
  AppendText(out, large);
  return out;
}

Bytes WxProfileBlob(const std::string& province, const std::string& city, const std::string& district,
                    const std::string& signature) {
  if (province.empty() && city.empty() && district.empty() && signature.empty()) return {};
  // header(3) L1 province gap L2 city gap L3 district gap gap signature
  Bytes out = {0x08, 0x00, 0x12, static_cast<std::uint8_t>(province.size())};
  AppendText(out, province);
  out.push_back(0x1A);
  out.push_back(static_cast<std::uint8_t>(city.size()));
  AppendText(out, city);
  out.push_back(0x22);
  out.push_back(static_cast<std::uint8_t>(district.size()));
  AppendText(out, district);
  out.push_back(0x2A);
  out.push_back(static_cast<std::uint8_t>(signature.size()));
  AppendText(out, signature);
  return out;
}

std::string WxRoomMembersXml(const std::vector<WxRoomMember>& members) {
  std::string xml = "<RoomData>";
  for (const WxRoomMember& member : members) {
    xml += "<Member UserName=\"" + XmlEscaped(member.userName) + "\">";
    xml += "<DisplayName>" + XmlEscaped(member.displayName) + "</DisplayName>";
    xml += "<Flag>" + std::to_string(member.flag) + "</Flag>";
    xml += "<InviterUserName>" + XmlEscaped(member.inviter) + "</InviterUserName>";
    xml += "</Member>";
  }
  return xml + "<Owner>0</Owner></RoomData>";
}

Bytes WxChatRoomBlob(const std::vector<WxRoomMember>& members) {
  if (members.empty()) return {};
  return WxTaggedBlob({{0x0A, "v1"}, {0x32, WxRoomMembersXml(members)}});
}

std::string WxFriendSchemaSql(WxFriendShape shape) {
  return std::string(shape == WxFriendShape::kNameFirst ? kNameFirstSchema : kNameLastSchema) + kOtherContactTables;
}

std::string InsertWxFriendSql(const WxFriendRow& row, WxFriendShape shape) {
  const std::string remark = BlobOrNull(WxTaggedBlob(row.remarks));
  const std::string head = BlobOrNull(WxHeadImageBlob(row.headImageUrl));
  const std::string profile = BlobOrNull(WxProfileBlob(row.province, row.city, row.district, row.signature));
  const std::string room = BlobOrNull(WxChatRoomBlob(row.roomMembers));
  const std::string brand = row.brand.empty() ? "NULL" : SqlBlob(Bytes(row.brand.begin(), row.brand.end()));
  const std::string other = SqlBlob(Bytes{0x08, 0x00});
  const std::string social = SqlBlob(Bytes{0x0A, 0x00});
  const std::string type = std::to_string(row.type);
  const std::string cert = std::to_string(row.certificationFlag);
  const std::string img = std::to_string(row.imgStatus);
  const std::string ext = std::to_string(row.extFlag);
  if (shape == WxFriendShape::kNameFirst) {
    return "INSERT INTO Friend VALUES(" + SqlText(row.userName) + "," + type + "," + cert + "," + img + "," +
           SqlTextOrNull(row.encodeUserName) + ",NULL," + other + "," + remark + "," + head + "," + profile + "," +
           social + "," + room + "," + brand + ",NULL," + ext + ",0);";
  }
  return "INSERT INTO Friend VALUES(" + type + "," + SqlTextOrNull(row.encodeUserName) + "," + cert + "," + img +
         ",NULL,NULL," + brand + "," + remark + "," + head + "," + profile + "," + social + "," + room + "," + ext +
         ",NULL,0," + SqlText(row.userName) + ");";
}

std::string DeleteWxFriendSql(const std::string& userName) {
  return "DELETE FROM Friend WHERE userName=" + SqlText(userName) + ";";
}

std::string WxUserMd5(const std::string& userName) {
  boost::uuids::detail::md5 hash;
  hash.process_bytes(userName.data(), userName.size());
  boost::uuids::detail::md5::digest_type digest;
  hash.get_digest(digest);
  std::string hex;
  for (const unsigned int word : digest) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", word);
    hex += part;
  }
  return hex;
}

Bytes WxKeyedArchive(std::vector<PlistNode> objects) {
  return WriteBinaryPlist(PlistNode::Dictionary({
      {"$version", PlistNode::Integer(100000)},
      {"$archiver", PlistNode::Text("NSKeyedArchiver")},
      {"$top", PlistNode::Dictionary({{"root", PlistNode::Uid(1)}})},
      {"$objects", PlistNode::Array(std::move(objects))},
  }));
}

std::vector<PlistNode> WxSettingsObjects(const WxSettings& settings) {
  constexpr std::size_t kObjectCount = 48;
  std::vector<PlistNode> objects;
  objects.push_back(PlistNode::Text("$null"));
  objects.push_back(PlistNode::Dictionary({{"$class", PlistNode::Uid(kObjectCount - 1)}}));
  objects.push_back(PlistNode::Text(settings.userName));
  objects.push_back(PlistNode::Text(settings.displayName));
  objects.push_back(PlistNode::Text("13800138000"));
  objects.push_back(PlistNode::Text("lin@example.com"));
  while (objects.size() < kObjectCount - 1) {
    const std::size_t at = objects.size();
    if (!settings.weChatId.empty() && at == settings.weChatIdMarker) {
      objects.push_back(PlistNode::Text("0"));
    } else if (!settings.weChatId.empty() && at == settings.weChatIdMarker + 1) {
      objects.push_back(PlistNode::Text(settings.weChatId));
    } else if (at == 41 && !settings.avatarSmall.empty()) {
      objects.push_back(PlistNode::Text(settings.avatarSmall));
    } else if (at == 42 && !settings.avatarLarge.empty()) {
      objects.push_back(PlistNode::Text(settings.avatarLarge));
    } else {
      objects.push_back(PlistNode::Integer(static_cast<std::int64_t>(at) * 3));
    }
  }
  objects.push_back(PlistNode::Dictionary({{"$classname", PlistNode::Text("CSettingExt")},
                                           {"$classes", PlistNode::Array({PlistNode::Text("CSettingExt"),
                                                                          PlistNode::Text("NSObject")})}}));
  return objects;
}

WxSettings WxSampleSettings() { return WxSettings{}; }

std::string WxSampleContactsSql(WxFriendShape shape) {
  const WxSettings self = WxSampleSettings();
  std::string sql = WxFriendSchemaSql(shape);
  auto insert = [&sql, shape](const WxFriendRow& row) { sql += InsertWxFriendSql(row, shape); };
  WxFriendRow own;
  own.userName = self.userName;
  own.remarks = {{0x0A, self.displayName}};
  own.province = "北京";
  own.city = "海淀";
  own.signature = "今天也要加油";
  insert(own);
  WxFriendRow wang;
  wang.userName = "wxid_wangfang";
  wang.remarks = {{0x0A, "  王芳 "}, {0x12, "wangfang_1990"}, {0x1A, "芳芳"}};
  wang.headImageUrl = "http://wx.qlogo.cn/mmhead/ver_1/wangfang/132";
  wang.province = "广东";
  wang.city = "深圳";
  wang.district = "南山";
  wang.signature = "山高水长";
  insert(wang);
  WxFriendRow older;
  older.userName = "zhangwei88";
  older.remarks = {{0x0A, "张伟"}};
  older.province = "浙江";
  older.signature = "旧签名：一个足够长的签名，让这一行超过一百二十八个字节";
  insert(older);
  WxFriendRow news;
  news.userName = "gh_3dfda90e39d6";
  news.remarks = {{0x0A, "腾讯新闻"}};
  news.brand = "腾讯新闻官方";
  insert(news);
  WxFriendRow brand;
  brand.userName = "cmbchina";
  brand.type = 33;
  brand.remarks = {{0x0A, "招商银行"}};
  insert(brand);
  WxFriendRow room;
  room.userName = "20200101@chatroom";
  room.type = 2;
  room.remarks = {{0x0A, "周末爬山群"}};
  room.roomMembers = {{"wxid_wangfang", "芳", self.userName, 0},
                      {"wxid_member2", "李雷", "wxid_wangfang", 1},
                      {self.userName, "小雨", "", 0}};
  insert(room);
  WxFriendRow gone;
  gone.userName = "wxid_gone";
  gone.remarks = {{0x0A, "赵六"}};
  gone.headImageUrl = "http://wx.qlogo.cn/mmhead/ver_1/gone/132";
  gone.province = "四川";
  gone.city = "成都";
  gone.signature = "再见";
  insert(gone);
  // The newer row of zhangwei88 replaces the older one and is longer, so it
  // cannot take the older one's place: both stay in the file. SQLite reuses
  // freed space for later rows, so the deletions come last. The deleted rows
  // are longer than 127 bytes, as real contact rows are: the freed cell's
  // first 4 bytes are overwritten, which then hold only the payload length,
  // the row id and the header length, and the column types survive.
  WxFriendRow zhang;
  zhang.userName = "zhangwei88";
  zhang.remarks = {{0x0A, "张伟"}, {0x12, "zhangwei_1988"}};
  zhang.headImageUrl = "http://wx.qlogo.cn/mmhead/ver_1/zhangwei/132";
  insert(zhang);
  sql += DeleteWxFriendSql("wxid_gone");
  return sql;
}

void AddWeChatAccount(SampleBackupBuilder& builder, const WxSettings& settings, const std::string& contactsSql,
                      const std::string& messagesSql) {
  const std::string folder = "Documents/" + WxUserMd5(settings.userName) + "/";
  builder.AddFile(kWxDomain, folder + "mmsetting.archive", WxKeyedArchive(WxSettingsObjects(settings)));
  builder.AddDatabase(kWxDomain, folder + "DB/WCDB_Contact.sqlite", SqliteFile(contactsSql));
  builder.AddDatabase(kWxDomain, folder + "DB/MM.sqlite", SqliteFile(kMessageTemplates + messagesSql));
}

void AddWeChatApp(SampleBackupBuilder& builder) {
  const WxSettings settings = WxSampleSettings();
  AddWeChatAccount(builder, settings, WxSampleContactsSql(WxFriendShape::kNameFirst), WxSampleMessagesSql());
  AddWxSampleMessageFiles(builder, WxUserMd5(settings.userName));
}

}  // namespace sample
