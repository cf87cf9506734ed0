#include "base/categories.h"
#include "chat/qq_account.h"
#include "chat/qq_messages.h"
#include "testing/sample_qq.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "chat/wechat_account.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"
#include "testing/sample_wechat.h"

namespace {

using chat::CLocalUserList;
using chat::CQqLocalUser;
using chat::DBITEM_QqChat;
using chat::DBITEM_QqFriend;
using sample::BackupMode;
using sample::PlistNode;
using sample::QqC2cRow;
using sample::QqTroopRow;

constexpr char kQq[] = "AppDomain-com.tencent.mqq";
constexpr char kTim[] = "AppDomain-com.tencent.tim";

// A backup written from builder into a temporary folder, with its index and
// the QQ half of an account list analysed over it.
class QqBackup {
 public:
  QqBackup(const sample::SampleBackupBuilder& builder, BackupMode mode) {
    builder.Write(root_.Path(), mode);
    EXPECT_TRUE(index_.Open(root_.Path().string(), 0).Ok());
    list_.showMessage = [this](const std::string& text, const std::string&) { messages_.push_back(text); };
  }
  int Find() { return list_.FindLocalUsers(&index_, base::kCategoryQq); }
  CLocalUserList& Analysed() {
    EXPECT_EQ(Find(), 1);
    EXPECT_EQ(list_.AnalyseQqUsers(), 1);
    return list_;
  }
  CLocalUserList& List() { return list_; }
  backup::CFileListDB& Index() { return index_; }
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  platform::TempFolder root_{"velmora-qqtest"};
  backup::CFileListDB index_;
  CLocalUserList list_;
  std::vector<std::string> messages_;
};

DBITEM_QqFriend* Contact(CQqLocalUser& account, const std::string& number) {
  const auto found = account.contactsByUin.find(number);
  return found == account.contactsByUin.end() ? nullptr : found->second;
}

const DBITEM_QqChat* MessageOf(const DBITEM_QqFriend& conversation, const std::string& content) {
  for (const db::BaseItem* item : conversation.items) {
    const auto* m = static_cast<const DBITEM_QqChat*>(item);
    if (m->content == content) return m;
  }
  return nullptr;
}

std::vector<std::string> Contents(const DBITEM_QqFriend& conversation) {
  std::vector<std::string> contents;
  for (const db::BaseItem* item : conversation.items) {
    contents.push_back(static_cast<const DBITEM_QqChat*>(item)->content);
  }
  return contents;
}

std::vector<PlistNode> Objects(std::initializer_list<const char*> shape) {
  // "d" a dictionary, "i" an integer, anything else a text.
  std::vector<PlistNode> objects;
  for (const char* entry : shape) {
    const std::string text = entry;
    if (text == "d") {
      objects.push_back(PlistNode::Dictionary({{"$class", PlistNode::Uid(0)}}));
    } else if (text == "i") {
      objects.push_back(PlistNode::Integer(7));
    } else {
      objects.push_back(PlistNode::Text(text));
    }
  }
  return objects;
}

// --- the account archive --------------------------------------------------

struct ArchiveCase {
  const char* name;
  std::vector<PlistNode> objects;
  std::vector<std::pair<std::string, std::string>> accounts;  // number, nickname
};

TEST(FindQqUsers, WalksTheArchiveByTwoDictionaries) {
  const std::vector<ArchiveCase> cases = {
      {"dict, dict, number, nickname", Objects({"d", "d", "10001", "Alice"}), {{"10001", "Alice"}}},
      {"a single dictionary", Objects({"$null", "d", "10001", "Alice"}), {}},
      {"keyed archive of two accounts", sample::QqAccountsObjects({{"10001", "Alice"}, {"20002", "鲍勃"}}),
       {{"10001", "Alice"}, {"20002", "鲍勃"}}},
      {"three dictionaries: the count starts again", Objects({"d", "d", "d", "10001", "Alice"}), {}},
      {"a non-text nickname", Objects({"d", "d", "10001", "i"}), {}},
      {"cut after the number", Objects({"d", "d", "10001"}), {}},
      {"a text between the dictionaries", Objects({"d", "x", "d", "10001", "Alice"}), {}},
  };
  for (const ArchiveCase& c : cases) {
    SCOPED_TRACE(c.name);
    sample::SampleBackupBuilder builder;
    builder.AddFile(kQq, "Documents/QQAccountsManager", sample::WxKeyedArchive(c.objects));
    QqBackup backup(builder, BackupMode::kManifestDb);
    EXPECT_EQ(backup.Find(), 1);  // an archive was found, accounts or not
    const auto& users = backup.List().qqUsers;
    ASSERT_EQ(users.size(), c.accounts.size());
    for (std::size_t i = 0; i < users.size(); ++i) {
      const CQqLocalUser& account = *users[i];
      EXPECT_EQ(account.uin, c.accounts[i].first);
      EXPECT_EQ(account.userName, c.accounts[i].first);
      EXPECT_EQ(account.DisplayName(), c.accounts[i].second);
      EXPECT_EQ(account.index, static_cast<std::int32_t>(i));
      EXPECT_EQ(account.isTim, 0);
      EXPECT_EQ(account.AvatarUrl(), "http://q1.qlogo.cn/headimg_dl?dst_uin=" + account.uin + "&spec=100");
      EXPECT_EQ(account.contactsByUin.at(account.uin), &account);
      EXPECT_TRUE(account.contacts.empty());
    }
  }
}

TEST(FindQqUsers, DamagedArchiveIsSkippedAndTimAccountsFollow) {
  sample::SampleBackupBuilder builder;
  builder.AddText(kQq, "Documents/Old/QQAccountsManager", "bplist00 this is not a property list");
  builder.AddFile(kQq, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"10001", "Alice"}}));
  builder.AddFile(kTim, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"10001", "Alice"}}));
  QqBackup backup(builder, BackupMode::kManifestDb);
  EXPECT_EQ(backup.Find(), 1);
  const auto& users = backup.List().qqUsers;
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0]->userName, "10001");
  const CQqLocalUser& tim = *users[1];
  EXPECT_EQ(tim.userName, "10001(TIM)");
  EXPECT_EQ(tim.uin, "10001");
  EXPECT_EQ(tim.isTim, 1);
  EXPECT_EQ(tim.index, 1);
  EXPECT_TRUE(tim.AvatarUrl().empty());
  EXPECT_TRUE(tim.contactsByUin.empty());
  EXPECT_STREQ(tim.Domain(), kTim);
}

