#include "base/categories.h"
#include "chat/wechat_messages.h"
#include "chat/wechat_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_tagged.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"
#include "testing/sample_wechat.h"
#include "testing/sample_wechat_messages.h"
#include "testing/sample_wechat_split.h"

namespace {

using chat::CLocalUserList;
using chat::CWxLocalUser;
using chat::DBITEM_WxBakChatContent;
using chat::DBITEM_WxChat;
using chat::DBITEM_WxFriend;
using sample::BackupMode;
using Bytes = std::vector<std::uint8_t>;

constexpr char kMe[] = "wxid_velmora01";
constexpr char kWang[] = "wxid_wangfang";
constexpr char kRoom[] = "20200101@chatroom";
constexpr char kSystem[] = "系统消息";

// A sample backup written in one form and analysed as the record browser
// does it.
class Analysed {
 public:
  Analysed(const sample::SampleBackupBuilder& builder, BackupMode mode) {
    builder.Write(root_.Path(), mode);
    EXPECT_TRUE(index_.Open(root_.Path().string(), 0).Ok());
    EXPECT_EQ(list_.FindLocalUsers(&index_, base::kCategoryWeChat), 1);
    EXPECT_EQ(list_.AnalyseWxUsers(), 1);
  }
  CWxLocalUser& Me() { return *list_.wxUsers.at(0); }
  backup::CFileListDB& Index() { return index_; }
  DBITEM_WxFriend& Contact(const std::string& name) {
    DBITEM_WxFriend* contact = Me().FindContact(name);
    if (contact == nullptr) throw std::runtime_error("no contact " + name);
    return *contact;
  }

 private:
  platform::TempFolder root_{"velmora-wxmsg"};
  backup::CFileListDB index_;
  CLocalUserList list_;
};

const DBITEM_WxChat& MessageAt(const DBITEM_WxFriend& contact, std::size_t i) {
  return dynamic_cast<const DBITEM_WxChat&>(*contact.items.at(i));
}

std::string SenderName(const db::BaseItem& message) {
  const auto* sender = dynamic_cast<const DBITEM_WxFriend*>(message.sender);
  return sender == nullptr ? "(none)" : sender->userName;
}

struct ExpectedMessage {
  std::string text;
  std::string sender;
  int deleted;
  int msgType;
  double time;
};

void ExpectConversation(const DBITEM_WxFriend& contact, const std::vector<ExpectedMessage>& expected) {
  SCOPED_TRACE(contact.userName);
  ASSERT_EQ(contact.items.size(), expected.size());
  int deleted = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const DBITEM_WxChat& m = MessageAt(contact, i);
    EXPECT_EQ(m.ShownText(), expected[i].text);
    EXPECT_EQ(m.SearchText(), expected[i].text);
    EXPECT_EQ(SenderName(m), expected[i].sender);
    EXPECT_EQ(m.deleted, expected[i].deleted);
    EXPECT_EQ(m.msgType, expected[i].msgType);
    EXPECT_EQ(m.time, expected[i].time);
    EXPECT_EQ(m.parent, &contact);
    deleted += m.deleted;
  }
  EXPECT_EQ(contact.deletedCount, deleted);
}

// --- the demo account in every backup form --------------------------------

