#include "testing/sample_qq.h"

#include <algorithm>
#include <random>

#include "testing/sample_wechat.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }
std::string C2cTable(const std::string& peerUin) { return "tb_c2cMsg_" + peerUin; }
std::string TroopTable(const std::string& groupCode) { return "tb_TroopMsg_" + groupCode; }

// Columns 10 to 50 of a one-to-one table; conversationUin is column 43.
std::string C2cFurtherColumns() {
  std::string sql;
  for (int column = 10; column < kQqC2cColumns; ++column) {
    sql += column == 43 ? ", conversationUin TEXT" : ", ext" + std::to_string(column) + " TEXT";
  }
  return sql;
}

std::string TroopFurtherColumns() {
  std::string sql;
  for (int column = 9; column < kQqTroopColumns; ++column) sql += ", ext" + std::to_string(column) + " TEXT";
  return sql;
}

// A keyed archive of "$null" followed by objects.
Bytes Archive(std::vector<PlistNode> objects) {
  objects.insert(objects.begin(), PlistNode::Text("$null"));
  return WxKeyedArchive(std::move(objects));
}

PlistNode ClassDictionary(std::uint64_t classUid) {
  return PlistNode::Dictionary({{"$class", PlistNode::Uid(classUid)}});
}

}  // namespace

std::vector<PlistNode> QqAccountsObjects(const std::vector<QqAccountEntry>& accounts) {
  std::vector<PlistNode> objects;
  objects.push_back(PlistNode::Text("$null"));
  for (const QqAccountEntry& account : accounts) {
    objects.push_back(ClassDictionary(1));
    objects.push_back(PlistNode::Dictionary({{"uin", PlistNode::Uid(objects.size() + 1)},
                                             {"nick", PlistNode::Uid(objects.size() + 2)}}));
    objects.push_back(PlistNode::Text(account.uin));
    objects.push_back(PlistNode::Text(account.nickname));
  }
  return objects;
}

std::vector<std::uint8_t> QqAccountsArchive(const std::vector<QqAccountEntry>& accounts) {
  return WxKeyedArchive(QqAccountsObjects(accounts));
}

std::vector<std::uint8_t> QqNicknamePlist(const std::string& uin, const std::string& nickname) {
  return Archive({ClassDictionary(4), PlistNode::Text(uin), PlistNode::Text(nickname)});
}

std::string QqMessageDbSql() {
  return "CREATE TABLE tb_c2cTables(uin TEXT PRIMARY KEY);"
         "CREATE TABLE tb_TroopMsgSeq(groupCode TEXT PRIMARY KEY, seq INTEGER);";
}

std::string QqC2cTableSql(const std::string& peerUin) {
  return "INSERT INTO tb_c2cTables(uin) VALUES(" + SqlText(C2cTable(peerUin)) + ");" + "CREATE TABLE " +
         Quoted(C2cTable(peerUin)) +
         "(msgId INTEGER PRIMARY KEY, uin TEXT, time INTEGER, type INTEGER DEFAULT 0, flag INTEGER DEFAULT 0, "
         "read INTEGER DEFAULT 1, content TEXT, status INTEGER DEFAULT 0, sendState INTEGER DEFAULT 0, "
         "isOffline INTEGER DEFAULT 0" +
         C2cFurtherColumns() + ");";
}

std::string InsertQqC2cSql(const std::string& peerUin, const QqC2cRow& row) {
  return "INSERT INTO " + Quoted(C2cTable(peerUin)) +
         "(msgId, uin, time, type, flag, content, conversationUin) VALUES(" +
         std::to_string(row.msgId) + "," + SqlText(row.uin) + "," + std::to_string(row.time) + "," +
         std::to_string(row.type) + "," + std::to_string(row.flag) + "," + SqlText(row.content) + "," +
         SqlTextOrNull(row.conversationUin) + ");";
}

std::string DeleteQqC2cSql(const std::string& peerUin, int msgId) {
  return "DELETE FROM " + Quoted(C2cTable(peerUin)) + " WHERE msgId=" + std::to_string(msgId) + ";";
}

std::string QqTroopTableSql(const std::string& groupCode) {
  return "INSERT INTO tb_TroopMsgSeq(groupCode, seq) VALUES(" + SqlText(groupCode) + ", 1000);" + "CREATE TABLE " +
         Quoted(TroopTable(groupCode)) +
         "(msgId INTEGER PRIMARY KEY, SendUin INTEGER, MsgSeq INTEGER, MsgTime INTEGER, sMsgType INTEGER DEFAULT 0, "
         "strMsg TEXT, nickName TEXT, read INTEGER DEFAULT 1, moreflag INTEGER DEFAULT 0" +
         TroopFurtherColumns() + ");";
}