TEST(FindQqUsers, NoArchiveMeansNoAccountAndAMessage) {
  sample::SampleBackupBuilder builder;
  builder.AddText("HomeDomain", "Library/Preferences/x.plist", "<plist/>");
  for (const BackupMode mode : {BackupMode::kManifestDb, BackupMode::kFolder}) {
    QqBackup backup(builder, mode);
    EXPECT_EQ(backup.Find(), 0);
    EXPECT_EQ(backup.List().AnalyseQqUsers(), 1);
    EXPECT_EQ(backup.Messages(), std::vector<std::string>{"未找到QQ本地帐号"});
    EXPECT_EQ(backup.List().qqAnalysedAt, 0);
  }
}

// --- the sample app, in every backup form ---------------------------------

class QqSampleTest : public ::testing::TestWithParam<BackupMode> {};

TEST_P(QqSampleTest, ReadsAccountsContactsAndMessages) {
  sample::SampleBackupBuilder builder;
  sample::AddQqApp(builder);
  QqBackup backup(builder, GetParam());
  CLocalUserList& list = backup.Analysed();
  EXPECT_NE(list.qqAnalysedAt, 0);
  // A folder is one app's files: TIM's accounts are not looked for there.
  ASSERT_EQ(list.qqUsers.size(), GetParam() == BackupMode::kFolder ? 1u : 2u);
  CQqLocalUser& account = *list.qqUsers[0];
  EXPECT_EQ(account.DisplayName(), "小雨");
  EXPECT_FALSE(account.qqDb == nullptr);
  EXPECT_FALSE(account.ftsDb == nullptr);

  // Contacts: names from their nickname files.
  DBITEM_QqFriend* wang = Contact(account, "315720468");
  ASSERT_NE(wang, nullptr);
  EXPECT_EQ(wang->DisplayName(), "王芳");
  EXPECT_EQ(wang->type, chat::kQqTypeFriend);
  EXPECT_EQ(wang->c2cTable, "tb_c2cMsg_315720468");
  EXPECT_EQ(wang->uinNumber, 315720468);
  EXPECT_EQ(wang->owner, &account);
  DBITEM_QqFriend* group = Contact(account, "725364918");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->DisplayName(), "周末爬山群");
  EXPECT_EQ(group->type, chat::kQqTypeGroup);
  EXPECT_EQ(group->troopTable, "tb_TroopMsg_725364918");

  // A number in both lists: one contact, both tables read.
  DBITEM_QqFriend* both = Contact(account, "586301274");
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(both->type, chat::kQqTypeBoth);
  EXPECT_EQ(both->c2cTable, "tb_c2cMsg_586301274");
  EXPECT_EQ(both->troopTable, "tb_TroopMsg_586301274");
  EXPECT_EQ(std::count_if(account.contacts.begin(), account.contacts.end(),
                          [](const auto& c) { return c->userName == "586301274"; }),
            1);
  EXPECT_NE(MessageOf(*both, "文件收到了，谢谢"), nullptr);
  EXPECT_NE(MessageOf(*both, "资料发群里了"), nullptr);

  // The friend's conversation: live messages first, in table order; the
  // index's own message and the deleted ones after them, each once.
  const std::vector<std::string> contents = Contents(*wang);
  ASSERT_GE(contents.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(contents.begin(), contents.begin() + 3),
            (std::vector<std::string>{"周末去爬山吗？", "好啊，几点出发？", "[图片]"}));
  for (const char* text : {"周末去爬山吗？", "明天见！记得带伞", "那就早上八点，山脚下见", "这条消息已经撤回了吗"}) {
    EXPECT_EQ(std::count(contents.begin(), contents.end(), std::string(text)), 1) << text;
  }
  EXPECT_EQ(contents.size(), 6u);
  const DBITEM_QqChat* received = MessageOf(*wang, "周末去爬山吗？");
  EXPECT_EQ(received->sender, wang);  // flag 1: the contact of its "uin"
  EXPECT_EQ(received->deleted, 0);
  EXPECT_EQ(received->time, 1600000000);
  EXPECT_EQ(received->conversation, wang);
  EXPECT_EQ(MessageOf(*wang, "好啊，几点出发？")->sender, &account);  // flag 0: the account
  const DBITEM_QqChat* picture = MessageOf(*wang, "[图片]");
  EXPECT_TRUE(picture->mediaPath.ends_with("movietype.png"));
  EXPECT_TRUE(MessageOf(*wang, "好啊，几点出发？")->mediaPath.empty());
  for (const char* text : {"明天见！记得带伞", "那就早上八点，山脚下见", "这条消息已经撤回了吗"}) {
    const DBITEM_QqChat* m = MessageOf(*wang, text);
    ASSERT_NE(m, nullptr) << text;
    EXPECT_EQ(m->deleted, 1) << text;
    EXPECT_EQ(m->sender, wang) << text;
  }
  EXPECT_EQ(MessageOf(*wang, "那就早上八点，山脚下见")->time, 1600000180);
  EXPECT_EQ(wang->deletedCount, 3);

  // The group: members named by their group nickname; its index row
  // repeats a live message and is dropped. Its deleted row names no
  // conversation, but lies on the group table's own page.
  EXPECT_EQ(Contents(*group), (std::vector<std::string>{"大家周六早上集合", "收到", "我带水和干粮", "我可能去不了了"}));
  EXPECT_EQ(MessageOf(*group, "大家周六早上集合")->sender, wang);
  EXPECT_EQ(MessageOf(*group, "收到")->sender, &account);
  const DBITEM_QqFriend* li = Contact(account, "402938571");
  ASSERT_NE(li, nullptr);
  EXPECT_EQ(li->DisplayName(), "老李");
  EXPECT_EQ(MessageOf(*group, "我带水和干粮")->sender, li);
  const DBITEM_QqChat* gone = MessageOf(*group, "我可能去不了了");
  EXPECT_EQ(gone->deleted, 1);
  EXPECT_EQ(gone->sender, li);
  EXPECT_EQ(gone->time, 1600007380);
  EXPECT_EQ(group->deletedCount, 1);
  EXPECT_TRUE(std::none_of(account.contacts.begin(), account.contacts.end(),
                           [](const auto& c) { return c->userName.starts_with("未知用户_"); }));

  if (GetParam() != BackupMode::kFolder) {
    CQqLocalUser& tim = *list.qqUsers[1];
    EXPECT_EQ(tim.userName, "193847562(TIM)");
    DBITEM_QqFriend* colleague = Contact(tim, "620481937");
    ASSERT_NE(colleague, nullptr);
    EXPECT_EQ(colleague->DisplayName(), "陈经理");  // from TIM's own nickname file
    EXPECT_EQ(Contents(*colleague), (std::vector<std::string>{"下午三点开会", "好的，准时到"}));
    EXPECT_EQ(MessageOf(*colleague, "好的，准时到")->sender, &tim);
    EXPECT_TRUE(tim.ftsDb == nullptr);
  }
}