TEST(WeChatMessages, ReadsTheDemoAccountInEveryBackupForm) {
  sample::SampleBackupBuilder builder;
  sample::AddWeChatApp(builder);
  for (const BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Analysed a(builder, mode);
    CWxLocalUser& me = a.Me();
    // The session files below session/data are found in every form; the one
    // without a row in session.db is wxid_member2's.
    EXPECT_EQ(me.sessionFilePaths.size(), 4u);
    EXPECT_EQ(me.sessionItems.size(), 4u);

    DBITEM_WxFriend& wang = a.Contact(kWang);
    ExpectConversation(wang, {
                                 {"你好，周末去爬山吗？", kWang, 0, 1, 1600000000},
                                 {"好啊，几点？", kMe, 0, 1, 1600000060},
                                 {"<msg><img length=\"1024\" /></msg>", kWang, 0, 3, 1600000120},
                                 {MessageAt(wang, 3).text, kWang, 0, chat::kWxMsgEmoji, 1600000180},
                                 {"<msg><img length=\"2048\" /></msg>", kWang, 0, 3, 1600000240},
                                 // Deleted: the index keeps its text, the message file's free
                                 // space its row (who sent it, its type).
                                 {"那就早上八点见", kMe, 1, 1, 1600000300},
                                 {"明天见！", kWang, 1, -1, 1600000400},      // the session file's new last text
                             });
    const DBITEM_WxChat& first = MessageAt(wang, 0);
    ASSERT_NE(first.indexRecord, nullptr);  // the live index row, attached once
    EXPECT_EQ(first.indexRecord->text, "你好，周末去爬山吗？");
    ASSERT_NE(first.extension, nullptr);
    EXPECT_EQ(first.extension->msgSource, "<msgsource><silence>0</silence></msgsource>");
    EXPECT_EQ(first.extension->conIntRes1, 4);
    std::vector<std::string> picture;
    a.Index().FindFilePaths(chat::Md5Hex(kWang) + "/3.pic", chat::kWeChatDomain, picture, true);
    ASSERT_EQ(picture.size(), 1u);
    EXPECT_EQ(MessageAt(wang, 2).mediaPath, picture[0]);
    EXPECT_EQ(MessageAt(wang, 4).mediaPath, "");  // no file for message 5
    EXPECT_EQ(MessageAt(wang, 3).mediaPath, "http://emoji.qpic.cn/wx_emoji/velmora/0");
    EXPECT_EQ(MessageAt(wang, 5).text, "那就早上八点见");
    EXPECT_EQ(MessageAt(wang, 5).sourceDb, 0);
    ASSERT_NE(MessageAt(wang, 5).indexRecord, nullptr);
    EXPECT_EQ(MessageAt(wang, 5).localId, -1);
    EXPECT_EQ(chat::MessageKey(MessageAt(wang, 5)), (std::int64_t{6} << 32) + 1600000300);
    ASSERT_NE(wang.sessionItem, nullptr);
    EXPECT_EQ(wang.sessionItem->created, 1);
    EXPECT_EQ(wang.sessionItem->message, wang.items[6]);

    DBITEM_WxFriend& room = a.Contact(kRoom);
    ExpectConversation(room, {
                                 {"大家周六早上集合", kWang, 0, 1, 1600001000},
                                 {"我先退群了", "wxid_left99", 0, 1, 1600001100},
                                 {"\"李雷\"邀请\"王芳\"加入了群聊", kSystem, 0, chat::kWxMsgSystem, 1600001150},
                                 {"收到", kMe, 0, 1, 1600001300},
                                 {"[链接] 路线图", kRoom, 0, chat::kWxMsgNoPlaceholder, 1600001400},
                             });
    EXPECT_EQ(MessageAt(room, 2).sender, &chat::SystemMessageContact());
    // Order B: every column lands in its field.
    const DBITEM_WxChat& roomFirst = MessageAt(room, 0);
    EXPECT_EQ(roomFirst.localId, 1);
    EXPECT_EQ(roomFirst.direction, 1);
    EXPECT_EQ(roomFirst.status, 2);
    EXPECT_EQ(roomFirst.imgStatus, 1);
    EXPECT_EQ(roomFirst.tableVer, 1);
    ASSERT_NE(roomFirst.extension, nullptr);  // the ConIntRes1-first order
    EXPECT_EQ(roomFirst.extension->localId, 1);
    EXPECT_EQ(roomFirst.extension->msgSource, "<msgsource><atuserlist/></msgsource>");
    EXPECT_EQ(roomFirst.extension->msgIdentify, "identify");
    EXPECT_EQ(roomFirst.extension->msgFlag, 1);
    EXPECT_EQ(roomFirst.extension->conIntRes2, 2);
    EXPECT_EQ(roomFirst.extension->conIntRes3, 3);
    EXPECT_EQ(roomFirst.extension->conIntRes1, 4);
    EXPECT_EQ(roomFirst.extension->conStrRes1, "res1");
    ASSERT_NE(roomFirst.indexRecord, nullptr);
    // The session file's last text is the live "收到": no new message.
    ASSERT_NE(room.sessionItem, nullptr);
    EXPECT_EQ(room.sessionItem->created, 0);
    EXPECT_EQ(room.sessionItem->message, room.items[3]);
    EXPECT_EQ(room.sessionItem->text, "收到");
    const DBITEM_WxFriend& left = a.Contact("wxid_left99");
    EXPECT_EQ(left.DisplayName(), "已退群用户周末爬山群");
    EXPECT_EQ(left.kind, chat::kWxKindFriend);
    EXPECT_EQ(me.FindContact("wxid_stranger64"), nullptr);

    // A deleted session row; a session file without a row, tied to an index
    // number by its text; a deleted index name row.
    ExpectConversation(a.Contact("zhangwei88"), {{"改天再约", "zhangwei88", 1, -1, 1600000500}});
    DBITEM_WxFriend& member = a.Contact("wxid_member2");
    ExpectConversation(member, {{"下次带上我", "wxid_member2", 1, -1, 1600002000}});
    EXPECT_EQ(member.usernameId, 7);
    EXPECT_EQ(me.contactsByUsernameId.at(7), &member);
    DBITEM_WxFriend& gone = a.Contact("wxid_gone");
    ExpectConversation(gone, {{"再见了", "wxid_gone", 1, -1, 1599990000}});
    EXPECT_EQ(gone.usernameId, 5);
    EXPECT_EQ(gone.ftsTableId, 0);
    DBITEM_WxFriend& unknown = a.Contact("未知好友_9");
    EXPECT_EQ(unknown.kind, chat::kWxKindRecovered);
    EXPECT_EQ(unknown.usernameId, 9);
    ExpectConversation(unknown, {{"这条消息的联系人已不在", "未知好友_9", 1, -1, 1599999000}});
    EXPECT_TRUE(me.ftsContents.empty());
    EXPECT_TRUE(a.Contact("gh_3dfda90e39d6").items.empty());
    // The readers are closed at the end of the analysis.
    for (const auto& reader : me.messageDbs) EXPECT_EQ(reader->OpenCount(), 0);
  }
}

// --- an account whose chats are spread over message_<n>.sqlite ------------

TEST(WeChatMessages, ReadsEveryMessageFileOfAnAccountOnce) {
  sample::SampleBackupBuilder builder;
  sample::AddWeChatSplitAccount(builder);
  constexpr char kMe2[] = "wxid_velmora02";
  struct Conversation {
    const char* where;  // how the conversation's table is kept
    const char* userName;
    std::vector<ExpectedMessage> messages;
  };
  const std::vector<Conversation> conversations = {
      {"begun in MM.sqlite, continued in message_1, one message in both, one deleted",
       "wxid_lihua",
       {{"新年快乐！", "wxid_lihua", 0, 1, 1580000000},
        {"同乐同乐", kMe2, 0, 1, 1580000060},
        {"最近好吗？", "wxid_lihua", 0, 1, 1700000000},
        {"挺好的，你呢", kMe2, 0, 1, 1700000060},
        {"周末一起吃饭吧，老地方见，不见不散", "wxid_lihua", 1, 1, 1700000120}}},
      {"message_1 only", "wxid_zhaolei", {{"文件收到了", "wxid_zhaolei", 0, 1, 1700100000}, {"好的", kMe2, 0, 1, 1700100060}}},
      {"a room in message_2, its newest row in the -wal, one deleted",
       "30300303@chatroom",
       {{"晚饭做好了", "wxid_mom", 0, 1, 1700200000},
        {"马上回来", kMe2, 0, 1, 1700200060},
        {"我晚点到，你们先吃，给我留点菜", "wxid_lihua", 1, 1, 1700200120}}},
      {"a dropped table's row on a free page", "未知好友_0", {{"这个对话已经删除了", "未知好友_0", 1, 1, 1650000000}}},
  };
  for (const BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Analysed a(builder, mode);
    ASSERT_EQ(a.Me().userName, kMe2);
    ASSERT_EQ(a.Me().messageDbs.size(), 3u);  // MM.sqlite, message_1, message_2
    for (const Conversation& conversation : conversations) {
      SCOPED_TRACE(conversation.where);
      ExpectConversation(a.Contact(conversation.userName), conversation.messages);
    }
    // The file each message was read from, MM.sqlite first.
    const DBITEM_WxFriend& lihua = a.Contact("wxid_lihua");
    EXPECT_EQ(MessageAt(lihua, 0).sourceDb, 0);
    EXPECT_EQ(MessageAt(lihua, 1).sourceDb, 0);
    EXPECT_EQ(MessageAt(lihua, 2).sourceDb, 1);
    EXPECT_EQ(MessageAt(lihua, 4).sourceDb, 1);
    EXPECT_EQ(MessageAt(a.Contact("30300303@chatroom"), 2).sourceDb, 2);
    EXPECT_EQ(a.Contact("未知好友_0").kind, chat::kWxKindRecovered);
  }
}