std::string InsertQqTroopSql(const std::string& groupCode, const QqTroopRow& row) {
  return "INSERT INTO " + Quoted(TroopTable(groupCode)) +
         "(msgId, SendUin, MsgSeq, MsgTime, sMsgType, strMsg, nickName, moreflag) VALUES(" + std::to_string(row.msgId) +
         "," + std::to_string(row.sendUin) + "," + std::to_string(row.msgSeq) + "," + std::to_string(row.time) + "," +
         std::to_string(row.type) + "," + SqlText(row.text) + "," + SqlTextOrNull(row.nickName) + "," +
         std::to_string(row.moreflag) + ");";
}

std::string DeleteQqTroopSql(const std::string& groupCode, int msgId) {
  return "DELETE FROM " + Quoted(TroopTable(groupCode)) + " WHERE msgId=" + std::to_string(msgId) + ";";
}

std::string QqIndexDbSql() {
  std::string sql;
  for (const char* table : {"tb_Index_c2cMsg_content", "tb_Index_TroopMsg_content", "tb_Index_discussGrp_content"}) {
    sql += std::string("CREATE TABLE ") + table +
           "(docid INTEGER PRIMARY KEY, c0msgId, c1uin, c2time, c3msgType, c4flag, c5nickName, c6msgSeq, c7content, "
           "c8conversationUin, c9isDeleted, c10reserved, c11reserved);";
  }
  return sql;
}

std::string InsertQqIndexSql(const std::string& table, const QqIndexRow& row) {
  return "INSERT INTO " + Quoted(table) +
         "(docid, c0msgId, c1uin, c2time, c3msgType, c4flag, c6msgSeq, c7content, c8conversationUin, c9isDeleted) "
         "VALUES(" +
         std::to_string(row.docId) + "," + std::to_string(row.msgId) + "," + SqlText(row.uin) + "," +
         std::to_string(row.time) + ",0," + std::to_string(row.flag) + ",0," + SqlText(row.content) + "," +
         SqlTextOrNull(row.conversationUin) + "," + std::to_string(row.isDeleted) + ");";
}

std::string DeleteQqIndexSql(const std::string& table, int docId) {
  return "DELETE FROM " + Quoted(table) + " WHERE docid=" + std::to_string(docId) + ";";
}

void AddQqAccountFiles(SampleBackupBuilder& builder, const std::string& domain, const std::string& uin,
                       const std::string& messageDbSql, const std::string& indexSql) {
  const std::string folder = "Documents/contents/" + uin + "/";
  builder.AddDatabase(domain, folder + "QQ.db", SqliteFile(messageDbSql));
  if (!indexSql.empty()) builder.AddDatabase(domain, folder + "FTSMsg.db", SqliteFile(indexSql));
}

void AddQqNickname(SampleBackupBuilder& builder, const std::string& domain, const std::string& owner,
                   const std::string& uin, const std::string& nickname) {
  builder.AddFile(domain, "Documents/contents/" + owner + "/FriendInfo/friend_" + uin + ".plist",
                  QqNicknamePlist(uin, nickname));
}

std::vector<std::uint8_t> QqNtMessageDb(int pages, std::size_t headerBytes, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes;
  if (headerBytes > 0) {
    const std::string nearMiss("SQLite header 3", 16);  // with its 0, as the magic has
    bytes.assign(nearMiss.begin(), nearMiss.end());
    bytes.resize(std::max(headerBytes, nearMiss.size()), 0);
  }
  std::mt19937 noise(seed);
  const std::size_t total = bytes.size() + static_cast<std::size_t>(std::max(pages, 0)) * kQqNtPageSize;
  while (bytes.size() < total) bytes.push_back(static_cast<std::uint8_t>(noise()));
  return bytes;
}

std::string QqNtFolderOfAccount(const std::string& uin) { return "Documents/contents/" + uin + "/QQNT/DB/nt_db"; }

void AddQqNtAccountFiles(SampleBackupBuilder& builder, const std::string& hash,
                         const std::vector<std::uint8_t>& messageDb, const std::string& folder) {
  const std::string accountFolder = folder + "/nt_qq_" + hash + "/";
  builder.AddFile(kQqAppDomain, accountFolder + "nt_msg.db", messageDb);
  builder.AddFile(kQqAppDomain, accountFolder + "guild_msg.db", QqNtMessageDb(2, 0, 2));
}

