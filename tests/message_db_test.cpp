// Runs with TZ=CST-8 (set by CTest), so local time is UTC+8.
#include "readers/message_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "db/item_time.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "readers/address_book_db.h"
#include "testing/sample_backup.h"
#include "testing/sample_contacts.h"
#include "testing/sample_messages.h"

namespace {

namespace fs = std::filesystem;
using readers::CMessageDB;
using readers::DBITEM_Message;
using readers::DBITEM_MsgFriend;
using sample::SmsLayout;

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  sample::WriteBytes(path, bytes);
}

// One line per conversation ("== name", with the number of deleted
// messages when it holds any) and one per message ("x" rebuilt from free
// space, "r" in Recently Deleted, "-" live; "sent" or "recv"; the text).
std::vector<std::string> Describe(const CMessageDB& reader) {
  std::vector<std::string> lines;
  for (const auto& conversation : reader.Conversations()) {
    std::string line = "== " + conversation->name;
    if (conversation->deleted != 0) line += " (" + std::to_string(conversation->deletedMessageCount) + " recovered)";
    lines.push_back(line);
    for (const db::BaseItem* item : conversation->items) {
      const auto& message = dynamic_cast<const DBITEM_Message&>(*item);
      const char* mark = message.deleted == 0 ? "  - "
                         : message.deletedFrom == db::BaseItem::DeletedFrom::kRecentlyDeleted ? "  r "
                                                                                               : "  x ";
      lines.push_back(mark + std::string(message.isSent != 0 ? "sent " : "recv ") + message.text);
    }
  }
  return lines;
}

std::vector<const DBITEM_Message*> AllMessages(const CMessageDB& reader) {
  std::vector<const DBITEM_Message*> messages;
  for (const auto& conversation : reader.Conversations()) {
    for (const db::BaseItem* item : conversation->items) messages.push_back(dynamic_cast<const DBITEM_Message*>(item));
  }
  return messages;
}

std::string CsvOf(const std::vector<db::BaseItem*>& selection) {
  exporting::CExportWriter writer(nullptr, 5);
  readers::WriteMessagesCsv(writer, selection);
  return writer.CsvText();
}

std::vector<db::BaseItem*> AllConversations(const CMessageDB& reader) {
  std::vector<db::BaseItem*> selection;
  for (const auto& conversation : reader.Conversations()) selection.push_back(conversation.get());
  return selection;
}

sample::SmsMessage Message(std::int64_t rowId, std::int64_t handleId, std::int64_t date, const std::string& text) {
  sample::SmsMessage m;
  m.rowId = rowId;
  m.handleId = handleId;
  m.date = date;
  m.text = text;
  return m;
}

// One transaction: building a sample stays quick.
std::string Batch(const std::string& sql) { return "BEGIN;" + sql + "COMMIT;"; }

// 2021-12-01 09:00:00 in UTC+8, as stored from iOS 11 on.
const std::int64_t kDate = sample::AppleNanoseconds(1638320400);

class MessageDbTest : public ::testing::Test {
 protected:
  // Copies a sample database (and its -wal) into a folder of this test, as a
  // backup would hold it, and returns its path.
  std::string Place(const sample::SqliteFile& database, const std::string& name = "sms.db") {
    database.WriteTo(root_.Path() / name);
    return (root_.Path() / name).string();
  }

  platform::TempFolder root_{"velmora-msgtest"};
};

TEST_F(MessageDbTest, SampleListsConversationsRecoveredMessagesFirst) {
  const auto database = sample::MakeSampleSmsDb();
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  EXPECT_EQ(reader.MessageColumnCount(), sample::kSmsMessageIos14Columns);
  // Recovered: the three messages deleted one by one (the read one too: its
  // 8-byte date_read fits the layout made from the live table), and both
  // messages of the conversation deleted whole, whose handle went with it.
  // Live records that the scan finds as well are not repeated. The
  // conversations holding rebuilt messages lead in the order the scan met
  // their last one.
  EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                  "== 未知号码_5 (2 recovered)",
                                  "  x sent 那就删了吧",
                                  "  x recv 这条短信看完就删掉吧",
                                  "== +8613800138000 (2 recovered)",
                                  "  x sent 说好了，周末见",
                                  "  x recv 我的银行卡号是6222 0000 1111 2222，帮我转一下",
                                  "  - recv 在吗？",
                                  "  - sent 在，怎么了",
                                  "  - recv 周五的材料准备好了吗",
                                  "  - sent 还差一点，晚上发你",
                                  "  - recv 好，辛苦了",
                                  "  - sent 不客气",
                                  "  - recv 报告第三页的数据要更新",
                                  "  - sent 收到，我改一下",
                                  "  - recv 改好了，发你邮箱了",
                                  "  - sent 看到了，谢谢",
                                  "  - recv 下周一上午九点开会",
                                  "  - sent 好的，我提前到",
                                  "  - recv 记得带笔记本电脑",
                                  "  - sent 没问题",
                                  "  - recv 会议室换到302了",
                                  "  - sent 知道了",
                                  "  - recv 客户说下午两点到",
                                  "  - sent 我去接他们",
                                  "  - recv 辛苦，路上小心",
                                  "  - sent 到了跟你说",
                                  "  - recv 明天下午三点开会，别忘了带资料。",
                                  "  - sent 好的，收到！",
                                  "  - recv 会议改到四点了",
                                  "  - recv 晚上一起吃饭吗",
                                  "  - sent 好啊，几点",
                                  "  - recv 七点，老地方",
                                  "  - sent 行，我订位子",
                                  "  - recv 订好了，靠窗",
                                  "  - sent 太好了",
                                  "  - recv 要不要叫上小李",
                                  "  - sent 叫上吧，人多热闹",
                                  "  - recv 他说晚点到",
                                  "  - sent 没关系，我们先点菜",
                                  "  - recv 你想吃什么",
                                  "  - sent 随便，你定",
                                  "  - sent 我到了，在门口等你",
                                  "== lin.mei@example.com (1 recovered)",
                                  "  x recv Don't tell anyone, the code is 4711",
                                  "  - recv Hi Mei, are we still on for dinner, 7pm?",
                                  "  - sent She said \"see you there\", so yes.",
                                  "  - recv <script>alert('hi')</script>",
                                  "  - recv \xEF\xBF\xBC",
                                  "== +1 (415) 555-0123",
                                  "  - recv Your package has shipped. Track it at https://example.com/t/8841",
                                  "== 10086",
                                  "  - recv 【中国移动】尊敬的客户，您好！您本月话费账单已出，详询10086。",
                              }));
}