TEST(WxMessageFileNumber, TakesOnlyTheAppsFileNames) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"message_1.sqlite", 1},        {"message_12.sqlite", 12},     {"message_0.sqlite", 0},
      {"message_.sqlite", -1},        {"message_1.sqlite-wal", -1},  {"message_1a.sqlite", -1},
      {"message_1.sqlite.bak", -1},   {"Message_1.sqlite", -1},      {"MM.sqlite", -1},
      {"message_1234567890.sqlite", -1},
  };
  for (const auto& [name, number] : cases) EXPECT_EQ(chat::WxMessageFileNumber(name), number) << name;
}

// --- column orders and damaged tables -------------------------------------

std::string FriendsSql(const std::vector<std::string>& names) {
  std::string sql = sample::WxFriendSchemaSql(sample::WxFriendShape::kNameFirst);
  for (const std::string& name : names) {
    sample::WxFriendRow row;
    row.userName = name;
    row.type = 3;
    sql += sample::InsertWxFriendSql(row, sample::WxFriendShape::kNameFirst);
  }
  return sql;
}

TEST(LoadContactMessages, ReadsBothOrdersAndSkipsMissingOrShortTables) {
  const std::string a = chat::Md5Hex("wxid_a");
  const std::string b = chat::Md5Hex("wxid_b");
  const std::string shortTable = chat::Md5Hex("wxid_short");
  const sample::WxChatRow row{7, 1600000000, "同一行", 49, 1, 123456, 4, 5, 6};
  std::string messages = sample::WxChatTableSql(a, sample::WxChatOrder::kTableVerFirst) +
                         sample::InsertWxChatSql(a, row, sample::WxChatOrder::kTableVerFirst) +
                         sample::WxChatTableSql(b, sample::WxChatOrder::kCreateTimeFirst) +
                         sample::InsertWxChatSql(b, row, sample::WxChatOrder::kCreateTimeFirst) +
                         "CREATE TABLE \"Chat_" + shortTable +
                         "\"(TableVer, MesLocalID, MesSvrID, CreateTime, Message, Status, ImgStatus, Type);"
                         "INSERT INTO \"Chat_" + shortTable + "\" VALUES(1, 1, 0, 1600000000, 'x', 0, 0, 1);";
  sample::SampleBackupBuilder builder;
  sample::AddWeChatAccount(builder, sample::WxSampleSettings(),
                           FriendsSql({"wxid_a", "wxid_b", "wxid_short", "wxid_notable"}), messages);
  Analysed analysed(builder, BackupMode::kFolder);
  const DBITEM_WxChat& fromA = MessageAt(analysed.Contact("wxid_a"), 0);
  const DBITEM_WxChat& fromB = MessageAt(analysed.Contact("wxid_b"), 0);
  for (const DBITEM_WxChat* m : {&fromA, &fromB}) {
    EXPECT_EQ(m->localId, 7);
    EXPECT_EQ(m->createTime, 1600000000);
    EXPECT_EQ(m->text, "同一行");
    EXPECT_EQ(m->msgType, 49);
    EXPECT_EQ(m->direction, 1);
    EXPECT_EQ(m->mesSvrId, 123456);
    EXPECT_EQ(m->status, 4);
    EXPECT_EQ(m->imgStatus, 5);
    EXPECT_EQ(m->tableVer, 6);
  }
  EXPECT_TRUE(analysed.Contact("wxid_short").items.empty());
  EXPECT_TRUE(analysed.Contact("wxid_notable").items.empty());
  CWxLocalUser& me = analysed.Me();
  auto indexOf = [&me](const std::string& name) {
    for (std::size_t i = 0; i < me.contacts.size(); ++i) {
      if (me.contacts[i]->userName == name) return i;
    }
    return me.contacts.size();
  };
  EXPECT_EQ(chat::LoadContactMessages(me, indexOf("wxid_short"), chat::kWxChatTable), 0);
  EXPECT_EQ(chat::LoadContactMessages(me, indexOf("wxid_notable"), chat::kWxChatTable), 0);
  EXPECT_EQ(chat::LoadContactMessages(me, indexOf("wxid_notable"), chat::kWxIndexTable), 0);
  EXPECT_EQ(chat::LoadContactMessages(me, me.contacts.size(), chat::kWxChatTable), 0);
  // Loading again appends the table's rows a second time.
  EXPECT_EQ(chat::LoadContactMessages(me, indexOf("wxid_a"), chat::kWxChatTable), 1);
  EXPECT_EQ(analysed.Contact("wxid_a").items.size(), 2u);
}

// A long conversation's table has interior pages, whose child pointers and
// row ids read like rows often enough: every live message comes once, the
// deleted rows SQLite left in the file come back, and nothing else does.
// (Deleting the last rows of the last page rebalances it, which wipes two of
// the thirty.)
TEST(WeChatMessages, ALongConversationGivesItsDeletedRowsAndNoJunk) {
  const std::string peer = "wxid_long";
  const std::string md5 = chat::Md5Hex(peer);
  std::string sql = sample::WxChatTableSql(md5, sample::WxChatOrder::kTableVerFirst);
  constexpr int kMessages = 3000;
  auto textOf = [](int n) { return "在吗？ #" + std::to_string(n); };
  for (int n = 1; n <= kMessages; ++n) {
    const sample::WxChatRow row{n, 1600000000 + n * 60LL, textOf(n), 1, n % 2, 6000000000000000000LL + n};
    sql += sample::InsertWxChatSql(md5, row, sample::WxChatOrder::kTableVerFirst);
  }
  for (int n = 100; n <= kMessages; n += 100) sql += sample::DeleteWxChatSql(md5, n);
  sample::SampleBackupBuilder builder;
  const sample::WxSettings settings = sample::WxSampleSettings();
  sample::AddWeChatAccount(builder, settings, FriendsSql({peer}));
  builder.AddDatabase(sample::kWxDomain, "Documents/" + sample::WxUserMd5(settings.userName) + "/DB/message_1.sqlite",
                      sample::SqliteFile(sql));
  Analysed a(builder, BackupMode::kFolder);
  const DBITEM_WxFriend& contact = a.Contact(peer);
  std::set<int> seen;
  int deleted = 0;
  for (const db::BaseItem* item : contact.items) {
    const auto& m = static_cast<const DBITEM_WxChat&>(*item);
    const int n = static_cast<int>((m.createTime - 1600000000) / 60);
    ASSERT_TRUE(n >= 1 && n <= kMessages && seen.insert(n).second) << "not a message, or twice: " << m.text;
    EXPECT_EQ(m.text, textOf(n));
    EXPECT_EQ(m.direction, n % 2);
    EXPECT_EQ(m.deleted, n % 100 == 0 ? 1 : 0) << n;
    deleted += m.deleted;
  }
  EXPECT_EQ(static_cast<int>(contact.items.size()) - deleted, kMessages - kMessages / 100);  // every live one
  EXPECT_GE(deleted, kMessages / 100 - 2);
}