// The test name of a backup form.
std::string ModeName(const ::testing::TestParamInfo<BackupMode>& param) {
  switch (param.param) {
    case BackupMode::kManifestDb: return "ManifestDb";
    case BackupMode::kManifestMbdb: return "Mbdb";
    default: return "Folder";
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, QqSampleTest,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         ModeName);

TEST(AnalyseQqUsers, SecondAnalysisGivesTheSameRecords) {
  sample::SampleBackupBuilder builder;
  sample::AddQqApp(builder);
  QqBackup backup(builder, BackupMode::kManifestDb);
  CLocalUserList& list = backup.Analysed();
  CQqLocalUser& account = *list.qqUsers[0];
  const std::size_t contacts = account.contacts.size();
  const std::size_t messages = account.messagesByKey.size();
  list.AnalyseQqUsers();  // within the hour: nothing is redone
  EXPECT_EQ(account.contacts.size(), contacts);
  list.qqAnalysedAt = 0;
  list.AnalyseQqUsers();
  EXPECT_EQ(account.contacts.size(), contacts);
  EXPECT_EQ(account.messagesByKey.size(), messages);
  EXPECT_EQ(MessageOf(*Contact(account, "725364918"), "收到")->sender, &account);
}

// --- recovered messages ---------------------------------------------------

// A deleted row goes to the conversation whose table held its page, whether
// or not it names one; a row of a free page (its table dropped) that names
// none gets a conversation of its own.
TEST(RecoverQqDeletedMessages, RowsGoToTheirTablesConversationElseOneEach) {
  const std::string peer = "315720468";
  const std::string dropped = "315799999";
  std::string sql = sample::QqMessageDbSql() + sample::QqC2cTableSql(peer);
  sql += sample::InsertQqC2cSql(peer, {1, peer, 1600000000, 0, 1, "还在吗？", peer});
  sql += sample::InsertQqC2cSql(peer, {2, peer, 1600000050, 0, 1, "没有会话号，在它的表里", ""});
  sql += sample::DeleteQqC2cSql(peer, 2);
  // A conversation removed whole: its table dropped, its listing gone.
  sql += sample::QqC2cTableSql(dropped);
  sql += sample::InsertQqC2cSql(dropped, {1, dropped, 1600000100, 0, 1, "第一条没有会话号的消息", ""});
  sql += sample::InsertQqC2cSql(dropped, {2, dropped, 1600000200, 0, 1, "第二条没有会话号的消息", ""});
  sql += "DROP TABLE \"tb_c2cMsg_" + dropped + "\"; DELETE FROM tb_c2cTables WHERE uin = 'tb_c2cMsg_" + dropped + "';";
  sample::SampleBackupBuilder builder;
  builder.AddFile(kQq, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"284655012", "小雨"}}));
  sample::AddQqAccountFiles(builder, kQq, "284655012", sql);
  QqBackup backup(builder, BackupMode::kManifestDb);
  CQqLocalUser& account = *backup.Analysed().qqUsers[0];

  EXPECT_EQ(Contents(*Contact(account, peer)), (std::vector<std::string>{"还在吗？", "没有会话号，在它的表里"}));
  EXPECT_EQ(MessageOf(*Contact(account, peer), "没有会话号，在它的表里")->deleted, 1);
  // Each of the dropped table's rows: a conversation of its own.
  std::vector<std::string> found;
  for (const auto& c : account.contacts) {
    if (!c->userName.starts_with("未知用户_")) continue;
    ASSERT_EQ(c->items.size(), 1u) << c->userName;
    EXPECT_EQ(c->items[0]->deleted, 1);
    EXPECT_EQ(c->deletedConversation, 1);
    EXPECT_EQ(c->deletedCount, 1);
    found.push_back(static_cast<const DBITEM_QqChat*>(c->items[0])->content);
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"第一条没有会话号的消息", "第二条没有会话号的消息"}));
}