TEST_F(MessageDbTest, MessagesKnowTheirConversationSenderAndFields) {
  const auto database = sample::MakeSampleSmsDb();
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  EXPECT_EQ(reader.OwnNumberFriend().name, "本机号码");
  for (const auto& conversation : reader.Conversations()) {
    EXPECT_NE(conversation.get(), &reader.OwnNumberFriend());
    for (const db::BaseItem* item : conversation->items) {
      const auto& message = dynamic_cast<const DBITEM_Message&>(*item);
      EXPECT_EQ(message.parent, conversation.get()) << message.text;
      const db::FriendItem* author = message.isSent != 0 ? &reader.OwnNumberFriend() : conversation.get();
      EXPECT_EQ(message.sender, author) << message.text;
      EXPECT_EQ(message.Title(), conversation->address);
      EXPECT_EQ(message.SearchText(), message.text);
    }
  }
  // A live message keeps its row and handle columns.
  const auto& wang = *reader.Conversations()[1];
  const auto& live = dynamic_cast<const DBITEM_Message&>(*wang.items[22]);
  EXPECT_EQ(live.rowId, 21);
  EXPECT_EQ(live.guid, "5C0F2A7E-3B1D-4C8E-9F6A-000000000015");
  EXPECT_EQ(live.handleId, 1);
  EXPECT_EQ(live.account, "p:+8613700001234");
  EXPECT_EQ(live.destinationCallerId, "+8613700001234");
  EXPECT_EQ(live.handleText, "+8613800138000");
  EXPECT_DOUBLE_EQ(live.time, 1638320400);
  // A recovered one has what its record holds: no row id (the table's key is
  // not in the record), the guid, the handle number, the account.
  const auto& recovered = dynamic_cast<const DBITEM_Message&>(*wang.items[0]);
  EXPECT_EQ(recovered.rowId, -1);
  EXPECT_EQ(recovered.guid, "5C0F2A7E-3B1D-4C8E-9F6A-000000000018");
  EXPECT_EQ(recovered.handleId, 1);
  EXPECT_EQ(recovered.account, "p:+8613700001234");
  EXPECT_DOUBLE_EQ(recovered.time, 1638320400 + 12 * 60);
  EXPECT_DOUBLE_EQ(wang.time, recovered.time);  // the message filed last
}

TEST_F(MessageDbTest, CsvLinesOfTheSample) {
  const auto database = sample::MakeSampleSmsDb();
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  const std::vector<db::BaseItem*> selection = {reader.Conversations()[2].get(), reader.Conversations()[4].get()};
  EXPECT_EQ(CsvOf(selection),
            "名称,日期,类型,内容\r\n"
            "lin.mei@example.com,2021-12-01 10:10:00 ,接收,\"Don't tell anyone， the code is 4711\"\r\n"
            "lin.mei@example.com,2021-12-01 10:00:00 ,接收,\"Hi Mei， are we still on for dinner， 7pm?\"\r\n"
            "lin.mei@example.com,2021-12-01 10:02:00 ,发送,\"She said \"\"see you there\"\"， so yes.\"\r\n"
            "lin.mei@example.com,2021-12-01 10:05:00 ,接收,\"<script>alert('hi')</script>\"\r\n"
            "lin.mei@example.com,2021-12-01 10:15:00 ,接收,\"\xEF\xBF\xBC\"\r\n"
            "10086,2021-12-01 12:00:00 ,接收,\"【中国移动】尊敬的客户，您好！您本月话费账单已出，详询10086。\"\r\n");
}