// A message file in WAL mode whose newest transactions stay in the -wal: rows
// deleted in the file, rows written and deleted again after the checkpoint
// (only in older frames of the log), and pages of one conversation that its
// deletions freed and the other's rows took over since, so that older frames
// of those pages hold the first conversation's rows, live ones among them
// (moved to a sibling page). Each deleted row comes back once, in its own
// conversation, those only in the log marked so; no live message and no
// older version of one (every row of the first conversation was rewritten
// after the checkpoint) comes back, in either column order.
TEST(WeChatMessages, RowsOfTheFileAndOfOlderLogFramesComeBackOnceInTheirConversation) {
  const std::string peerA = "wxid_logged_a";
  const std::string peerB = "wxid_logged_b";
  const std::string a = chat::Md5Hex(peerA);
  const std::string b = chat::Md5Hex(peerB);
  const auto textOf = [](const std::string& who, int n) {
    return who + "#" + std::to_string(n) + " 明天下午三点开会" + std::string(static_cast<std::size_t>(n % 4) * 40, '.');
  };
  const auto row = [&](const std::string& md5, const std::string& who, int n, sample::WxChatOrder order) {
    const sample::WxChatRow chat{n, 1600000000 + n * 60LL + (who == "B" ? 30 : 0), textOf(who, n), 1, n % 2,
                                 (who == "B" ? 7000000000000000000LL : 6000000000000000000LL) + n};
    return sample::InsertWxChatSql(md5, chat, order);
  };
  for (const sample::WxChatOrder order : {sample::WxChatOrder::kTableVerFirst, sample::WxChatOrder::kCreateTimeFirst}) {
    SCOPED_TRACE(static_cast<int>(order));
    std::string setup = sample::WxChatTableSql(a, order) + sample::WxChatTableSql(b, order) + "BEGIN;";
    for (int n = 1; n <= 150; ++n) setup += row(a, "A", n, order);
    for (int n = 1; n <= 20; ++n) setup += row(b, "B", n, order);
    setup += "COMMIT;";
    // Long rows: where the cell's length and row id take two bytes only, the
    // free block's header lies over the first column's serial type, and in
    // the order that anchors there the row is lost.
    for (int n : {11, 15, 19}) setup += sample::DeleteWxChatSql(a, n);
    const std::string tableA = "\"Chat_" + a + "\"";
    std::string recent = "UPDATE " + tableA + " SET Status = 4;";
    for (int n = 151; n <= 160; ++n) recent += row(a, "A", n, order);
    for (int n : {152, 154, 30}) recent += sample::DeleteWxChatSql(a, n);
    recent += "DELETE FROM " + tableA + " WHERE MesLocalID BETWEEN 40 AND 100;";
    for (int n = 21; n <= 120; ++n) recent += row(b, "B", n, order);
    const sample::SqliteFile file(setup, recent, sample::SqliteFile::Journal::kWalPending);
    ASSERT_FALSE(file.WalBytes().empty());

    sample::SampleBackupBuilder builder;
    const sample::WxSettings settings = sample::WxSampleSettings();
    sample::AddWeChatAccount(builder, settings, FriendsSql({peerA, peerB}));
    builder.AddDatabase(sample::kWxDomain,
                        "Documents/" + sample::WxUserMd5(settings.userName) + "/DB/message_1.sqlite", file);
    Analysed analysed(builder, BackupMode::kFolder);
    std::set<std::string> deletedA = {textOf("A", 11), textOf("A", 15), textOf("A", 19), textOf("A", 30),
                                      textOf("A", 152), textOf("A", 154)};
    for (int n = 40; n <= 100; ++n) deletedA.insert(textOf("A", n));
    // A's rows in older frames of its pages that B took in the log count as
    // rows of free pages: they may be either's.
    std::map<std::string, db::BaseItem::DeletedFrom> recovered;
    std::vector<std::pair<std::string, std::set<std::string>>> conversations = {{peerA, deletedA}, {peerB, {}}};
    if (analysed.Me().FindContact("未知好友_0") != nullptr) conversations.emplace_back("未知好友_0", deletedA);
    for (const auto& [peer, deleted] : conversations) {
      std::size_t live = 0;
      for (const db::BaseItem* item : analysed.Contact(peer).items) {
        const auto& m = static_cast<const DBITEM_WxChat&>(*item);
        if (m.deleted == 0) {
          ++live;
          continue;
        }
        EXPECT_TRUE(deleted.contains(m.text)) << peer << " holds a message not deleted from it: " << m.text;
        EXPECT_TRUE(recovered.emplace(m.text, m.deletedFrom).second) << "twice: " << m.text;
      }
      EXPECT_EQ(live, peer == peerA ? 160u - deletedA.size() : peer == peerB ? 120u : 0u) << peer;
    }
    using From = db::BaseItem::DeletedFrom;
    for (const auto& [n, from] : {std::pair{11, From::kFreeSpace}, {15, From::kFreeSpace}, {19, From::kFreeSpace},
                                  {30, From::kFreeSpace}, {152, From::kWal}, {154, From::kWal}}) {
      const auto found = recovered.find(textOf("A", n));
      ASSERT_NE(found, recovered.end()) << n;
      EXPECT_EQ(found->second, from) << n;
    }
  }
}