// Message tables in WAL mode, with rows deleted in the file and rows written
// and deleted again after the checkpoint (only in older frames of the log),
// in the tables the numbered layouts were made for and in narrower ones:
// each deleted row comes back once, in its own conversation, those only in
// the log marked so; no live message and no older version of one (its read
// flag changed in the log) comes back.
TEST(RecoverQqDeletedMessages, RowsOfTheFileAndOfTheLogInEveryTableShape) {
  const std::string friends[] = {"315720468", "315728387"};
  const std::string group = "725364918";
  const auto text = [](const std::string& who, int n) {
    return who.substr(6) + "#" + std::to_string(n) + " 周末去爬山吗？" + std::string(static_cast<std::size_t>(n % 3) * 30, '~');
  };
  struct Shape {
    const char* name;
    std::function<std::string(const std::string&)> c2cTable, groupTable;
    bool conversationColumn;  // the one-to-one table's
    bool msgSeqColumn;        // the group table's
  };
  const Shape shapes[] = {
      {"the numbered layouts' shapes", [](const std::string& peer) { return sample::QqC2cTableSql(peer); },
       [](const std::string& code) { return sample::QqTroopTableSql(code); }, true, true},
      {"narrower tables",
       [](const std::string& peer) {
         return "INSERT INTO tb_c2cTables(uin) VALUES('tb_c2cMsg_" + peer + "'); CREATE TABLE \"tb_c2cMsg_" + peer +
                "\" (msgId INTEGER PRIMARY KEY, uin TEXT, time INTEGER, type INTEGER, flag INTEGER, read INTEGER, "
                "content TEXT);";
       },
       [](const std::string& code) {
         return "INSERT INTO tb_TroopMsgSeq(groupCode, seq) VALUES('" + code + "', 1); CREATE TABLE \"tb_TroopMsg_" +
                code + "\" (msgId INTEGER PRIMARY KEY, SendUin INTEGER, MsgTime INTEGER, sMsgType INTEGER, "
                "strMsg TEXT, nickName TEXT, moreflag INTEGER);";
       },
       false, false},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const auto c2cRow = [&](const std::string& peer, int n) {
      return "INSERT INTO \"tb_c2cMsg_" + peer + "\" (msgId, uin, time, type, flag, read, content" +
             (shape.conversationColumn ? ", conversationUin" : "") + ") VALUES (" + std::to_string(n) + ", '" + peer +
             "', " + std::to_string(1600000000 + n * 60) + ", 0, " + std::to_string(n % 2) + ", 0, '" + text(peer, n) +
             "'" + (shape.conversationColumn ? ", '" + peer + "'" : "") + ");";
    };
    const auto groupRow = [&](int n) {
      return "INSERT INTO \"tb_TroopMsg_" + group + "\" (msgId, SendUin, MsgTime, sMsgType, strMsg, nickName, moreflag" +
             (shape.msgSeqColumn ? ", MsgSeq" : "") + ") VALUES (" + std::to_string(n) + ", 402938571, " +
             std::to_string(1600000030 + n * 60) + ", 0, '" + text(group, n) + "', '老李', 0" +
             (shape.msgSeqColumn ? ", " + std::to_string(1000 + n) : "") + ");";
    };
    std::string setup = sample::QqMessageDbSql() + shape.c2cTable(friends[0]) + shape.c2cTable(friends[1]) +
                        shape.groupTable(group) + "BEGIN;";
    for (int n = 1; n <= 60; ++n) setup += c2cRow(friends[0], n) + c2cRow(friends[1], n) + groupRow(n);
    setup += "COMMIT;";
    setup += "DELETE FROM \"tb_c2cMsg_" + friends[0] + "\" WHERE msgId IN (5, 6, 7);";
    setup += "DELETE FROM \"tb_TroopMsg_" + group + "\" WHERE msgId = 9;";
    std::string recent;
    for (int n = 61; n <= 66; ++n) recent += c2cRow(friends[1], n);
    recent += "DELETE FROM \"tb_c2cMsg_" + friends[1] + "\" WHERE msgId IN (62, 64);";
    recent += "DELETE FROM \"tb_c2cMsg_" + friends[1] + "\" WHERE msgId = 20;";  // whole in the file still
    recent += "UPDATE \"tb_c2cMsg_" + friends[0] + "\" SET read = 1;";
    const sample::SqliteFile database(setup, recent, sample::SqliteFile::Journal::kWalPending);
    sample::SampleBackupBuilder builder;
    builder.AddFile(kQq, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"284655012", "小雨"}}));
    builder.AddDatabase(kQq, "Documents/contents/284655012/QQ.db", database);
    QqBackup backup(builder, BackupMode::kManifestDb);
    CQqLocalUser& account = *backup.Analysed().qqUsers[0];

    using From = db::BaseItem::DeletedFrom;
    std::map<std::string, std::map<std::string, From>> recovered;  // conversation -> text -> where
    for (const auto& contact : account.contacts) {
      for (const db::BaseItem* item : contact->items) {
        if (item->deleted == 0) continue;
        const std::string& content = static_cast<const DBITEM_QqChat*>(item)->content;
        EXPECT_TRUE(recovered[contact->userName].emplace(content, item->deletedFrom).second) << "twice: " << content;
      }
    }
    const std::map<std::string, std::map<std::string, From>> expected = {
        {friends[0], {{text(friends[0], 5), From::kFreeSpace}, {text(friends[0], 6), From::kFreeSpace},
                      {text(friends[0], 7), From::kFreeSpace}}},
        {friends[1], {{text(friends[1], 20), From::kFreeSpace}, {text(friends[1], 62), From::kWal},
                      {text(friends[1], 64), From::kWal}}},
        {group, {{text(group, 9), From::kFreeSpace}}},
    };
    EXPECT_EQ(recovered, expected);
    EXPECT_EQ(Contact(account, friends[0])->items.size(), 60u);
    EXPECT_EQ(Contact(account, friends[1])->items.size(), 66u);
  }
}