TEST(WriteMessagesCsv, PassesOverWhatIsNoConversationAndQuotesNamesThatWouldSplitTheLine) {
  DBITEM_MsgFriend shop;
  shop.name = "Shop, \"Express\"";
  auto message = std::make_unique<DBITEM_Message>();
  message->text = "Your parcel is here";
  message->time = 1638324000;
  message->deleted = 1;
  DBITEM_Message* filed = shop.File(std::move(message), false);
  DBITEM_MsgFriend plain;
  plain.name = "Mei";
  auto sent = std::make_unique<DBITEM_Message>();
  sent->text = "ok";
  sent->time = 1638324060;
  sent->isSent = 1;
  plain.File(std::move(sent), false);
  DBITEM_MsgFriend empty;
  empty.name = "nobody";
  EXPECT_EQ(CsvOf({nullptr, filed, &empty, &shop, &plain}),
            "名称,日期,类型,内容\r\n"
            "\"Shop， \"\"Express\"\"\",2021-12-01 10:00:00 ,接收,\"Your parcel is here\"\r\n"
            "Mei,2021-12-01 10:01:00 ,发送,\"ok\"\r\n");
}

TEST_F(MessageDbTest, WritesEachLineWithItsDeletedFlagToTheExportFolder) {
  const auto database = sample::MakeSampleSmsDb();
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  const std::vector<db::BaseItem*> selection = AllConversations(reader);
  exporting::CExportWriter writer(nullptr, 5);
  writer.BeginCategory(root_.Path() / "out", "Lin's iPhone");
  writer.BeginList(static_cast<int>(selection.size()));
  readers::WriteMessagesCsv(writer, selection);
  writer.Finish();
  std::ifstream page(writer.Folder() / "网页格式" / "短信.html");
  const std::string html((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  // Five recovered messages, drawn with the deletion mark; the script tag of
  // a message is shown as text.
  std::size_t marks = 0;
  const std::string mark = "DeleteFlag.png";
  for (std::size_t at = html.find(mark); at != std::string::npos; at = html.find(mark, at + 1)) ++marks;
  EXPECT_EQ(marks, 5u);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_TRUE(fs::exists(writer.Folder() / "表格格式" / "短信.csv"));
}

TEST_F(MessageDbTest, NewestMessagesInTheWriteAheadLogAreRead) {
  const auto database = sample::MakeSampleSmsDb(sample::SqliteFile::Journal::kWalPending);
  ASSERT_FALSE(database->WalBytes().empty());
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  const auto lines = Describe(reader);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  - sent 我到了，在门口等你"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  x sent 说好了，周末见"), lines.end());
}

// Every live message appears once and every recovered message once, though
// the scan meets each live record as well, older copies of rewritten records
// (some partly overwritten since), and may meet a deleted record twice.
TEST_F(MessageDbTest, RecoveredMessagesAppearOnce) {
  std::string sql = sample::SmsSchemaSql();
  sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
  for (int i = 1; i <= 40; ++i) {
    sql += sample::InsertMessageSql(Message(i, 1, kDate + i * 60000000000LL, "第" + std::to_string(i) + "条消息"));
  }
  // A longer row no longer fits where it was: its record moves, and the old
  // bytes stay behind.
  sql += "UPDATE message SET cache_roomnames = 'chat123456789012345678901234567890' WHERE ROWID <= 5;";
  sql += "DELETE FROM message WHERE ROWID BETWEEN 30 AND 33;";
  const sample::SqliteFile database(Batch(sql));
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
  std::map<std::string, int> seen;
  std::vector<std::string> recovered;
  for (const DBITEM_Message* message : AllMessages(reader)) {
    ++seen[message->text];
    if (message->deleted != 0) recovered.push_back(message->text);
  }
  for (const auto& [text, count] : seen) EXPECT_EQ(count, 1) << text;
  EXPECT_EQ(seen.size(), 40u);
  std::sort(recovered.begin(), recovered.end());
  EXPECT_EQ(recovered, (std::vector<std::string>{"第30条消息", "第31条消息", "第32条消息", "第33条消息"}));
}

TEST_F(MessageDbTest, ARecoveredCopyOfALiveMessageIsDropped) {
  const std::string eighty(80, 'a');
  struct Case {
    const char* name;
    std::int64_t date;
    std::int64_t handleId;
    std::string text;
    bool kept;
  };
  const Case cases[] = {
      {"same time, handle and text", kDate, 1, eighty + "-live", false},
      {"differs only after the 80th character", kDate, 1, eighty + "-other", false},
      {"differs within the first 80 characters", kDate, 1, "b" + eighty, true},
      {"another time", kDate + 1000000000, 1, eighty + "-live", true},
      {"another handle", kDate, 2, eighty + "-live", true},
  };
  for (const Case& c : cases) {
    std::string sql = sample::SmsSchemaSql();
    sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
    sql += sample::InsertHandleSql({2, "+8613900000000", "cn", "SMS", ""});
    sql += sample::InsertMessageSql(Message(1, 1, kDate, eighty + "-live"));
    sql += sample::InsertMessageSql(Message(2, c.handleId, c.date, c.text));
    sql += "DELETE FROM message WHERE ROWID = 2;";
    const sample::SqliteFile database(Batch(sql));
    CMessageDB reader;
    ASSERT_TRUE(reader.Open(Place(database), 0).Ok()) << c.name;
    std::size_t recovered = 0;
    for (const DBITEM_Message* message : AllMessages(reader)) {
      if (message->deleted != 0) {
        ++recovered;
        EXPECT_EQ(message->text, c.text) << c.name;
      }
    }
    EXPECT_EQ(recovered, c.kept ? 1u : 0u) << c.name;
  }
}