namespace {

constexpr char kAccount[] = "284655012";
constexpr char kFriend[] = "315720468";      // 王芳
constexpr char kBoth[] = "586301274";        // 张伟: a friend and a group
constexpr char kGroup[] = "725364918";       // 周末爬山群
constexpr std::int64_t kMemberLi = 402938571;  // 老李, known only as a group member
constexpr char kTimAccount[] = "193847562";
constexpr char kColleague[] = "620481937";   // 陈经理

std::string SampleMessageDbSql() {
  std::string sql = QqMessageDbSql();
  sql += QqC2cTableSql(kFriend);
  sql += QqC2cTableSql(kBoth);
  sql += QqTroopTableSql(kGroup);
  sql += QqTroopTableSql(kBoth);
  const std::vector<QqC2cRow> friendRows = {
      {1, kFriend, 1600000000, 0, 1, "周末去爬山吗？", kFriend},
      {2, kFriend, 1600000060, 0, 0, "好啊，几点出发？", kFriend},
      {3, kFriend, 1600000120, 1, 1, "[图片]", kFriend},
      {4, kFriend, 1600000180, 0, 1, "那就早上八点，山脚下见", kFriend},
  };
  for (const QqC2cRow& row : friendRows) sql += InsertQqC2cSql(kFriend, row);
  sql += DeleteQqC2cSql(kFriend, 4);
  sql += InsertQqC2cSql(kBoth, {1, kBoth, 1600003600, 0, 1, "文件收到了，谢谢", kBoth});
  const std::vector<QqTroopRow> groupRows = {
      {1, 315720468, 1001, 1600007200, 0, "大家周六早上集合", "王芳"},
      {2, 284655012, 1002, 1600007260, 0, "收到", "小雨"},
      {3, kMemberLi, 1003, 1600007320, 0, "我带水和干粮", "老李"},
      {4, kMemberLi, 1004, 1600007380, 0, "我可能去不了了", "老李"},
  };
  for (const QqTroopRow& row : groupRows) sql += InsertQqTroopSql(kGroup, row);
  sql += DeleteQqTroopSql(kGroup, 4);
  sql += InsertQqTroopSql(kBoth, {1, kMemberLi, 2001, 1600010800, 0, "资料发群里了", "老李"});
  return sql;
}

std::string SampleIndexSql() {
  std::string sql = QqIndexDbSql();
  const std::string c2c = "tb_Index_c2cMsg_content";
  // Repeats the live first message: not shown twice.
  sql += InsertQqIndexSql(c2c, {1, 1, kFriend, 1600000000, 1, "周末去爬山吗？", kFriend, 0});
  // The message table lost it; the index kept it.
  sql += InsertQqIndexSql(c2c, {2, 5, kFriend, 1600000240, 1, "明天见！记得带伞", kFriend, 0});
  sql += InsertQqIndexSql(c2c, {3, 6, kFriend, 1600000300, 1, "这条消息已经撤回了吗", kFriend, 0});
  sql += DeleteQqIndexSql(c2c, 3);
  sql += InsertQqIndexSql("tb_Index_TroopMsg_content", {1, 1, kFriend, 1600007200, 0, "大家周六早上集合", kGroup, 0});
  return sql;
}

}  // namespace

void AddQqApp(SampleBackupBuilder& builder) {
  // TIM keeps its files under the same relative paths as QQ: in the folder
  // form of a backup, which has no domains, the one added last is kept, and
  // that is QQ's.
  builder.AddFile(kTimAppDomain, "Documents/QQAccountsManager", QqAccountsArchive({{kTimAccount, "林小雨"}}));
  std::string timSql = QqMessageDbSql() + QqC2cTableSql(kColleague);
  timSql += InsertQqC2cSql(kColleague, {1, kColleague, 1600086400, 0, 1, "下午三点开会", kColleague});
  timSql += InsertQqC2cSql(kColleague, {2, kColleague, 1600086460, 0, 0, "好的，准时到", kColleague});
  AddQqAccountFiles(builder, kTimAppDomain, kTimAccount, timSql);
  AddQqNickname(builder, kTimAppDomain, kTimAccount, kColleague, "陈经理");

  builder.AddFile(kQqAppDomain, "Documents/QQAccountsManager", QqAccountsArchive({{kAccount, "小雨"}}));
  AddQqAccountFiles(builder, kQqAppDomain, kAccount, SampleMessageDbSql(), SampleIndexSql());
  AddQqNickname(builder, kQqAppDomain, kAccount, kFriend, "王芳");
  AddQqNickname(builder, kQqAppDomain, kAccount, kBoth, "张伟");
  AddQqNickname(builder, kQqAppDomain, kAccount, kGroup, "周末爬山群");
}

}  // namespace sample