TEST(LoadQqAccount, TableNamesFromTheDataAreCheckedAndQuoted) {
  std::string sql = sample::QqMessageDbSql();
  // Listed but missing; a name without "_"; a real table whose name needs quoting.
  sql += "INSERT INTO tb_c2cTables(uin) VALUES('tb_c2cMsg_404'), ('nounderscore'), ('tb_c2cMsg_7\"7');";
  sql += "CREATE TABLE \"tb_c2cMsg_7\"\"7\"(msgId INTEGER PRIMARY KEY, uin TEXT, time REAL, type, flag, content TEXT);";
  sql += "INSERT INTO \"tb_c2cMsg_7\"\"7\"(uin, time, type, flag, content) "
         "VALUES('7\"7', 1600000000.75, 0, 1, '读到了');";
  sample::SampleBackupBuilder builder;
  builder.AddFile(kQq, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"10001", "Alice"}}));
  sample::AddQqAccountFiles(builder, kQq, "10001", sql);
  QqBackup backup(builder, BackupMode::kManifestDb);
  CQqLocalUser& account = *backup.Analysed().qqUsers[0];
  ASSERT_NE(Contact(account, "404"), nullptr);
  EXPECT_TRUE(Contact(account, "404")->items.empty());
  const DBITEM_QqFriend* unnamed = Contact(account, "");
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(unnamed->c2cTable, "nounderscore");
  const DBITEM_QqFriend* quoted = Contact(account, "7\"7");
  ASSERT_NE(quoted, nullptr);
  ASSERT_EQ(Contents(*quoted), std::vector<std::string>{"读到了"});
  EXPECT_EQ(quoted->items[0]->time, 1600000000);  // the fraction cut off
}

TEST(LoadQqAccount, MissingDatabasesAndAnotherAccountsFiles) {
  sample::SampleBackupBuilder builder;
  builder.AddFile(kQq, "Documents/QQAccountsManager",
                  sample::QqAccountsArchive({{"10001", "Alice"}, {"20002", "Bob"}}));
  // 110001's database must not pass for 10001's.
  sample::AddQqAccountFiles(builder, kQq, "110001", sample::QqMessageDbSql() + sample::QqC2cTableSql("30003"));
  sample::AddQqAccountFiles(builder, kQq, "20002", sample::QqMessageDbSql() + sample::QqC2cTableSql("30003"));
  QqBackup backup(builder, BackupMode::kManifestDb);
  CLocalUserList& list = backup.Analysed();
  ASSERT_EQ(list.qqUsers.size(), 2u);
  EXPECT_TRUE(list.qqUsers[0]->contacts.empty());
  EXPECT_TRUE(list.qqUsers[0]->qqDb == nullptr);
  ASSERT_EQ(list.qqUsers[1]->contacts.size(), 1u);  // no FTSMsg.db: the rest is read
  EXPECT_TRUE(list.qqUsers[1]->ftsDb == nullptr);
  EXPECT_TRUE(backup.Messages().empty());
}

TEST(FindLocalUsers, FolderWithOnlyAMessageDatabaseGetsTheUnknownAccount) {
  const std::string peer = "315720468";
  std::string sql = sample::QqMessageDbSql() + sample::QqC2cTableSql(peer);
  sql += sample::InsertQqC2cSql(peer, {1, peer, 1600000000, 0, 1, "你好", peer});
  sample::SampleBackupBuilder builder;
  builder.AddDatabase(kQq, "QQ.db", sample::SqliteFile(sql));
  QqBackup backup(builder, BackupMode::kFolder);
  CLocalUserList& list = backup.Analysed();
  ASSERT_EQ(list.qqUsers.size(), 1u);
  CQqLocalUser& account = *list.qqUsers[0];
  EXPECT_EQ(account.uin, "本地登录未知用户");
  EXPECT_EQ(account.DisplayName(), "本地登录未知用户");
  DBITEM_QqFriend* c = Contact(account, peer);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Contents(*c), std::vector<std::string>{"你好"});

  // Outside folder mode a stray QQ.db makes no account.
  QqBackup manifest(builder, BackupMode::kManifestDb);
  EXPECT_EQ(manifest.Find(), 0);
}

// --- current builds ("QQ NT") --------------------------------------------