TEST_F(MessageDbTest, ConversationsAreKeyedByTheHandlesAddress) {
  std::string sql = sample::SmsSchemaSql();
  sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
  sql += sample::InsertHandleSql({2, "+8613800138000", "cn", "iMessage", "138 0013 8000"});
  sql += sample::InsertHandleSql({3, "+8613900000000", "cn", "SMS", "+8613800138000"});
  sql += sample::InsertMessageSql(Message(1, 1, kDate, "one"));
  sql += sample::InsertMessageSql(Message(2, 2, kDate + 60000000000, "two"));
  sql += sample::InsertMessageSql(Message(3, 3, kDate + 120000000000, "three"));
  sql += sample::InsertMessageSql(Message(4, 1, kDate + 180000000000, "four"));
  // No handle row: still a live message, under its handle number.
  sql += sample::InsertMessageSql(Message(5, 9, kDate, "no handle"));
  const sample::SqliteFile database(Batch(sql));
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
  EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                  "== +8613800138000",
                                  "  - recv one",
                                  "  - recv three",
                                  "  - recv four",
                                  "== 138 0013 8000",
                                  "  - recv two",
                                  "== 未知号码_9",
                                  "  - recv no handle",
                              }));
}

TEST_F(MessageDbTest, RecoveredMessageTakesItsHandlesAddressOrAnUnknownNumber) {
  std::string sql = sample::SmsSchemaSql();
  sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
  sql += sample::InsertHandleSql({2, "lin.mei@example.com", "cn", "iMessage", "Lin.Mei@Example.com"});
  sql += sample::InsertHandleSql({7, "+8615000000000", "cn", "SMS", ""});
  sql += sample::InsertMessageSql(Message(1, 1, kDate, "live"));
  sql += sample::InsertMessageSql(Message(2, 2, kDate, "to a handle that stays"));
  sql += sample::InsertMessageSql(Message(3, 7, kDate, "to a handle that goes"));
  // The trigger removes handle 7 with its last message; handle 2 stays for
  // its chat.
  sql += sample::InsertChatSql(2, {2, "lin.mei@example.com", "cn", "iMessage", ""});
  sql += "DELETE FROM message WHERE ROWID IN (2, 3);";
  const sample::SqliteFile database(Batch(sql));
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
  EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                  "== 未知号码_7 (1 recovered)",
                                  "  x recv to a handle that goes",
                                  "== Lin.Mei@Example.com (1 recovered)",
                                  "  x recv to a handle that stays",
                                  "== +8613800138000",
                                  "  - recv live",
                              }));
}

// The columns read sit at the same places in the iOS 7 and iOS 14 tables;
// dates are seconds there and nanoseconds here, and the handle table grew by
// a column, which must not shift what is recovered.
TEST_F(MessageDbTest, BothTableShapesLiveAndRecovered) {
  struct Case {
    const char* name;
    SmsLayout layout;
    std::int64_t date;
    int messageColumns;
  };
  const Case cases[] = {
      {"iOS 7, seconds", SmsLayout::kIos7, 500000000, sample::kSmsMessageIos7Columns},
      {"iOS 14, nanoseconds", SmsLayout::kIos14, 500000000000000000, sample::kSmsMessageIos14Columns},
  };
  for (const Case& c : cases) {
    std::string sql = sample::SmsSchemaSql(c.layout);
    sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
    sample::SmsMessage sent = Message(1, 1, c.date, "发出的短信, with a comma");
    sent.isFromMe = true;
    sql += sample::InsertMessageSql(sent, c.layout);
    sql += sample::InsertMessageSql(Message(2, 1, c.date + 1, "收到后删除的短信"), c.layout);
    sql += "DELETE FROM message WHERE ROWID = 2;";
    const sample::SqliteFile database(Batch(sql));
    CMessageDB reader;
    ASSERT_TRUE(reader.Open(Place(database), 0).Ok()) << c.name;
    EXPECT_EQ(reader.MessageColumnCount(), c.messageColumns) << c.name;
    EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                    "== +8613800138000 (1 recovered)",
                                    "  x recv 收到后删除的短信",
                                    "  - sent 发出的短信, with a comma",
                                }))
        << c.name;
    const auto messages = AllMessages(reader);
    ASSERT_EQ(messages.size(), 2u);
    // 2016-11-05 00:53:20 UTC either way (plus the nanosecond or second the
    // deleted message came later).
    EXPECT_DOUBLE_EQ(messages[1]->time, 1478307200) << c.name;
    EXPECT_NEAR(messages[0]->time, 1478307200, 1.0) << c.name;
    EXPECT_EQ(messages[0]->guid, "5C0F2A7E-3B1D-4C8E-9F6A-000000000002") << c.name;
  }
}