// The search index and the session table in WAL mode, each with a row
// deleted in the file and one written and deleted again after the
// checkpoint: the messages made from the log's rows are marked so.
TEST(WeChatMessages, IndexAndSessionRowsOnlyInTheLogMakeMessagesMarkedSo) {
  const std::string indexed = "wxid_indexed";
  const std::string inFile = "wxid_session_file";
  const std::string inLog = "wxid_session_log";
  std::string index = sample::WxIndexTablesSql(1) + sample::InsertWxIndexNameSql(1, indexed, 0);
  index += sample::InsertWxIndexContentSql({0, 1, 1, 1600000000, "还在的消息"});
  const sample::WxIndexContent deletedInFile{0, 1, 2, 1600000100, "在文件里删掉的消息"};
  const sample::WxIndexContent deletedInLog{0, 1, 3, 1600000200, "只在日志里的消息"};
  index += sample::InsertWxIndexContentSql(deletedInFile) + sample::DeleteWxIndexContentSql(deletedInFile);
  const std::string indexRecent =
      sample::InsertWxIndexContentSql(deletedInLog) + sample::DeleteWxIndexContentSql(deletedInLog);
  // Session rows of more than 127 bytes keep their column types past the
  // free block's header (see the demo's deleted session row).
  const auto sessionRow = [](const std::string& userName, std::int64_t time) {
    return "INSERT INTO SessionAbstract(UsrName, CreateTime, ConStrRes1, ConStrRes2) VALUES('" + userName + "', " +
           std::to_string(time) + ", '" + sample::WxSessionFilePath(sample::WxUserMd5(userName)) + "', '" +
           std::string(80, 'r') + "');";
  };
  const std::string sessions = sample::WxSessionTableSql() + sessionRow(inFile, 1600000300) +
                               sample::DeleteWxSessionSql(inFile);
  const std::string sessionsRecent = sessionRow(inLog, 1600000400) + sample::DeleteWxSessionSql(inLog);

  sample::SampleBackupBuilder builder;
  const sample::WxSettings settings = sample::WxSampleSettings();
  sample::AddWeChatAccount(builder, settings, FriendsSql({indexed, inFile, inLog}));
  const std::string folder = "Documents/" + sample::WxUserMd5(settings.userName);
  const std::string md5 = chat::Md5Hex(indexed);
  builder.AddDatabase(sample::kWxDomain, folder + "/DB/message_1.sqlite",
                      sample::SqliteFile(sample::WxChatTableSql(md5, sample::WxChatOrder::kTableVerFirst) +
                                         sample::InsertWxChatSql(md5, {1, 1600000000, "还在的消息", 1, 1, 0},
                                                                 sample::WxChatOrder::kTableVerFirst)));
  builder.AddDatabase(sample::kWxDomain, folder + "/fts/fts_message.db",
                      sample::SqliteFile(index, indexRecent, sample::SqliteFile::Journal::kWalPending));
  builder.AddDatabase(sample::kWxDomain, folder + "/session/session.db",
                      sample::SqliteFile(sessions, sessionsRecent, sample::SqliteFile::Journal::kWalPending));
  for (const auto& [userName, text] : {std::pair{inFile, std::string("文件里的会话")}, {inLog, std::string("日志里的会话")}}) {
    builder.AddFile(sample::kWxDomain, folder + sample::WxSessionFilePath(sample::WxUserMd5(userName)),
                    sample::WxSessionFileBytes({userName, "", userName, text}));
  }
  Analysed a(builder, BackupMode::kFolder);
  using From = db::BaseItem::DeletedFrom;
  struct Expected {
    std::string contact;
    std::string text;
    From from;
  };
  for (const Expected& e : {Expected{indexed, "在文件里删掉的消息", From::kFreeSpace},
                            Expected{indexed, "只在日志里的消息", From::kWal},
                            Expected{inFile, "文件里的会话", From::kFreeSpace},
                            Expected{inLog, "日志里的会话", From::kWal}}) {
    const DBITEM_WxFriend& contact = a.Contact(e.contact);
    const auto found = std::find_if(contact.items.begin(), contact.items.end(), [&](const db::BaseItem* item) {
      return static_cast<const DBITEM_WxChat*>(item)->ShownText() == e.text;
    });
    ASSERT_NE(found, contact.items.end()) << e.text;
    EXPECT_EQ((*found)->deleted, 1) << e.text;
    EXPECT_EQ((*found)->deletedFrom, e.from) << e.text;
  }
}

// --- senders ----------------------------------------------------------------

enum class Who { kFriend, kRecovered, kOfficial, kRoomContact, kAccount };

struct Conversations {
  CLocalUserList list;
  CWxLocalUser* me = nullptr;
  DBITEM_WxFriend* room = nullptr;
  DBITEM_WxFriend* friendContact = nullptr;
  DBITEM_WxFriend* official = nullptr;
  DBITEM_WxFriend* recovered = nullptr;
  DBITEM_WxFriend* member = nullptr;

  Conversations() {
    auto account = std::make_unique<CWxLocalUser>();
    account->userName = "wxid_me";
    me = CWxLocalUser::AddAccount(list, std::move(account));
    room = Add("1@chatroom", chat::kWxKindClassify, "家人群");
    friendContact = Add("wxid_friend", chat::kWxKindFriend, "");
    official = Add("gh_news", chat::kWxKindClassify, "");
    recovered = Add("wxid_old", chat::kWxKindRecovered, "");
    member = Add("wxid_member", chat::kWxKindFriend, "");
  }
  DBITEM_WxFriend& Pick(Who who) {
    switch (who) {
      case Who::kFriend: return *friendContact;
      case Who::kRecovered: return *recovered;
      case Who::kOfficial: return *official;
      case Who::kRoomContact: return *room;
      case Who::kAccount: break;
    }
    return *me;
  }
  DBITEM_WxFriend* Add(const std::string& name, int kind, const std::string& displayName) {
    auto contact = std::make_unique<DBITEM_WxFriend>();
    contact->userName = name;
    contact->DisplayName() = displayName;
    DBITEM_WxFriend* added = contact.get();
    EXPECT_EQ(me->RegisterContact(contact, kind, false), 1);
    return added;
  }
};

const DBITEM_WxChat& Attach(DBITEM_WxFriend& contact, const std::string& text, int msgType, int direction,
                           std::int32_t createTime = 1600000000) {
  auto m = std::make_unique<DBITEM_WxChat>();
  m->localId = static_cast<std::int32_t>(contact.items.size()) + 1;
  m->createTime = createTime;
  m->text = text;
  m->msgType = msgType;
  m->direction = direction;
  chat::AttachMessage(contact, std::move(m));
  return dynamic_cast<const DBITEM_WxChat&>(*contact.items.back());
}