constexpr char kOwner[] = "284655012";
constexpr char kPeer[] = "315720468";
constexpr char kHash[] = "5f1c0a9e7d3b46e2a8c4f06b19d7e352";
// Where the one tie read here puts an NT folder: below the account's own.
const std::string kTiedFolder = sample::QqNtFolderOfAccount(kOwner);

// The archive naming kOwner, and its older QQ.db with one message.
void AddOlderAccount(sample::SampleBackupBuilder& builder) {
  builder.AddFile(kQq, "Documents/QQAccountsManager", sample::QqAccountsArchive({{kOwner, "小雨"}}));
  std::string sql = sample::QqMessageDbSql() + sample::QqC2cTableSql(kPeer);
  sql += sample::InsertQqC2cSql(kPeer, {1, kPeer, 1600000000, 0, 1, "旧版本的消息", kPeer});
  sample::AddQqAccountFiles(builder, kQq, kOwner, sql);
}

std::size_t MessageCount(const CQqLocalUser& account) {
  std::size_t count = account.items.size();
  for (const auto& contact : account.contacts) count += contact->items.size();
  return count;
}

struct NtAccount {
  std::string userName;
  std::string displayName;
  std::string uin;
  bool encrypted;
  std::string notice;
  std::size_t messages;
};

struct NtCase {
  const char* name;
  std::function<void(sample::SampleBackupBuilder&)> build;
  std::vector<NtAccount> accounts;  // none: no account, and the message that says so
};

class QqNtTest : public ::testing::TestWithParam<BackupMode> {};

TEST_P(QqNtTest, ListsAndMarksAccountsOfCurrentBuilds) {
  const std::string encrypted = chat::kQqEncryptedChatsText;
  const std::string notRead = chat::kQqNtChatsNotReadText;
  const std::string ntName = std::string("nt_qq_") + kHash;
  const std::vector<NtCase> cases = {
      {"NT only",
       [](auto& b) { sample::AddQqNtAccountFiles(b, kHash); },
       {{ntName, kHash, "", true, encrypted, 0}}},
      {"NT with the app's plain header",
       [](auto& b) { sample::AddQqNtAccountFiles(b, kHash, sample::QqNtMessageDb(3, 1024)); },
       {{ntName, kHash, "", true, encrypted, 0}}},
      {"NT and the older QQ.db of the same account",
       [](auto& b) {
         AddOlderAccount(b);
         sample::AddQqNtAccountFiles(b, kHash, sample::QqNtMessageDb(), kTiedFolder);
       },
       {{kOwner, "小雨", kOwner, true, encrypted, 1}}},
      {"older QQ.db only", [](auto& b) { AddOlderAccount(b); }, {{kOwner, "小雨", kOwner, false, "", 1}}},
      {"NT beside an account its path does not name",
       [](auto& b) {
         AddOlderAccount(b);
         sample::AddQqNtAccountFiles(b, kHash);
       },
       {{kOwner, "小雨", kOwner, false, "", 1}, {ntName, kHash, "", true, encrypted, 0}}},
      {"a longer number is another account's folder",
       [](auto& b) {
         AddOlderAccount(b);
         sample::AddQqNtAccountFiles(b, kHash, sample::QqNtMessageDb(), "Documents/contents/1284655012/nt_db");
       },
       {{kOwner, "小雨", kOwner, false, "", 1}, {ntName, kHash, "", true, encrypted, 0}}},
      {"a plain SQLite nt_msg.db",
       [](auto& b) { sample::AddQqNtAccountFiles(b, kHash, sample::SqliteFile("CREATE TABLE t(x);").DatabaseBytes()); },
       {{ntName, kHash, "", false, notRead, 0}}},
      {"too short to tell",
       [](auto& b) { sample::AddQqNtAccountFiles(b, kHash, {'S', 'Q', 'L', 'i', 't', 'e'}); },
       {{ntName, kHash, "", false, notRead, 0}}},
      {"one account per hash",
       [](auto& b) {
         sample::AddQqNtAccountFiles(b, kHash);
         sample::AddQqNtAccountFiles(b, kHash, sample::QqNtMessageDb(), "Library/Caches/nt_db");
       },
       {{ntName, kHash, "", true, encrypted, 0}}},
      {"names that only look alike",
       [](auto& b) {
         const std::vector<std::uint8_t> noise = sample::QqNtMessageDb(1);
         b.AddFile(kQq, "Documents/QQNT/DB/nt_db/nt_qq_/nt_msg.db", noise);
         b.AddFile(kQq, "Documents/QQNT/DB/nt_db/other/nt_msg.db", noise);
         b.AddFile(kQq, "Documents/QQNT/DB/nt_db/nt_qq_abc/nt_msg.db-wal", noise);
         b.AddFile(kQq, "Documents/QQNT/DB/nt_db/nt_qq_abc/ntXmsg.db", noise);
         b.AddFile(kQq, "Documents/QQNT/DB/nt_db/nt_qq_abc/guild_msg.db", noise);
       },
       {}},
  };
  for (const NtCase& c : cases) {
    SCOPED_TRACE(c.name);
    sample::SampleBackupBuilder builder;
    c.build(builder);
    QqBackup backup(builder, GetParam());
    EXPECT_EQ(backup.Find(), c.accounts.empty() ? 0 : 1);
    CLocalUserList& list = backup.List();
    ASSERT_EQ(list.AnalyseQqUsers(), 1);
    EXPECT_EQ(backup.Messages(),
              c.accounts.empty() ? std::vector<std::string>{chat::kNoQqAccountText} : std::vector<std::string>{});
    ASSERT_EQ(list.qqUsers.size(), c.accounts.size());
    for (int analysis = 0; analysis < 2; ++analysis) {
      for (std::size_t i = 0; i < c.accounts.size(); ++i) {
        const NtAccount& expected = c.accounts[i];
        const CQqLocalUser& account = *list.qqUsers[i];
        SCOPED_TRACE(expected.userName);
        EXPECT_EQ(account.userName, expected.userName);
        EXPECT_EQ(account.DisplayName(), expected.displayName);
        EXPECT_EQ(account.uin, expected.uin);
        EXPECT_EQ(account.chatsEncrypted, expected.encrypted);
        EXPECT_EQ(account.ChatsNotice(), expected.notice);
        EXPECT_EQ(account.ntMessageDb.empty(), expected.notice.empty());
        EXPECT_EQ(MessageCount(account), expected.messages);
        EXPECT_EQ(account.index, static_cast<std::int32_t>(i));
      }
      // A second analysis reads the databases again; what was found stays.
      list.qqAnalysedAt = 0;
      list.AnalyseQqUsers();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, QqNtTest,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         ModeName);

TEST(QqNt, FolderWithALooseQqDbAndAnNtFolderListsBoth) {
  const std::string peer = kPeer;
  std::string sql = sample::QqMessageDbSql() + sample::QqC2cTableSql(peer);
  sql += sample::InsertQqC2cSql(peer, {1, peer, 1600000000, 0, 1, "你好", peer});
  sample::SampleBackupBuilder builder;
  builder.AddDatabase(kQq, "QQ.db", sample::SqliteFile(sql));
  sample::AddQqNtAccountFiles(builder, kHash);
  QqBackup backup(builder, BackupMode::kFolder);
  CLocalUserList& list = backup.Analysed();
  ASSERT_EQ(list.qqUsers.size(), 2u);
  EXPECT_EQ(list.qqUsers[0]->uin, "本地登录未知用户");
  EXPECT_EQ(MessageCount(*list.qqUsers[0]), 1u);
  EXPECT_FALSE(list.qqUsers[0]->chatsEncrypted);
  EXPECT_EQ(list.qqUsers[1]->DisplayName(), kHash);
  EXPECT_TRUE(list.qqUsers[1]->chatsEncrypted);
}

// --- nickname files -------------------------------------------------------

TEST(ReadQqNickname, SkipsDamagedFilesAndLongerNumbers) {
  sample::SampleBackupBuilder builder;
  builder.AddFile(kQq, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"284655012", "小雨"}}));
  builder.AddFile(kQq, "Documents/a/friend_1315720468.plist", sample::QqNicknamePlist("1315720468", "别人"));
  builder.AddText(kQq, "Documents/b/friend_315720468.plist", "bplist00 damaged");
  builder.AddFile(kQq, "Documents/c/friend_315720468.plist", sample::QqNicknamePlist("315720468", "王芳"));
  for (const BackupMode mode : {BackupMode::kManifestDb, BackupMode::kFolder}) {
    QqBackup backup(builder, mode);
    ASSERT_EQ(backup.Find(), 1);
    CQqLocalUser& account = *backup.List().qqUsers[0];
    account.fileIndex = &backup.Index();
    DBITEM_QqFriend contact;
    contact.owner = &account;
    contact.userName = "315720468";
    chat::ReadQqNickname(contact);
    EXPECT_EQ(contact.DisplayName(), "王芳");
    DBITEM_QqFriend notANumber;
    notANumber.owner = &account;
    chat::ReadQqNickname(notANumber);  // "" would match every nickname file
    EXPECT_TRUE(notANumber.DisplayName().empty());
  }
}