TEST_F(MessageDbTest, RecoveredMessageWithoutIsSentIsReceived) {
  std::string sql = sample::SmsSchemaSql();
  sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
  sql += sample::InsertMessageSql(Message(1, 1, kDate, "is_sent NULL"));
  sql += "UPDATE message SET is_sent = NULL WHERE ROWID = 1;";
  const sample::SqliteFile live(Batch(sql));
  sql += "DELETE FROM message WHERE ROWID = 1;";
  const sample::SqliteFile deleted(Batch(sql));
  for (const sample::SqliteFile* database : {&live, &deleted}) {
    CMessageDB reader;
    ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
    const auto messages = AllMessages(reader);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->isSent, 0);
    EXPECT_EQ(messages[0]->sender, messages[0]->parent);
  }
}

// On iOS 11 and later a read message keeps date_read in nanoseconds (an
// 8-byte integer); the layout made from the live table takes it, and the
// message comes back with its text, guid, time and direction.
TEST_F(MessageDbTest, DeletedMessageThatHadBeenReadIsFoundOnIos14) {
  const auto database = sample::MakeSampleSmsDb();
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  std::vector<const DBITEM_Message*> found;
  for (const DBITEM_Message* message : AllMessages(reader)) {
    if (message->text == "我的银行卡号是6222 0000 1111 2222，帮我转一下") found.push_back(message);
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->deleted, 1);
  EXPECT_EQ(found[0]->deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
  EXPECT_EQ(found[0]->isSent, 0);
  EXPECT_EQ(found[0]->guid, "5C0F2A7E-3B1D-4C8E-9F6A-000000000017");
}

// The current table widths (iOS 14's 74 columns, iOS 17's 84), read and
// unread messages, bodies in text or only in attributedBody: deleted from
// the main file they come back marked free space, inserted and deleted
// after the last checkpoint (only in older frames of the -wal) marked as
// the log's; each once, and no live message again, also where the log holds
// older versions of a live row (marked read since).
TEST_F(MessageDbTest, CurrentShapesGiveRowsDeletedInTheFileAndInTheLog) {
  struct Case {
    const char* name;
    SmsLayout layout;
    int columns;
  };
  for (const Case& c : {Case{"iOS 14", SmsLayout::kIos14, sample::kSmsMessageIos14Columns},
                        Case{"iOS 17", SmsLayout::kIos17, sample::kSmsMessageIos17Columns}}) {
    const auto message = [&](int row, bool read, bool bodyOnly) {
      sample::SmsMessage m = Message(row, 1 + row % 2, kDate + row * 60000000000LL, "消息 " + std::to_string(row));
      m.isFromMe = row % 3 == 0;
      m.isRead = read && !m.isFromMe;
      m.dateRead = m.isRead ? m.date + 5000000000LL : 0;
      m.bodyOnly = bodyOnly;
      return sample::InsertMessageSql(m, c.layout);
    };
    std::string setup = sample::SmsSchemaSql(c.layout);
    setup += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
    setup += sample::InsertHandleSql({2, "+8613900139000", "cn", "iMessage", ""});
    std::string rows;
    for (int row = 1; row <= 30; ++row) rows += message(row, row % 2 == 0, c.layout == SmsLayout::kIos17 && row % 4 == 0);
    setup += Batch(rows) + "DELETE FROM message WHERE ROWID IN (4, 5, 6, 17);";
    std::string recent = Batch(message(31, true, false) + message(32, false, c.layout == SmsLayout::kIos17));
    recent += "UPDATE message SET is_read = 1, date_read = date WHERE ROWID = 7;";
    recent += "DELETE FROM message WHERE ROWID IN (31, 32);";
    const sample::SqliteFile database(setup, recent, sample::SqliteFile::Journal::kWalPending);
    ASSERT_FALSE(database.WalBytes().empty()) << c.name;
    CMessageDB reader;
    ASSERT_TRUE(reader.Open(Place(database), 0).Ok()) << c.name;
    EXPECT_EQ(reader.MessageColumnCount(), c.columns) << c.name;
    std::map<std::string, std::vector<const DBITEM_Message*>> byText;
    for (const DBITEM_Message* m : AllMessages(reader)) byText[m->text].push_back(m);
    for (int row = 1; row <= 32; ++row) {
      const std::string text = "消息 " + std::to_string(row);
      ASSERT_EQ(byText[text].size(), 1u) << c.name << ": " << text;
      const DBITEM_Message& m = *byText[text][0];
      const bool deletedInFile = row == 4 || row == 5 || row == 6 || row == 17;
      const bool deletedInLog = row >= 31;
      EXPECT_EQ(m.deleted, deletedInFile || deletedInLog ? 1 : 0) << c.name << ": " << text;
      if (m.deleted != 0) {
        EXPECT_EQ(m.deletedFrom, deletedInLog ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace)
            << c.name << ": " << text;
        EXPECT_EQ(m.isSent, row % 3 == 0 ? 1 : 0) << c.name << ": " << text;
        EXPECT_DOUBLE_EQ(m.time, db::UnixFromAppleDate(kDate + row * 60000000000LL)) << c.name << ": " << text;
        EXPECT_EQ(m.handleId, 1 + row % 2) << c.name << ": " << text;
      }
    }
    EXPECT_EQ(byText.size(), 32u) << c.name;
  }
}

TEST_F(MessageDbTest, PeersAreNamedThroughContacts) {
  std::string contactsSql = sample::AddressBookSchema();
  contactsSql +=
      "INSERT INTO ABPerson (ROWID, First, Last, guid) VALUES (1, '小明', '王', 'p1');"
      "INSERT INTO ABPerson (ROWID, First, Last, Nickname, guid) VALUES (2, 'Mei', 'Lin', 'Mei', 'p2');"
      "INSERT INTO ABPerson (ROWID, Organization, guid) VALUES (3, '中国移动', 'p3');"
      "INSERT INTO ABMultiValue (UID, record_id, property, identifier, label, value, guid) VALUES "
      "(1, 1, 3, 0, 1, '13800138000', 'g1'), (2, 2, 4, 0, 1, 'lin.mei@example.com', 'g2'), "
      "(3, 3, 3, 0, 1, '10086', 'g3');";
  const sample::SqliteFile contactsFile(contactsSql);
  readers::CAddressBookDB contacts;
  ASSERT_TRUE(contacts.Open(Place(contactsFile, "AddressBook.sqlitedb"), 0).Ok());

  const auto database = sample::MakeSampleSmsDb();
  CMessageDB reader(nullptr, &contacts);
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  std::vector<std::string> names;
  for (const auto& conversation : reader.Conversations()) {
    names.push_back(conversation->name + " <" + conversation->address + ">");
  }
  // "+86" is dropped before the lookup; a contact without a name of its own
  // (only the placeholder) leaves the conversation its number; e-mail
  // addresses are not looked up.
  EXPECT_EQ(names, (std::vector<std::string>{"未知号码_5 <未知号码_5>", "王小明 <+8613800138000>",
                                             "lin.mei@example.com <lin.mei@example.com>",
                                             "+1 (415) 555-0123 <+1 (415) 555-0123>", "10086 <10086>"}));
  const std::string csv = CsvOf({reader.Conversations()[1].get()});
  EXPECT_EQ(csv.substr(0, csv.find("\r\n", csv.find("\r\n") + 2)),
            "名称,日期,类型,内容\r\n王小明,2021-12-01 09:12:00 ,发送,\"说好了，周末见\"");
}

TEST_F(MessageDbTest, MissingOrDamagedDatabaseGivesNoConversations) {
  CMessageDB reader;
  EXPECT_FALSE(reader.Open((root_.Path() / "sms.db").string(), 0).Ok());
  EXPECT_TRUE(reader.Conversations().empty());
  EXPECT_FALSE(fs::exists(root_.Path() / "sms.db"));

  WriteFile(root_.Path() / "junk.db", std::vector<std::uint8_t>(4096, 0x55));
  CMessageDB junk;
  junk.Open((root_.Path() / "junk.db").string(), 0);
  EXPECT_TRUE(junk.Conversations().empty());
  EXPECT_EQ(junk.MessageColumnCount(), 0);

  // A database without the message tables: nothing to list, nothing to scan.
  const sample::SqliteFile other("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT);");
  CMessageDB empty;
  EXPECT_TRUE(empty.Open(Place(other), 0).Ok());
  EXPECT_TRUE(empty.Conversations().empty());
  EXPECT_EQ(empty.MessageColumnCount(), 0);
}

TEST_F(MessageDbTest, OpeningAgainStartsFromNothing) {
  const auto database = sample::MakeSampleSmsDb();
  const std::string path = Place(*database);
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  const auto first = Describe(reader);
  reader.Close();
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  EXPECT_EQ(Describe(reader), first);
  // A failed open leaves nothing of the last one behind.
  EXPECT_FALSE(reader.Open((root_.Path() / "gone.db").string(), 0).Ok());
  EXPECT_TRUE(reader.Conversations().empty());
}

// iOS 17: the chat decides the conversation, a group is one conversation
// with the owner's messages (handle_id 0) in it, bodies kept only in
// attributedBody are read, Recently Deleted messages are deleted ones with
// their date (also those whose chat is gone), and a purged message is
// rebuilt from its bytes.
TEST_F(MessageDbTest, Ios17SampleByChatWithArchivedBodiesAndRecentlyDeleted) {
  // The newest message waits in the -wal, as in the backup: the page the
  // main file keeps still holds the purged message's bytes.
  const auto database = sample::MakeSampleSmsDbIos17(sample::SqliteFile::Journal::kWalPending);
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  EXPECT_EQ(reader.MessageColumnCount(), sample::kSmsMessageIos17Columns);
  EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                  "== +8613800138000 (3 recovered)",
                                  "  x recv 这条消息已经彻底删除了",
                                  "  - recv 下班了吗",
                                  "  - sent 快了",
                                  "  - recv 晚饭吃什么",
                                  "  - sent 面条吧",
                                  "  - recv 好",
                                  "  - sent 路上堵车",
                                  "  - recv 慢慢来",
                                  "  - sent 到家了",
                                  "  - recv 早点休息",
                                  "  - sent 晚安",
                                  "  - recv 早",
                                  "  - sent 今天降温了",
                                  "  - recv 多穿点",
                                  "  - sent 知道啦",
                                  "  - recv 周末有空吗",
                                  "  - sent 有",
                                  "  - recv 周六去爬山吗？",
                                  "  - sent 去！几点出发",
                                  "  - recv 早上七点，北门集合",
                                  "  - sent 好，我带水",
                                  "  r recv 我的新地址是朝阳区望京街8号",
                                  "  r sent 收到",
                                  "  - recv 别忘了带雨衣",
                                  "  - sent 我到北门了",
                                  "== 周末爬山群 (1 recovered)",
                                  "  - recv 大家好，这周六爬香山",
                                  "  - sent 我报名",
                                  "  - recv 我也去",
                                  "  - sent 我开车，能坐四个人",
                                  "  - recv 那我坐你的车",
                                  "  r sent 下次别叫他了",
                                  "  - recv 路线：从北门进，经过香炉峰、鬼见愁，再从东门下山，全程大约六公里，中午在山顶野餐，大家自带午饭和水，记得穿防滑的鞋。",
                                  "  - recv ￼",
                                  "== +8613911112222 (2 recovered)",
                                  "  r recv 验证码482913，五分钟内有效",
                                  "  r sent 谢谢",
                                  "== lin.mei@example.com、+8615900001111",
                                  "  - recv 照片发你们了",
                                  "  - sent 收到，拍得真好",
                                  "== lin.mei@example.com",
                                  "  - recv Dinner at 7?",
                                  "  - sent Sure, see you there. The contract is attached.",
                              }));
  std::map<std::int32_t, const DBITEM_Message*> byRow;
  for (const DBITEM_Message* message : AllMessages(reader)) byRow[message->rowId] = message;
  // Recently Deleted keeps the deletion date; a message whose chat is gone
  // goes to its handle's conversation; a rebuilt one carries no date.
  const std::int64_t deletedAt = 1709949600 + 1440 * 60;
  ASSERT_EQ(byRow.count(105), 1u);
  EXPECT_DOUBLE_EQ(byRow[105]->deletedAt, deletedAt);
  EXPECT_DOUBLE_EQ(byRow[501]->deletedAt, deletedAt + 120);
  EXPECT_EQ(dynamic_cast<const DBITEM_MsgFriend*>(byRow[501]->parent)->address, "+8613911112222");
  const DBITEM_Message* purged = AllMessages(reader).front();
  EXPECT_EQ(purged->deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
  EXPECT_EQ(purged->deletedAt, 0);
  // In a group the owner's messages are the owner's, the others' are their
  // member's; the group lists its members.
  const auto& group = dynamic_cast<const DBITEM_MsgFriend&>(*byRow[201]->parent);
  EXPECT_TRUE(group.isGroup);
  EXPECT_EQ(group.members, (std::vector<std::string>{"+8615900001111", "+8618600002222", "lin.mei@example.com"}));
  EXPECT_EQ(byRow[202]->sender, &reader.OwnNumberFriend());
  EXPECT_EQ(byRow[202]->handleId, 0);
  ASSERT_NE(byRow[203]->sender, nullptr);
  EXPECT_EQ(dynamic_cast<const DBITEM_MsgFriend&>(*byRow[203]->sender).name, "+8618600002222");
  EXPECT_EQ(byRow[203]->address, "+8618600002222");
  // Attachments come with their message, by the attachment table; without a
  // backup index no stored file is looked up.
  ASSERT_EQ(byRow[301]->attachments.size(), 2u);
  EXPECT_EQ(byRow[301]->attachments[0]->name, "IMG_2041.JPG");
  EXPECT_EQ(byRow[301]->attachments[1]->mimeType, "video/quicktime");
  EXPECT_EQ(byRow[301]->attachments[1]->relativePath, "Library/SMS/Attachments/3a/10/A1B2C3D4-0002/IMG_2042.MOV");
  ASSERT_EQ(byRow[103]->attachments.size(), 1u);
  EXPECT_EQ(byRow[103]->attachments[0]->totalBytes, 1843200);
  EXPECT_TRUE(byRow[103]->attachments[0]->storedPath.empty());
  EXPECT_TRUE(byRow[101]->attachments.empty());
}