TEST(AttachMessage, ChoosesTheSender) {
  struct Case {
    const char* name;
    Who contact;
    std::string text;
    int msgType;
    int direction;
    std::string sender;
    std::string shownText;
    int deleted;
  };
  const std::vector<Case> cases = {
      {"sent by the account", Who::kFriend, "hi", 1, 0, "wxid_me", "hi", 0},
      {"sent by the account in a recovered conversation", Who::kRecovered, "hi", 1, 0, "wxid_old", "hi", 0},
      {"friend", Who::kFriend, "hi", 1, 1, "wxid_friend", "hi", 0},
      {"official account", Who::kOfficial, "news", 1, 1, "gh_news", "news", 0},
      {"known member", Who::kRoomContact, "wxid_member:\nhello", 1, 1, "wxid_member", "hello", 0},
      {"member who left", Who::kRoomContact, "wxid_left:\nbye", 1, 1, "wxid_left", "bye", 0},
      {"type 64 from an unknown member", Who::kRoomContact, "wxid_x64:\nlink", 64, 1, "1@chatroom", "link", 0},
      {"room, no prefix, system type", Who::kRoomContact, "joined", 10002, 1, kSystem, "joined", 0},
      {"room, no prefix, other type", Who::kRoomContact, "joined", 1, 1, kSystem, "joined", 0},
      {"room, no prefix, unknown type", Who::kRoomContact, "restored", -1, 1, "1@chatroom", "restored", 0},
      {"recovered, prefix", Who::kRecovered, "wxid_member:\nhey", 1, 1, "wxid_member", "hey", 0},
      {"recovered, no prefix", Who::kRecovered, "hey", 1, 1, "wxid_old", "hey", 1},
      {"account record, typed", Who::kAccount, "note", 1, 1, kSystem, "note", 0},
      {"account record, unknown type", Who::kAccount, "note", -1, 1, "wxid_me", "note", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Conversations conversations;
    DBITEM_WxFriend& contact = conversations.Pick(c.contact);
    const DBITEM_WxChat& m = Attach(contact, c.text, c.msgType, c.direction);
    EXPECT_EQ(SenderName(m), c.sender);
    EXPECT_EQ(m.text, c.shownText);
    EXPECT_EQ(m.deleted, c.deleted);
    EXPECT_EQ(contact.messagesByText.at(c.shownText), &m);
    EXPECT_EQ(contact.messagesByKey.at(chat::MessageKey(m)), &m);
  }
}

TEST(AttachMessage, RegistersOnePlaceholderPerMemberWhoLeft) {
  Conversations c;
  const std::size_t before = c.me->contacts.size();
  const DBITEM_WxChat& first = Attach(*c.room, "wxid_left:\none", 1, 1);
  const DBITEM_WxChat& second = Attach(*c.room, "wxid_left:\ntwo", 1, 1);
  EXPECT_EQ(c.me->contacts.size(), before + 1);
  EXPECT_EQ(first.sender, second.sender);
  const DBITEM_WxFriend* left = c.me->FindContact("wxid_left");
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->DisplayName(), "已退群用户家人群");
  EXPECT_EQ(left->kind, chat::kWxKindFriend);
  EXPECT_EQ(left->deleted, 0);
  // A repeated key or text keeps both messages; the maps point at the later.
  auto again = std::make_unique<DBITEM_WxChat>();
  again->localId = first.localId;
  again->text = "one";
  again->msgType = -1;
  chat::AttachMessage(*c.room, std::move(again));
  EXPECT_EQ(c.room->items.size(), 3u);
  EXPECT_EQ(c.room->messagesByKey.at(chat::MessageKey(first)), c.room->items[2]);
  EXPECT_EQ(c.room->messagesByText.at("one"), c.room->items[2]);
}

// A picture or video is the file whose path holds the contact's md5, a
// slash, the whole local ID and a full stop, in every backup form; the app's
// files are listed once per analysis.
TEST(AttachMessage, FindsTheMediaFileOfTheWholeLocalId) {
  const std::string md5 = chat::Md5Hex(kWang);
  std::string upper = md5;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string account = "Documents/" + chat::Md5Hex(kMe);
  for (const BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    sample::SampleBackupBuilder builder;
    sample::AddWeChatApp(builder);
    builder.AddFile(sample::kWxDomain, account + "/Img/" + md5 + "/13.pic", {'1', '3'});
    builder.AddFile(sample::kWxDomain, account + "/Video/" + upper + "/4.mp4", {'4'});
    Analysed a(builder, mode);
    EXPECT_TRUE(a.Me().mediaFilesListed);
    DBITEM_WxFriend& wang = a.Contact(kWang);
    struct Case {
      int localId;
      int msgType;
      std::string file;  // the end of the stored path found, "" none
    };
    const Case cases[] = {{1, chat::kWxMsgPicture, ""},  // 13.pic is not message 1's
                          {13, chat::kWxMsgPicture, "13.pic"},
                          {4, chat::kWxMsgVideo, "4.mp4"},  // the md5 in upper case
                          {13, 1, ""}};                    // a text looks for no file
    for (const Case& c : cases) {
      SCOPED_TRACE(c.localId);
      auto m = std::make_unique<DBITEM_WxChat>();
      m->localId = c.localId;
      m->msgType = c.msgType;
      m->direction = 1;
      chat::AttachMessage(wang, std::move(m));
      const std::string& path = MessageAt(wang, wang.items.size() - 1).mediaPath;
      if (c.file.empty()) {
        EXPECT_EQ(path, "");
      } else {
        ASSERT_FALSE(path.empty());
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, c.file == "13.pic" ? "13" : "4");
      }
    }
  }
}

TEST(AttachMessage, TakesTheEmojiUrl) {
  struct Case {
    const char* name;
    std::string text;
    std::string mediaPath;
    int msgType;
  };
  const std::vector<Case> cases = {
      {"cdnurl=", "<msg><emoji cdnurl=\"http://e/1\" /></msg>", "http://e/1", chat::kWxMsgEmoji},
      {"blank before =", "<msg><emoji md5=\"x\" cdnurl = \"http://e/2\" /></msg>", "http://e/2", chat::kWxMsgEmoji},
      {"thumburl=", "<msg><emoji thumburl=\"http://e/3\" /></msg>", "http://e/3", chat::kWxMsgEmoji},
      {"cdnurl preferred", "<msg><emoji thumburl=\"http://t\" cdnurl=\"http://c\"/></msg>", "http://c",
       chat::kWxMsgEmoji},
      {"empty URL", "<msg><emoji cdnurl=\"\"/></msg>", "", chat::kWxMsgEmoji},
      {"no closing quote", "<msg><emoji cdnurl=\"http://cut", "", 47},
      {"no quote at all", "<msg><emoji cdnurl=", "", 47},
      {"not an emoji", "<msg><img cdnurl=\"http://i\"/></msg>", "", 47},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Conversations conversations;
    const DBITEM_WxChat& m = Attach(*conversations.friendContact, c.text, 47, 1);
    EXPECT_EQ(m.mediaPath, c.mediaPath);
    EXPECT_EQ(m.msgType, c.msgType);
  }
}

// --- index records ------------------------------------------------------------

std::unique_ptr<DBITEM_WxBakChatContent> IndexRecord(int localId, int createTime, const std::string& text) {
  auto r = std::make_unique<DBITEM_WxBakChatContent>();
  r->usernameId = 3;
  r->localId = localId;
  r->createTime = createTime;
  r->time = createTime;
  r->text = text;
  return r;
}