// --- filing messages ------------------------------------------------------

class AttachTest : public ::testing::Test {
 protected:
  AttachTest() {
    account_.uin = account_.userName = "10001";
    auto peer = std::make_unique<DBITEM_QqFriend>();
    peer->userName = "20002";
    peer->type = chat::kQqTypeFriend;
    peer_ = peer.get();
    EXPECT_EQ(chat::RegisterQqContact(account_, peer), 1);
    EXPECT_EQ(peer, nullptr);
    auto group = std::make_unique<DBITEM_QqFriend>();
    group->userName = "30003";
    group->type = chat::kQqTypeGroup;
    group_ = group.get();
    EXPECT_EQ(chat::RegisterQqContact(account_, group), 1);
  }
  static std::unique_ptr<DBITEM_QqChat> Message(const std::string& sender, int flag, const std::string& text,
                                                const std::string& nickName = "") {
    auto m = std::make_unique<DBITEM_QqChat>();
    m->senderUin = sender;
    m->flag = flag;
    m->content = text;
    m->sendTime = 1600000000;
    m->nickName = nickName;
    return m;
  }

  CQqLocalUser account_;
  DBITEM_QqFriend* peer_ = nullptr;
  DBITEM_QqFriend* group_ = nullptr;
};

TEST_F(AttachTest, ChoosesTheSender) {
  struct Case {
    const char* name;
    bool inGroup;
    std::string sender;
    int flag;
    std::string nickName;
    const db::FriendItem* expected;  // null: a new contact of the sender's number
  };
  const std::vector<Case> cases = {
      {"friend, flag 0: the account", false, "20002", 0, "", &account_},
      {"friend, flag 1: the uin's contact", false, "20002", 1, "", peer_},
      {"no sender number", false, "", 1, "", &chat::QqUnknownUser()},
      {"group, no sender number", true, "", 0, "", &chat::QqUnknownUser()},
      {"group, flag 0 is no direction there", true, "20002", 0, "", peer_},
      {"group, a member never seen", true, "40004", 0, "群昵称", nullptr},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = Message(c.sender, c.flag, "text " + std::to_string(n++), c.nickName);
    DBITEM_QqChat* raw = m.get();
    ASSERT_EQ(chat::AttachQqMessage(c.inGroup ? *group_ : *peer_, m, false), 1);
    EXPECT_EQ(m, nullptr);
    if (c.expected != nullptr) {
      EXPECT_EQ(raw->sender, c.expected);
    } else {
      DBITEM_QqFriend* made = Contact(account_, c.sender);
      ASSERT_NE(made, nullptr);
      EXPECT_EQ(raw->sender, made);
      EXPECT_EQ(made->DisplayName(), c.nickName);
      EXPECT_EQ(made->owner, &account_);
    }
  }
  EXPECT_EQ(chat::QqUnknownUser().DisplayName(), "未知用户");
}