// Without a chat table (or with links lost) a message goes to its handle's
// conversation; one the owner sent without a handle is kept, under the
// unknown number.
TEST_F(MessageDbTest, MessagesNoChatLinksFallBackToTheirHandle) {
  std::string sql = sample::SmsSchemaSql(SmsLayout::kIos17);
  sql += sample::InsertHandleSql({1, "+8613800138000", "cn", "SMS", ""});
  sql += sample::InsertHandleSql({2, "+8613900000000", "cn", "SMS", ""});
  sql += sample::InsertChatSql(1, {1, "+8613800138000", "cn", "SMS", ""});
  sql += sample::InsertMessageSql(Message(1, 1, kDate, "linked"), SmsLayout::kIos17);
  sql += sample::JoinMessageToChatSql(1, 1);
  sql += sample::InsertMessageSql(Message(2, 1, kDate + 1, "same peer, no link"), SmsLayout::kIos17);
  sql += sample::InsertMessageSql(Message(3, 2, kDate + 2, "other peer, no link"), SmsLayout::kIos17);
  sample::SmsMessage own = Message(4, 0, kDate + 3, "sent, no handle, no link");
  own.isFromMe = true;
  sql += sample::InsertMessageSql(own, SmsLayout::kIos17);
  const sample::SqliteFile database(Batch(sql));
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
  EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                  "== +8613800138000",
                                  "  - recv linked",
                                  "  - recv same peer, no link",
                                  "== +8613900000000",
                                  "  - recv other peer, no link",
                                  "== 未知号码_0",
                                  "  - sent sent, no handle, no link",
                              }));
}