TEST(AttachIndexRecord, AttachesOnceAndMakesDeletedMessages) {
  Conversations c;
  const DBITEM_WxChat& live = Attach(*c.friendContact, "live", 1, 1);  // localId 1, time 1600000000
  auto same = IndexRecord(1, 1600000000, "live");
  EXPECT_EQ(chat::AttachIndexRecord(*c.friendContact, same), 1);
  EXPECT_EQ(same, nullptr);
  EXPECT_NE(live.indexRecord, nullptr);
  auto duplicate = IndexRecord(1, 1600000000, "live");
  EXPECT_EQ(chat::AttachIndexRecord(*c.friendContact, duplicate), 0);
  EXPECT_NE(duplicate, nullptr);  // left with the caller

  // Same local ID, another time: a message of its own, deleted.
  auto other = IndexRecord(1, 1500000000, "older message");
  EXPECT_EQ(chat::AttachIndexRecord(*c.friendContact, other), 1);
  ASSERT_EQ(c.friendContact->items.size(), 2u);
  const DBITEM_WxChat& made = MessageAt(*c.friendContact, 1);
  EXPECT_EQ(made.deleted, 1);
  EXPECT_EQ(made.ShownText(), "older message");
  EXPECT_EQ(made.text, "");
  EXPECT_EQ(made.createTime, 1500000000);
  EXPECT_EQ(made.time, 1500000000);
  EXPECT_EQ(made.sender, c.friendContact);
  EXPECT_EQ(chat::MessageKey(made), (std::int64_t{1} << 32) + 1500000000);
  auto again = IndexRecord(1, 1500000000, "older message");
  EXPECT_EQ(chat::AttachIndexRecord(*c.friendContact, again), 0);

  // Extreme numbers form their key without overflow.
  auto extreme = IndexRecord(INT32_MIN, INT32_MIN, "edge");
  EXPECT_EQ(chat::AttachIndexRecord(*c.friendContact, extreme), 1);
  EXPECT_EQ(c.friendContact->items.size(), 3u);
}

TEST(MatchIndexRecords, TiesRecordsByNumberTextOrUnknownContact) {
  Conversations c;
  c.friendContact->usernameId = 3;
  c.me->contactsByUsernameId[3] = c.friendContact;
  // A session message made for wxid_member without a time.
  auto item = std::make_unique<chat::WxSessionItem>();
  item->created = 1;
  item->text = "session text";
  const DBITEM_WxChat& sessionMessage = Attach(*c.member, "session text", -1, 1, 0);
  item->message = c.member->items.back();
  c.member->sessionItem = item.get();
  c.me->sessionItems.push_back(std::move(item));

  auto add = [&c](int usernameId, int localId, int time, const std::string& text) {
    auto r = IndexRecord(localId, time, text);
    r->usernameId = usernameId;
    c.me->ftsContents.push_back(std::move(r));
  };
  add(3, 4, 1600000100, "for the friend");
  add(8, 5, 1600000200, "session text");
  add(11, 6, 1600000300, "nobody's");
  add(11, 7, 1600000400, "nobody's second");
  chat::MatchIndexRecords(*c.me);
  EXPECT_TRUE(c.me->ftsContents.empty());
  ASSERT_EQ(c.friendContact->items.size(), 1u);
  EXPECT_EQ(MessageAt(*c.friendContact, 0).ShownText(), "for the friend");
  EXPECT_EQ(c.member->usernameId, 8);
  EXPECT_EQ(sessionMessage.time, 1600000200);
  EXPECT_EQ(c.member->items.size(), 1u);  // matched, not added
  const DBITEM_WxFriend* unknown = c.me->FindContact("未知好友_11");
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->kind, chat::kWxKindRecovered);
  ASSERT_EQ(unknown->items.size(), 2u);
  // From the last record to the first.
  EXPECT_EQ(MessageAt(*unknown, 0).ShownText(), "nobody's second");
}

TEST(MatchIndexRecords, ATimeThatContradictsTheSessionIsNoMatch) {
  Conversations c;
  auto item = std::make_unique<chat::WxSessionItem>();
  item->created = 1;
  item->text = "same text";
  Attach(*c.member, "same text", -1, 1);  // time 1600000000
  item->message = c.member->items.back();
  c.member->sessionItem = item.get();
  c.me->sessionItems.push_back(std::move(item));
  auto r = IndexRecord(9, 1500000000, "same text");
  r->usernameId = 12;
  c.me->ftsContents.push_back(std::move(r));
  chat::MatchIndexRecords(*c.me);
  EXPECT_EQ(c.member->usernameId, -1);
  EXPECT_NE(c.me->FindContact("未知好友_12"), nullptr);
}

// --- session files --------------------------------------------------------------

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes T(const std::string& text) { return Bytes(text.begin(), text.end()); }

// 08 00 10, 16 bytes 0x20.., then a length and the text.
Bytes MarkerBlock(const std::string& text, Bytes length) {
  Bytes block = B({0x08, 0x00, 0x10});
  for (int i = 0; i < 16; ++i) block.push_back(static_cast<std::uint8_t>(0x20 + i));
  return Cat({block, length, T(text)});
}