TEST_F(AttachTest, DuplicatesDeletionAndPictures) {
  auto first = Message("20002", 1, "hi");
  ASSERT_EQ(chat::AttachQqMessage(*peer_, first, false), 1);
  auto again = Message("20002", 1, "hi");
  EXPECT_EQ(chat::AttachQqMessage(*peer_, again, true), 0);
  EXPECT_NE(again, nullptr);  // still the caller's
  EXPECT_EQ(peer_->items.size(), 1u);
  EXPECT_EQ(peer_->items[0]->deleted, 0);
  EXPECT_EQ(account_.messagesByKey.count("200021600000000hi"), 1u);

  // The same key in another conversation is filed; the account keeps the first.
  auto inGroup = Message("20002", 1, "hi");
  ASSERT_EQ(chat::AttachQqMessage(*group_, inGroup, true), 1);
  EXPECT_EQ(group_->items[0]->deleted, 1);
  EXPECT_EQ(account_.messagesByKey.at("200021600000000hi"), peer_->items[0]);

  group_->deletedConversation = 1;
  auto picture = Message("20002", 1, "[图片]");
  picture->msgType = chat::kQqMsgPicture;
  ASSERT_EQ(chat::AttachQqMessage(*group_, picture, false), 1);
  const auto* filed = static_cast<const DBITEM_QqChat*>(group_->items.back());
  EXPECT_EQ(filed->deleted, 1);
  EXPECT_EQ(filed->time, 1600000000);
  EXPECT_TRUE(filed->mediaPath.ends_with("movietype.png"));
  EXPECT_EQ(filed->parent, group_);
}

TEST_F(AttachTest, RegisteringAKnownNumberMerges) {
  auto asGroup = std::make_unique<DBITEM_QqFriend>();
  asGroup->userName = "20002";
  asGroup->type = chat::kQqTypeGroup;
  asGroup->troopTable = "tb_TroopMsg_20002";
  asGroup->DisplayName() = "同事群";
  EXPECT_EQ(chat::RegisterQqContact(account_, asGroup), 0);
  ASSERT_NE(asGroup, nullptr);
  EXPECT_EQ(peer_->type, chat::kQqTypeBoth);
  EXPECT_EQ(peer_->troopTable, "tb_TroopMsg_20002");
  EXPECT_EQ(peer_->DisplayName(), "同事群");  // it had only its number
  EXPECT_EQ(peer_->AvatarUrl(), "http://q1.qlogo.cn/headimg_dl?dst_uin=20002&spec=100");
  EXPECT_EQ(account_.contacts.size(), 2u);
}

// --- rendering ------------------------------------------------------------

TEST(RenderQqMessage, LinkRowsOrEscapedText) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const std::string row1 = R"(<a href="http://a.cn/1" target="_blank" title="One">One</a><br/>)";
  const std::string row2 = R"(<a href="http://a.cn/2" target="_blank" title="Two">Two</a><br/>)";
  const std::vector<Case> cases = {
      {"plain text, escaped", "a < b & \"c\"", "a &lt; b &amp; &quot;c&quot;"},
      {"mode 0, one item", "<item><digest>One</digest><url>http://a.cn/1</url></item>", row1},
      {"mode 0, two items numbered",
       "<newitem><digest>One</digest><url>http://a.cn/1</url><digest>Two</digest><url>http://a.cn/2</url>",
       "1." + row1 + "<br/>2." + row2},
      {"mode 0, link missing: text", "<digest>One</digest> no link", "&lt;digest&gt;One&lt;/digest&gt; no link"},
      {"mode 2, one item", R"(<msg a="1" url="http://a.cn/1"><title>One</title></msg>)", row1},
      {"mode 2, empty link skipped",
       R"(<msg x="" url=""><title>None</title><item y="" url="http://a.cn/1"><title>One</title></msg>)",
       row1},
      {"mode 1, pushmail", R"(<pushmail z="" url="http://a.cn/1</digest><title>One</url>)", row1},
      {"hostile title and link",
       R"(<msg a="1" url="http://x.cn/?a=1&b=<2>"><title><script>alert(1)</script></title></msg>)",
       R"(<a href="http://x.cn/?a=1&amp;b=&lt;2&gt;" target="_blank" title="&lt;script&gt;alert(1)&lt;/script&gt;">)"
       R"(&lt;script&gt;alert(1)&lt;/script&gt;</a><br/>)"},
      {"mode 2 cut short", R"(<msg a="1" url="http://a.cn/1)", R"(&lt;msg a=&quot;1&quot; url=&quot;http://a.cn/1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(chat::RenderQqMessage(c.text), c.expected);
  }
}

}  // namespace