// A copy in folder of a real sms.db below ../shared (even a read-only open
// writes beside a database), or an empty path when the sample is absent.
fs::path CopyOfRealSmsDb(const std::string& relativePath, const platform::TempFolder& folder) {
  const fs::path source = fs::path(VELMORA_SHARED_DIR) / relativePath;
  if (!fs::exists(source)) return {};
  const fs::path copy = folder.Path() / "sms.db";
  fs::copy_file(source, copy);
  return copy;
}

TEST(MessageDbReal, Ios7SmsDbListsItsConversation) {
  platform::TempFolder folder("velmora-msgreal");
  const fs::path copy = CopyOfRealSmsDb("samples/OTAPKI-iphone/HomeDomain_Library_SMS_sms.db", folder);
  if (copy.empty()) GTEST_SKIP() << "no iOS 7 sms.db among the samples";
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(copy.string(), 0).Ok());
  EXPECT_EQ(reader.MessageColumnCount(), sample::kSmsMessageIos7Columns);
  ASSERT_EQ(reader.Conversations().size(), 1u);
  const DBITEM_MsgFriend& conversation = *reader.Conversations()[0];
  EXPECT_EQ(conversation.name, "4891");
  EXPECT_EQ(conversation.deleted, 0);
  ASSERT_EQ(conversation.items.size(), 2u);
  const auto& first = dynamic_cast<const DBITEM_Message&>(*conversation.items[0]);
  EXPECT_EQ(first.text.rfind("VICTORIA, thanks for your recent purchase", 0), 0u);
  EXPECT_EQ(first.account, "p:+14152546991");
  EXPECT_EQ(db::FormatItemTime(first.time), "2015-11-02 05:59:14 ");
}