TEST(ParseSessionRecords, ReadsFieldsAndStopsSafely) {
  struct Case {
    const char* name;
    Bytes data;
    std::vector<std::pair<int, std::string>> expected;
  };
  const std::string marked16 = " !\"#$%&'()*+,-./";
  const std::string longText(130, 'x');
  const Bytes block = MarkerBlock("ok", B({2}));
  const std::vector<Case> cases = {
      {"sample file",
       sample::WxSessionFileBytes({"wxid_a", "阿", "wxid_b", "最后一句"}),
       {{0x0A, "wxid_a"}, {0xFF, marked16}, {0xF0, "v1"}, {0x22, "阿"}, {0x52, "wxid_b"}, {0x5A, "最后一句"}}},
      {"empty", {}, {}},
      {"too short", B({0x0A, 0x00}), {}},
      {"field past the end, no marker", Cat({B({0x0A, 0x05}), T("ab")}), {}},
      {"length 0 and 1 skip", Cat({B({0x0A, 0x00, 0x22, 0x01, 0x00, 0x5A, 0x02}), T("hi")}), {{0x5A, "hi"}}},
      {"length 1 with a value skips five", Cat({B({0x22, 0x01, 0x07, 0xEE, 0xEE, 0x5A, 0x02}), T("ok")}),
       {{0x5A, "ok"}}},
      {"number fields", Cat({B({0x48, 0x05, 0x50, 0x06, 0x58, 0x07, 0x5A, 0x02}), T("ok")}), {{0x5A, "ok"}}},
      {"starts at the last 0x0A of the first 16 bytes", Cat({B({0x01, 0x0A, 0x02}), T("hi")}), {{0x0A, "hi"}}},
      {"two 0x0A: one earlier", Cat({B({0x0A, 0x0A, 0x02}), T("hi")}), {}},
      {"text cut at a zero byte", Cat({B({0x5A, 0x03}), T("a"), B({0x00}), T("b")}), {{0x5A, "a"}}},
      {"two-byte length", Cat({B({0x5A, 0x82, 0x01}), T(longText)}), {{0x5A, longText}}},
      {"length cut off", B({0x5A, 0x80, 0x80}), {}},
      {"marker block cut off", Cat({B({0x0A, 0x02}), T("hi"), B({0x12, 0x05, 0x08, 0x00, 0x10, 0x01, 0x02})}),
       {{0x0A, "hi"}}},
      {"marker text past the end", Cat({B({0x12, 0x20}), MarkerBlock("ab", B({0x40}))}), {}},
      {"marker text with a two-byte length", Cat({B({0x12, 0x7F}), MarkerBlock(longText, B({0x82, 0x01})),
                                                  B({0x5A, 0x02}), T("ok")}),
       {{0xFF, marked16}, {0xF0, longText}, {0x5A, "ok"}}},
      {"field past the end retries at the marker field",
       Cat({B({0x0A, 0x7F}), T("z"), B({0x12, static_cast<int>(block.size())}), block, B({0x5A, 0x02}), T("hi")}),
       {{0xFF, marked16}, {0xF0, "ok"}, {0x5A, "hi"}}},
      {"marker at the start", Cat({MarkerBlock("m", B({1})), B({0x5A, 0x01})}), {{0xFF, marked16}, {0xF0, "m"}}},
      {"marker block after other fields", Cat({B({0x5A, 0x02}), T("hi"), B({0x5A, 0x02}), T("yo"), B({0x12, 0x16}),
                                      MarkerBlock("ok", B({2}))}),
       {{0x5A, "hi"}, {0x5A, "yo"}, {0xFF, marked16}, {0xF0, "ok"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto records = chat::ParseSessionRecords(c.data);
    ASSERT_EQ(records.size(), c.expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].tag, c.expected[i].first) << i;
      EXPECT_EQ(records[i].text, c.expected[i].second) << i;
    }
  }
}

TEST(ParseSessionRecords, EndsOnEveryTruncationOfARealFile) {
  const Bytes file = sample::WxSessionFileBytes({"wxid_wangfang", "王芳", "wxid_wangfang", "明天见！"});
  for (std::size_t size = 0; size <= file.size(); ++size) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
    const auto records = chat::ParseSessionRecords(cut);
    EXPECT_LE(records.size(), 6u) << size;
  }
}

TEST(ReadSessionFiles, SkipsFilesThatCannotBeReadAndUnknownNames) {
  Conversations c;
  platform::TempFolder folder{"velmora-wxsession"};
  const auto write = [&folder](const std::string& name, const Bytes& bytes) {
    const std::string path = (folder.Path() / name).string();
    sample::WriteBytes(path, bytes);
    return path;
  };
  const std::string fresh = write("a", sample::WxSessionFileBytes({"wxid_new", "新人", "wxid_me", "wxid_me:\n在吗"}));
  const std::string garbage = write("b", B({0x0A, 0x7F, 0x01, 0x02}));  // no whole field
  const std::string gone = write("c", sample::WxSessionFileBytes({"wxid_friend", "", "", "x"}));
  ASSERT_NE(chat::RegisterSessionFile(*c.me, fresh), nullptr);
  EXPECT_EQ(chat::RegisterSessionFile(*c.me, fresh), nullptr);  // registered already
  EXPECT_EQ(chat::RegisterSessionFile(*c.me, (folder.Path() / "missing").string()), nullptr);
  ASSERT_NE(chat::RegisterSessionFile(*c.me, garbage), nullptr);
  ASSERT_NE(chat::RegisterSessionFile(*c.me, gone), nullptr);
  std::filesystem::remove(gone);
  chat::ReadSessionFiles(*c.me);
  const DBITEM_WxFriend* created = c.me->FindContact("wxid_new");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->deleted, 1);
  EXPECT_EQ(created->DisplayName(), "新人");
  ASSERT_EQ(created->items.size(), 1u);
  EXPECT_EQ(MessageAt(*created, 0).text, "在吗");
  EXPECT_EQ(created->items[0]->sender, c.me);  // the sender is the account
  EXPECT_EQ(created->items[0]->deleted, 1);
  EXPECT_TRUE(c.friendContact->items.empty());
  EXPECT_EQ(c.me->sessionItems[1]->userName, "");
}

// --- article messages -------------------------------------------------------------

TEST(RenderAppMessage, RendersArticlesAsLinkRowsAndEscapesOtherText) {
  using exporting::LinkRow;
  const std::string item = "<item><title><![CDATA[标题%d]]></title><url><![CDATA[http://a.com/%d]]></url></item>";
  auto numbered = [&item](int i) {
    std::string text = item;
    exporting::ReplaceAll(text, "%d", std::to_string(i));
    return text;
  };
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const std::string hostile = "\"><script>alert(1)</script>";
  const std::vector<Case> cases = {
      {"empty", "", ""},
      {"plain text escaped", "a<b>&\"c\"\nnext", exporting::EscapeHtml("a<b>&\"c\"") + "<br/>next"},
      {"three items numbered",
       "<msg><appmsg><mmreader><category>" + numbered(1) + numbered(2) + numbered(3) + "</category></mmreader>",
       "1." + LinkRow("http://a.com/1", "标题1") + "<br/>2." + LinkRow("http://a.com/2", "标题2") + "<br/>3." +
           LinkRow("http://a.com/3", "标题3")},
      {"one item not numbered", "<msg><appmsg><title>只有一篇</title><url>http://b.com/x</url></appmsg></msg>",
       LinkRow("http://b.com/x", "只有一篇")},
      {"hostile title passed raw to the link row", "<msg><title>" + hostile + "</title><url>http://c.com</url></msg>",
       LinkRow("http://c.com", hostile)},
      {"title in angle brackets", "<item><title><![CDATA[<要闻>]]></title><url><![CDATA[http://d.com]]></url>",
       LinkRow("http://d.com", "要闻")},
      {"link cut to its URL", "<item><title><![CDATA[T]]></title><url><![CDATA[xx http://e.com/a]b]]></url>",
       LinkRow("http://e.com/a", "T")},
      {"mail", "<pushmail><subject><![CDATA[邮件]]></subject><waplink><![CDATA[http://m.com]]></waplink></pushmail>",
       LinkRow("http://m.com", "邮件")},
      {"empty link counted, no row", "<item><title><![CDATA[T]]></title><url><![CDATA[]]></url>", ""},
      {"title without link", "<msg><title>T</title></msg>", exporting::EscapeHtml("<msg><title>T</title></msg>")},
      {"unclosed title", "<msg><title>T<url>u</url>", exporting::EscapeHtml("<msg><title>T<url>u</url>")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(chat::RenderAppMessage(c.text), c.expected);
  }
}

}  // namespace
