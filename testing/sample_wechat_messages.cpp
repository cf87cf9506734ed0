#include "testing/sample_wechat_messages.h"

#include <stdexcept>

#include "testing/sample_media.h"
#include "testing/sample_wechat.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kAccountName[] = "wxid_velmora01";
constexpr char kFriendName[] = "wxid_wangfang";
constexpr char kRoomName[] = "20200101@chatroom";

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }
std::string ChatTable(const std::string& userMd5) { return Quoted("Chat_" + userMd5); }
std::string ChatExtTable(const std::string& userMd5) { return Quoted("ChatExt2_" + userMd5); }
std::string ContentTable(int tableId) { return "fts_message_table_" + std::to_string(tableId) + "_content"; }

// One field of the session file: tag, a one-byte length, the bytes.
void AppendField(Bytes& out, std::uint8_t tag, const std::string& text) {
  if (text.size() >= 0x80) throw std::invalid_argument("session sample text too long");
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::string WxChatTableSql(const std::string& userMd5, WxChatOrder order) {
  if (order == WxChatOrder::kTableVerFirst) {
    return "CREATE TABLE " + ChatTable(userMd5) +
           "(TableVer integer default 1, MesLocalID integer primary key autoincrement, MesSvrID bigint default 0, "
           "CreateTime integer default 0, Message text, Status integer default 0, ImgStatus integer default 0, Type "
           "integer, Des integer);";
  }
  return "CREATE TABLE " + ChatTable(userMd5) +
         "(CreateTime integer default 0, Des integer, ImgStatus integer default 0, MesLocalID integer primary key "
         "autoincrement, Message text, MesSvrID bigint default 0, Status integer default 0, TableVer integer default "
         "1, Type integer);";
}

std::string InsertWxChatSql(const std::string& userMd5, const WxChatRow& row, WxChatOrder /*order*/) {
  // Named columns: the same statement fills either order.
  return "INSERT INTO " + ChatTable(userMd5) +
         "(TableVer, MesLocalID, MesSvrID, CreateTime, Message, Status, ImgStatus, Type, Des) VALUES(" +
         std::to_string(row.tableVer) + "," + std::to_string(row.localId) + "," + std::to_string(row.serverId) + "," +
         std::to_string(row.createTime) + "," + SqlText(row.text) + "," + std::to_string(row.status) + "," +
         std::to_string(row.imgStatus) + "," + std::to_string(row.type) + "," + std::to_string(row.direction) + ");";
}

std::string DeleteWxChatSql(const std::string& userMd5, int localId) {
  return "DELETE FROM " + ChatTable(userMd5) + " WHERE MesLocalID=" + std::to_string(localId) + ";";
}

std::string WxChatExtTableSql(const std::string& userMd5, WxChatExtOrder order) {
  if (order == WxChatExtOrder::kLocalIdFirst) {
    return "CREATE TABLE " + ChatExtTable(userMd5) +
           "(MesLocalID integer primary key, msgFlag integer default 0, ConIntRes2 integer default 0, ConIntRes3 "
           "integer default 0, MsgSource text, MsgIdentify text, ConStrRes1 text, ConStrRes2 text, ConStrRes3 text, "
           "ConIntRes1 integer default 0);";
  }
  return "CREATE TABLE " + ChatExtTable(userMd5) +
         "(ConIntRes1 integer default 0, ConIntRes2 integer default 0, ConIntRes3 integer default 0, ConStrRes1 "
         "text, ConStrRes2 text, ConStrRes3 text, MesLocalID integer primary key, msgFlag integer default 0, "
         "MsgIdentify text, MsgSource text);";
}

std::string InsertWxChatExtSql(const std::string& userMd5, int localId, const std::string& msgSource,
                               WxChatExtOrder /*order*/) {
  return "INSERT INTO " + ChatExtTable(userMd5) +
         "(MesLocalID, msgFlag, ConIntRes2, ConIntRes3, MsgSource, MsgIdentify, ConStrRes1, ConIntRes1) VALUES(" +
         std::to_string(localId) + ",1,2,3," + SqlText(msgSource) + ",'identify','res1',4);";
}

std::string WxSessionTableSql() {
  return "CREATE TABLE SessionAbstract(UsrName text, CreateTime integer, ConIntRes1 integer default 0, ConIntRes2 "
         "integer default 0, ConIntRes3 integer default 0, ConStrRes1 text, ConStrRes2 text);";
}

std::string InsertWxSessionSql(const std::string& userName, std::int64_t createTime, const std::string& path) {
  return "INSERT INTO SessionAbstract(UsrName, CreateTime, ConStrRes1, ConStrRes2) VALUES(" + SqlText(userName) +
         "," + std::to_string(createTime) + "," + SqlText(path) + ",'');";
}

std::string DeleteWxSessionSql(const std::string& userName) {
  return "DELETE FROM SessionAbstract WHERE UsrName=" + SqlText(userName) + ";";
}

Bytes WxSessionFileBytes(const WxSessionFile& file) {
  Bytes out;
  AppendField(out, 0x0A, file.userName);
  // The block the app writes after the name: 08 00 10, 16 bytes, a text.
  const std::string blockText = "v1";
  Bytes block = {0x08, 0x00, 0x10};
  for (std::uint8_t i = 0; i < 16; ++i) block.push_back(static_cast<std::uint8_t>(0x20 + i));
  block.push_back(static_cast<std::uint8_t>(blockText.size()));
  block.insert(block.end(), blockText.begin(), blockText.end());
  AppendField(out, 0x12, std::string(block.begin(), block.end()));
  AppendField(out, 0x22, file.displayName);
  out.insert(out.end(), {0x48, 0x01});
  AppendField(out, 0x52, file.senderName);
  AppendField(out, 0x5A, file.text);
  return out;
}

std::string WxSessionFilePath(const std::string& userMd5) {
  return "/session/data/" + userMd5.substr(0, 2) + "/" + userMd5;
}

std::string WxIndexTablesSql(int tableCount) {
  std::string sql =
      "CREATE TABLE fts_username_id(usernameid INTEGER PRIMARY KEY, reserved0 INTEGER DEFAULT 0, UsrName TEXT, "
      "tableid INTEGER, reserved1 INTEGER DEFAULT 0, reserved2 INTEGER DEFAULT 0);";
  for (int i = 0; i < tableCount; ++i) {
    sql += "CREATE TABLE " + ContentTable(i) +
           "(docid INTEGER PRIMARY KEY, c0usernameid, c1MesLocalID, c2CreateTime, c3Message, c4Status INTEGER "
           "DEFAULT 0, c5Reserved, c6Reserved);";
  }
  return sql;
}

std::string InsertWxIndexNameSql(int usernameId, const std::string& userName, int tableId) {
  return "INSERT INTO fts_username_id(usernameid, UsrName, tableid) VALUES(" + std::to_string(usernameId) + "," +
         SqlText(userName) + "," + std::to_string(tableId) + ");";
}

std::string InsertWxIndexContentSql(const WxIndexContent& row) {
  return "INSERT INTO " + ContentTable(row.tableId) +
         "(c0usernameid, c1MesLocalID, c2CreateTime, c3Message) VALUES(" + std::to_string(row.usernameId) + "," +
         std::to_string(row.localId) + "," + std::to_string(row.createTime) + "," + SqlText(row.text) + ");";
}

std::string DeleteWxIndexContentSql(const WxIndexContent& row) {
  return "DELETE FROM " + ContentTable(row.tableId) + " WHERE c0usernameid=" + std::to_string(row.usernameId) +
         " AND c1MesLocalID=" + std::to_string(row.localId) + ";";
}

std::string WxSampleMessagesSql() {
  const std::string friendMd5 = WxUserMd5(kFriendName);
  const std::string roomMd5 = WxUserMd5(kRoomName);
  constexpr auto kA = WxChatOrder::kTableVerFirst;
  constexpr auto kB = WxChatOrder::kCreateTimeFirst;
  std::string sql = WxChatTableSql(friendMd5, kA) + WxChatExtTableSql(friendMd5, WxChatExtOrder::kLocalIdFirst);
  const std::vector<WxChatRow> friendRows = {
      {1, 1600000000, "你好，周末去爬山吗？", 1, 1},
      {2, 1600000060, "好啊，几点？", 1, 0},
      {3, 1600000120, "<msg><img length=\"1024\" /></msg>", 3, 1},
      {4, 1600000180,
       "<msg><emoji fromusername=\"wxid_wangfang\" cdnurl = \"http://emoji.qpic.cn/wx_emoji/velmora/0\" "
       "md5=\"5f2b\"/></msg>",
       47, 1},
      {5, 1600000240, "<msg><img length=\"2048\" /></msg>", 3, 1},
      {6, 1600000300, "那就早上八点见", 1, 0},
  };
  for (const WxChatRow& row : friendRows) sql += InsertWxChatSql(friendMd5, row, kA);
  sql += DeleteWxChatSql(friendMd5, 6);
  sql += InsertWxChatExtSql(friendMd5, 1, "<msgsource><silence>0</silence></msgsource>", WxChatExtOrder::kLocalIdFirst);
  sql += InsertWxChatExtSql(friendMd5, 99, "<msgsource/>", WxChatExtOrder::kLocalIdFirst);

  sql += WxChatTableSql(roomMd5, kB) + WxChatExtTableSql(roomMd5, WxChatExtOrder::kConIntRes1First);
  const std::vector<WxChatRow> roomRows = {
      {1, 1600001000, "wxid_wangfang:\n大家周六早上集合", 1, 1},
      {2, 1600001100, "wxid_left99:\n我先退群了", 1, 1},
      {3, 1600001150, "\"李雷\"邀请\"王芳\"加入了群聊", 10002, 1},
      {4, 1600001300, "收到", 1, 0},
      {5, 1600001400, "wxid_stranger64:\n[链接] 路线图", 64, 1},
  };
  for (const WxChatRow& row : roomRows) sql += InsertWxChatSql(roomMd5, row, kB);
  sql += InsertWxChatExtSql(roomMd5, 1, "<msgsource><atuserlist/></msgsource>", WxChatExtOrder::kConIntRes1First);
  return sql;
}

std::string WxSampleSessionsSql() {
  std::string sql = WxSessionTableSql();
  sql += InsertWxSessionSql(kFriendName, 1600000400, WxSessionFilePath(WxUserMd5(kFriendName)));
  sql += InsertWxSessionSql(kRoomName, 1600001300, WxSessionFilePath(WxUserMd5(kRoomName)));
  // Deleted. SQLite writes a free-block header over the first 4 bytes of a
  // freed cell; a row of more than 127 bytes keeps its column types past
  // them, as real session rows (with their further texts) do.
  sql += "INSERT INTO SessionAbstract(UsrName, CreateTime, ConStrRes1, ConStrRes2) VALUES('zhangwei88', 1600000500, " +
         SqlText(WxSessionFilePath(WxUserMd5("zhangwei88"))) + "," + SqlText(std::string(80, 'r')) + ");";
  sql += DeleteWxSessionSql("zhangwei88");
  return sql;
}

std::string WxSampleIndexSql() {
  std::string sql = WxIndexTablesSql(1);
  sql += InsertWxIndexNameSql(1, kFriendName, 0);
  sql += InsertWxIndexNameSql(2, kRoomName, 0);
  sql += InsertWxIndexNameSql(5, "wxid_gone", 0);
  // The app rebuilds the name table without a removed contact: emptying a
  // table leaves its cells in place, and the rows written again take the
  // same places, so the removed row keeps its bytes, row id included.
  sql += "DELETE FROM fts_username_id;";
  sql += InsertWxIndexNameSql(1, kFriendName, 0);
  sql += InsertWxIndexNameSql(2, kRoomName, 0);
  sql += InsertWxIndexContentSql({0, 1, 1, 1600000000, "你好，周末去爬山吗？"});
  sql += InsertWxIndexContentSql({0, 2, 1, 1600001000, "大家周六早上集合"});
  // Deleted; the column types from column 1 on lie past the bytes SQLite
  // overwrites in a freed cell.
  const std::vector<WxIndexContent> deleted = {
      {0, 1, 6, 1600000300, "那就早上八点见"},
      {0, 7, 2, 1600002000, "下次带上我"},
      {0, 5, 3, 1599990000, "再见了"},
      {0, 9, 3, 1599999000, "这条消息的联系人已不在"},
  };
  for (const WxIndexContent& row : deleted) sql += InsertWxIndexContentSql(row);
  for (auto it = deleted.rbegin(); it != deleted.rend(); ++it) sql += DeleteWxIndexContentSql(*it);
  return sql;
}

void AddWxSampleMessageFiles(SampleBackupBuilder& builder, const std::string& accountMd5) {
  const std::string folder = "Documents/" + accountMd5;
  builder.AddDatabase(kWxDomain, folder + "/session/session.db", SqliteFile(WxSampleSessionsSql()));
  const std::vector<WxSessionFile> files = {
      {kFriendName, "王芳", kFriendName, "明天见！"},
      {kRoomName, "周末爬山群", kAccountName, std::string(kAccountName) + ":\n收到"},
      {"zhangwei88", "张伟", "zhangwei88", "改天再约"},
      {"wxid_member2", "李雷", "wxid_member2", "下次带上我"},
  };
  for (const WxSessionFile& file : files) {
    builder.AddFile(kWxDomain, folder + WxSessionFilePath(WxUserMd5(file.userName)), WxSessionFileBytes(file));
  }
  builder.AddDatabase(kWxDomain, folder + "/fts/fts_message.db", SqliteFile(WxSampleIndexSql()));
  builder.AddFile(kWxDomain, folder + "/Img/" + WxUserMd5(kFriendName) + "/3.pic", SampleScenePng(240, 160));
}

}  // namespace sample