// The sms.db of a real iOS 14.3 backup (74 columns, one live message), on a
// copy: the live message is listed once and live, and a rebuilt one is no
// copy of it, has a UUID guid, a date in the phone's years and a text that
// decodes.
TEST(MessageDbReal, Ios14SmsDbGivesItsLiveMessageAndNoFalseDeletedOne) {
  platform::TempFolder folder("velmora-msgreal");
  const fs::path copy = CopyOfRealSmsDb("samples/mvt/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28", folder);
  if (copy.empty()) GTEST_SKIP() << "no iOS 14 sms.db among the samples";
  CMessageDB reader;
  ASSERT_TRUE(reader.Open(copy.string(), 0).Ok());
  EXPECT_EQ(reader.MessageColumnCount(), sample::kSmsMessageIos14Columns);
  const std::string liveGuid = "FDC6EC94-9D5A-434D-90FA-BF170E10A311";
  std::size_t live = 0;
  for (const DBITEM_Message* message : AllMessages(reader)) {
    if (message->deleted == 0) {
      ++live;
      EXPECT_EQ(message->guid, liveGuid);
      EXPECT_EQ(message->text.rfind("Please click here https://badbadbad.exam", 0), 0u);
      continue;
    }
    EXPECT_NE(message->guid, liveGuid);
    EXPECT_TRUE(db::IsUuidText(message->guid)) << message->guid;
    EXPECT_TRUE(db::IsValidUtf8(message->text)) << message->guid;
    EXPECT_GE(message->time, db::kAppleEpochOffsetSeconds) << message->guid;
    EXPECT_LT(message->time, 4102444800) << message->guid;
  }
  EXPECT_EQ(live, 1u);
}

}  // namespace
