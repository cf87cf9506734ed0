// Runs with TZ=CST-8 (set by CTest), so local time is UTC+8.
#include "chat/whatsapp_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "base/categories.h"
#include "chat/chat_categories.h"
#include "db/item_time.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"
#include "testing/sample_whatsapp.h"

namespace {

namespace fs = std::filesystem;
using chat::CWhatsAppDB;
using chat::DBITEM_WhatsApp;
using chat::DBITEM_WhatsAppFriend;
using Journal = sample::SqliteFile::Journal;

constexpr char kMei[] = "8613800138000@s.whatsapp.net";
constexpr char kTom[] = "14155550123@s.whatsapp.net";
constexpr char kZhao[] = "8615012345678@s.whatsapp.net";
constexpr char kAnnaJid[] = "447700900123@s.whatsapp.net";

// 2021-12-01 09:00:00 in UTC+8: as the store keeps it, and as Unix seconds.
const double kDate = sample::WaDate(1638320400);
constexpr double kUnixDate = 1638320400;

const DBITEM_WhatsApp& MessageAt(const DBITEM_WhatsAppFriend& conversation, std::size_t index) {
  return dynamic_cast<const DBITEM_WhatsApp&>(*conversation.items.at(index));
}

// One line per conversation ("== jid", with the number of recovered
// messages when it holds any) and one per message: "x" recovered or "-"
// live, "sent" or "recv", then the text.
std::vector<std::string> Describe(const CWhatsAppDB& reader) {
  std::vector<std::string> lines;
  for (const auto& conversation : reader.Conversations()) {
    std::string line = "== " + conversation->jid;
    if (conversation->deleted != 0) line += " (" + std::to_string(conversation->deletedMessageCount) + " recovered)";
    lines.push_back(line);
    for (std::size_t i = 0; i < conversation->items.size(); ++i) {
      const DBITEM_WhatsApp& m = MessageAt(*conversation, i);
      lines.push_back(std::string(m.deleted != 0 ? "  x " : "  - ") + (m.isFromMe == 1 ? "sent " : "recv ") + m.text);
    }
  }
  return lines;
}

std::vector<const DBITEM_WhatsApp*> AllMessages(const CWhatsAppDB& reader) {
  std::vector<const DBITEM_WhatsApp*> messages;
  for (const auto& conversation : reader.Conversations()) {
    for (std::size_t i = 0; i < conversation->items.size(); ++i) messages.push_back(&MessageAt(*conversation, i));
  }
  return messages;
}

std::string CsvOf(const std::vector<db::BaseItem*>& selection) {
  exporting::CExportWriter writer(nullptr, 10);
  chat::WriteWhatsAppCsv(writer, selection);
  return writer.CsvText();
}

// A message of a test's own table: received from the peer unless fromMe.
sample::WaMessage Row(std::int64_t rowId, const std::string& toJid, double date, const std::string& text,
                      bool fromMe = false) {
  sample::WaMessage m;
  m.rowId = rowId;
  m.sessionId = 1;
  m.sort = rowId;
  m.isFromMe = fromMe;
  m.date = date;
  m.fromJid = fromMe ? std::string() : toJid;
  m.pushName = fromMe ? std::string() : "Peer";
  m.text = text;
  m.toJid = toJid;
  return m;
}

// One transaction: building a sample stays quick.
std::string Batch(const std::string& sql) { return "BEGIN;" + sql + "COMMIT;"; }

// The bytes of a sample database and its -wal, to tell what is still in
// them: SQLite may write over a deleted row's bytes.
std::string FileText(const sample::SqliteFile& database) {
  const std::vector<std::uint8_t> file = database.DatabaseBytes();
  const std::vector<std::uint8_t> wal = database.WalBytes();
  return std::string(file.begin(), file.end()) + std::string(wal.begin(), wal.end());
}

// text with the first from replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class WhatsAppDbTest : public ::testing::Test {
 protected:
  // Copies a sample database (and its -wal) into a folder of this test, as a
  // backup would hold it, and returns its path.
  std::string Place(const sample::SqliteFile& database, const std::string& name = "ChatStorage.sqlite") {
    database.WriteTo(root_.Path() / name);
    return (root_.Path() / name).string();
  }
  std::string PlaceBytes(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& wal,
                         const std::string& name = "ChatStorage.sqlite") {
    sample::WriteBytes(root_.Path() / name, bytes);
    if (!wal.empty()) sample::WriteBytes(root_.Path() / (name + "-wal"), wal);
    return (root_.Path() / name).string();
  }

  platform::TempFolder root_{"velmora-watest"};
};

// The sample in both journal forms: the newest rows live in the -wal or in
// the file, and the six deleted messages lie on pages they did not reach.
TEST_F(WhatsAppDbTest, SampleListsConversationsWithRecoveredMessagesFirst) {
  for (const Journal journal : {Journal::kWalPending, Journal::kRollback}) {
    const auto database = sample::MakeSampleWhatsAppDb(journal);
    ASSERT_EQ(database->WalBytes().empty(), journal == Journal::kRollback);
    CWhatsAppDB reader;
    ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
    EXPECT_EQ(reader.MessageColumnCount(), sample::kWaMessageColumns);

    // Recovered messages and live counts per conversation. Zhao's chat was
    // deleted whole: it is known from recovered rows only. Within a page the
    // newer record lies before the older one, so the scan meets Zhao's last
    // message first; live messages follow in table order.
    std::vector<std::string> summary;
    std::size_t live = 0;
    for (const auto& conversation : reader.Conversations()) {
      summary.push_back("== " + conversation->jid + (conversation->deleted != 0
                                                         ? " (" + std::to_string(conversation->deletedMessageCount) +
                                                               " recovered)"
                                                         : ""));
      std::int32_t lastRowId = 0;
      std::size_t liveHere = 0;
      for (std::size_t i = 0; i < conversation->items.size(); ++i) {
        const DBITEM_WhatsApp& m = MessageAt(*conversation, i);
        if (m.deleted != 0) {
          EXPECT_EQ(liveHere, 0u) << "recovered after live: " << m.text;
          summary.push_back(std::string("  x ") + (m.isFromMe == 1 ? "sent " : "recv ") + m.text);
          continue;
        }
        EXPECT_GT(m.rowId, lastRowId) << m.text;
        lastRowId = m.rowId;
        ++liveHere;
      }
      summary.push_back("  " + std::to_string(liveHere) + " live");
      live += liveHere;
    }
    EXPECT_EQ(summary, (std::vector<std::string>{
                           std::string("== ") + kZhao + " (3 recovered)",
                           "  x recv 那就好，单号发我一下",
                           "  x sent 可以，下午三点前发出",
                           "  x recv 明天的货能按时发吗？",
                           "  0 live",
                           std::string("== ") + kMei + " (2 recovered)",
                           "  x recv 银行卡密码别发微信，当面告诉我",
                           "  x sent 我的护照号码是E12345678，帮我订一下机票",
                           "  32 live",
                           std::string("== ") + kTom + " (1 recovered)",
                           "  x recv The door code is 4711, don't share it",
                           "  26 live",
                           std::string("== ") + kAnnaJid,
                           "  1 live",
                       }))
        << static_cast<int>(journal);
    EXPECT_EQ(live, 59u);
    // The newest row of each chat, from the -wal in its WAL form.
    EXPECT_EQ(reader.Conversations()[1]->items.back(), &MessageAt(*reader.Conversations()[1], 33));
    EXPECT_EQ(MessageAt(*reader.Conversations()[1], 33).text, "明天见！");
    EXPECT_EQ(MessageAt(*reader.Conversations()[2], 26).text, "Signed copy is in your inbox");
  }
}

TEST_F(WhatsAppDbTest, MessagesCarryTheirColumns) {
  const auto database = sample::MakeSampleWhatsAppDb(Journal::kWalPending);
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  ASSERT_EQ(reader.Conversations().size(), 4u);
  for (const auto& conversation : reader.Conversations()) {
    EXPECT_EQ(conversation->Title(), conversation->jid);
    EXPECT_EQ(conversation->SearchText(), conversation->jid);
    for (const db::BaseItem* item : conversation->items) {
      const auto& m = dynamic_cast<const DBITEM_WhatsApp&>(*item);
      EXPECT_EQ(m.toJid, conversation->jid) << m.text;
      EXPECT_EQ(m.Title(), m.toJid);
      EXPECT_EQ(m.SearchText(), m.text);
      EXPECT_EQ(m.sender, nullptr);
      EXPECT_EQ(m.parent, nullptr);
      // Whole seconds, though the app stores fractions for what it sends.
      EXPECT_EQ(m.time, static_cast<double>(static_cast<std::int64_t>(m.time))) << m.text;
    }
  }

  const DBITEM_WhatsAppFriend& mei = *reader.Conversations()[1];
  // A received live message keeps its row and sender columns.
  const DBITEM_WhatsApp& first = MessageAt(mei, 2);
  EXPECT_EQ(first.rowId, 1);
  EXPECT_EQ(first.isFromMe, 0);
  EXPECT_EQ(first.text, "早上好！今天的会议改到十点了");
  EXPECT_EQ(first.fromJid, kMei);
  EXPECT_EQ(first.pushName, "Mei");
  EXPECT_EQ(first.deleted, 0);
  EXPECT_EQ(db::FormatItemTime(first.time), "2021-12-01 09:02:00 ");
  // A sent one has no sender address in the store.
  const DBITEM_WhatsApp& reply = MessageAt(mei, 3);
  EXPECT_EQ(reply.rowId, 2);
  EXPECT_EQ(reply.isFromMe, 1);
  EXPECT_EQ(reply.fromJid, "未知用户");
  EXPECT_EQ(reply.pushName, "");
  EXPECT_EQ(reply.time, kUnixDate + 3 * 60);  // stored as 09:03:00.521498

  // Recovered: no row id (the key is not in the record), the direction as
  // stored, the fraction of the sent one's date dropped.
  const DBITEM_WhatsApp& recoveredReceived = MessageAt(mei, 0);
  EXPECT_EQ(recoveredReceived.rowId, -1);
  EXPECT_EQ(recoveredReceived.deleted, 1);
  EXPECT_EQ(recoveredReceived.isFromMe, 0);
  EXPECT_EQ(recoveredReceived.fromJid, kMei);
  EXPECT_EQ(recoveredReceived.pushName, "Mei");
  const DBITEM_WhatsApp& recoveredSent = MessageAt(mei, 1);
  EXPECT_EQ(recoveredSent.rowId, -1);
  EXPECT_EQ(recoveredSent.isFromMe, 1);
  EXPECT_EQ(recoveredSent.fromJid, "未知用户");
  EXPECT_EQ(recoveredSent.time, kUnixDate + 15 * 60);  // stored as 09:15:00.521498
  EXPECT_EQ(db::FormatItemTime(recoveredSent.time), "2021-12-01 09:15:00 ");
  // The conversation's time is that of the message filed last: the first
  // recovered one, filed in front after the live ones.
  EXPECT_EQ(mei.time, recoveredReceived.time);
  EXPECT_EQ(mei.deleted, 1);

  // Anna's message has no ZTOJID, as every received message: it is filed
  // under the address it came from.
  const DBITEM_WhatsAppFriend& anna = *reader.Conversations()[3];
  EXPECT_EQ(anna.jid, kAnnaJid);
  EXPECT_EQ(anna.deleted, 0);
  EXPECT_EQ(anna.deletedMessageCount, 0);
  ASSERT_EQ(anna.items.size(), 1u);
  EXPECT_EQ(MessageAt(anna, 0).fromJid, kAnnaJid);
  EXPECT_EQ(anna.time, MessageAt(anna, 0).time);
}

TEST_F(WhatsAppDbTest, CsvLinesOfTheSample) {
  const auto database = sample::MakeSampleWhatsAppDb(Journal::kWalPending);
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(Place(*database), 0).Ok());
  // Sent messages read "发送", received ones "接收", recovered ones by
  // their stored direction too.
  EXPECT_EQ(CsvOf({reader.Conversations()[0].get(), reader.Conversations()[3].get()}),
            "名称,日期,类型,内容\r\n"
            "8615012345678@s.whatsapp.net,2021-12-01 09:35:00 ,接收,\"那就好，单号发我一下\"\r\n"
            "8615012345678@s.whatsapp.net,2021-12-01 09:33:00 ,发送,\"可以，下午三点前发出\"\r\n"
            "8615012345678@s.whatsapp.net,2021-12-01 09:32:00 ,接收,\"明天的货能按时发吗？\"\r\n"
            "447700900123@s.whatsapp.net,2021-12-01 09:59:00 ,接收,\"Hello from London! Is this still Lin's number?\"\r\n");
  const std::string tom = CsvOf({reader.Conversations()[2].get()});
  EXPECT_NE(tom.find("\r\n14155550123@s.whatsapp.net,2021-12-01 09:38:00 ,发送,"
                     "\"Yes， see you at 7pm， \"\"the usual place\"\"\"\r\n"),
            std::string::npos)
      << tom;
}

// The store counts seconds from 2001. From 2024 on such a count is also a
// Unix time of 1993 or later; the dates must still come out in their year.
TEST_F(WhatsAppDbTest, DatesFrom2024OnKeepTheirYear) {
  const std::int64_t june2024 = 1717200000;  // 2024-06-01 08:00:00 in UTC+8
  std::string sql = sample::WhatsAppSchemaSql();
  sql += sample::InsertWaMessageSql(Row(1, kMei, sample::WaDate(june2024, 0.5), "sent in 2024", true));
  sql += sample::InsertWaMessageSql(Row(2, kMei, sample::WaDate(june2024 + 3600), "deleted in 2024"));
  sql += sample::InsertWaMessageSql(Row(3, kMei, sample::WaDate(june2024 + 7200), "received in 2024"));
  sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK = 2;";
  const sample::SqliteFile database(Batch(sql));
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
  ASSERT_EQ(reader.Conversations().size(), 1u);
  EXPECT_EQ(CsvOf({reader.Conversations()[0].get()}),
            "名称,日期,类型,内容\r\n"
            "8613800138000@s.whatsapp.net,2024-06-01 09:00:00 ,接收,\"deleted in 2024\"\r\n"
            "8613800138000@s.whatsapp.net,2024-06-01 08:00:00 ,发送,\"sent in 2024\"\r\n"
            "8613800138000@s.whatsapp.net,2024-06-01 10:00:00 ,接收,\"received in 2024\"\r\n");
}

// Progress of the export: BeginList's count divides the 56 per cent of the
// list among the lines, so each line's step shows the count it was given.
class ProgressLog : public exporting::IExportProgress {
 public:
  void SetProgress(float) override {}
  void AddProgress(float delta) override { steps.push_back(delta); }
  std::vector<float> steps;
};

TEST(WriteWhatsAppCsv, CountsTickedConversationsAndWritesEveryMessage) {
  DBITEM_WhatsAppFriend first;
  first.jid = "8613800138000@s.whatsapp.net";
  DBITEM_WhatsAppFriend second;
  second.jid = "Smith, \"Jo\"";  // a push name standing in for an address
  const std::int32_t directions[] = {1, 0, 2, -1};
  for (int i = 0; i < 50; ++i) {
    auto m = std::make_unique<DBITEM_WhatsApp>();
    m->time = kUnixDate + i * 60;
    m->text = "message " + std::to_string(i);
    m->isFromMe = directions[i % 4];
    m->deleted = i == 0 ? 1 : 0;
    (i < 30 ? first : second).Append(std::move(m));
  }
  DBITEM_WhatsApp loose;  // not a conversation: passed over
  ProgressLog progress;
  exporting::CExportWriter writer(&progress, 10);
  chat::WriteWhatsAppCsv(writer, {&first, nullptr, &loose, &second});
  EXPECT_EQ(progress.steps, std::vector<float>(50, 56.0f / 2));

  const std::string csv = writer.CsvText();
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 51);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n", csv.find("\r\n") + 2) + 2),
            "名称,日期,类型,内容\r\n"
            "8613800138000@s.whatsapp.net,2021-12-01 09:00:00 ,发送,\"message 0\"\r\n");
  // Only 1 means sent; the address that would split the line is quoted.
  EXPECT_NE(csv.find(",2021-12-01 09:01:00 ,接收,\"message 1\"\r\n"), std::string::npos);
  EXPECT_NE(csv.find(",2021-12-01 09:02:00 ,接收,\"message 2\"\r\n"), std::string::npos);
  EXPECT_NE(csv.find(",2021-12-01 09:03:00 ,接收,\"message 3\"\r\n"), std::string::npos);
  EXPECT_NE(csv.find("\r\n\"Smith， \"\"Jo\"\"\",2021-12-01 09:30:00 ,接收,\"message 30\"\r\n"), std::string::npos);
}

TEST(MessageKey, TimeWithSixDecimalsAndTheFirst80Units) {
  const std::string emoji = "😀";  // two UTF-16 units
  std::string fortyEmoji;
  for (int i = 0; i < 40; ++i) fortyEmoji += emoji;
  struct Case {
    const char* name;
    double time;
    std::string text;
    std::string key;
  };
  const Case cases[] = {
      {"short text", 60, "hi", "60.000000hi"},
      {"long text", 1638320400, std::string(100, 'a'), "1638320400.000000" + std::string(80, 'a')},
      {"a pair the cut would split is left out", 0, "a" + fortyEmoji,
       "0.000000a" + fortyEmoji.substr(0, 39 * emoji.size())},
      {"empty", -1, "", "-1.000000"},
  };
  for (const Case& c : cases) {
    DBITEM_WhatsApp m;
    m.time = c.time;
    m.text = c.text;
    EXPECT_EQ(chat::MessageKey(m), c.key) << c.name;
  }
}

// One live message and one deleted one: the deleted one is kept unless its
// key repeats the live one's.
TEST_F(WhatsAppDbTest, ARecoveredCopyOfAMessageIsDropped) {
  const std::string eighty(80, 'a');
  std::string fortyEmoji;
  for (int i = 0; i < 40; ++i) fortyEmoji += "😀";
  struct Case {
    const char* name;
    double liveDate;
    std::string liveText;
    double deletedDate;
    std::string deletedText;
    std::string deletedTo;
    bool kept;
  };
  const Case cases[] = {
      {"same time and text", kDate, "hello", kDate, "hello", kMei, false},
      {"same second, other fraction", kDate + 0.25, "hello", kDate + 0.75, "hello", kMei, false},
      {"differs only after the 80th character", kDate, eighty + "-live", kDate, eighty + "-other", kMei, false},
      {"the pair at the 80th unit is cut whole", kDate, "a" + fortyEmoji, kDate,
       "a" + fortyEmoji.substr(0, fortyEmoji.size() - 4) + "😃", kMei, false},
      {"the key holds no address", kDate, "hello", kDate, "hello", kTom, false},
      {"differs within the first 80 characters", kDate, eighty + "-live", kDate, "b" + eighty, kMei, true},
      {"another second", kDate, "hello", kDate + 1, "hello", kMei, true},
  };
  for (const Case& c : cases) {
    std::string sql = sample::WhatsAppSchemaSql();
    sql += sample::InsertWaMessageSql(Row(1, kMei, c.liveDate, c.liveText));
    sql += sample::InsertWaMessageSql(Row(2, c.deletedTo, c.deletedDate, c.deletedText));
    sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK = 2;";
    const sample::SqliteFile database(Batch(sql));
    CWhatsAppDB reader;
    ASSERT_TRUE(reader.Open(Place(database), 0).Ok()) << c.name;
    std::vector<std::string> recovered;
    std::size_t live = 0;
    for (const DBITEM_WhatsApp* m : AllMessages(reader)) {
      if (m->deleted != 0) {
        recovered.push_back(m->text);
      } else {
        ++live;
      }
    }
    EXPECT_EQ(live, 1u) << c.name;
    EXPECT_EQ(recovered, c.kept ? std::vector<std::string>{c.deletedText} : std::vector<std::string>{}) << c.name;
  }
}

// All rows on one page, where the scan meets the newer record first: the
// deleted rows 8, 7, 5, 4, 3 are found in that order.
TEST_F(WhatsAppDbTest, RecoveredMessagesAndTheirConversationsComeFirstInScanOrder) {
  const std::string eighty(80, 'x');
  std::string sql = sample::WhatsAppSchemaSql();
  sql += sample::InsertWaMessageSql(Row(1, "A", kDate + 60, "a1"));
  sql += sample::InsertWaMessageSql(Row(2, "B", kDate + 120, "b1"));
  sql += sample::InsertWaMessageSql(Row(3, "C", kDate + 180, "c1"));
  sql += sample::InsertWaMessageSql(Row(4, "B", kDate + 240, "b2", true));
  sql += sample::InsertWaMessageSql(Row(5, "C", kDate + 300, "c2"));
  sql += sample::InsertWaMessageSql(Row(6, "A", kDate + 360, "a2"));
  // Two copies with one key: the one the scan finds later (7) is kept.
  sql += sample::InsertWaMessageSql(Row(7, "D", kDate + 420, "dup" + eighty + "-first"));
  sql += sample::InsertWaMessageSql(Row(8, "D", kDate + 420, "dup" + eighty + "-second"));
  sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK IN (3, 4, 5, 7, 8);";
  const sample::SqliteFile database(Batch(sql));
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
  // Taken from the last found to the first, each conversation moves to the
  // front when it gets its first recovered message: C, then B, then D.
  EXPECT_EQ(Describe(reader), (std::vector<std::string>{
                                  "== D (1 recovered)",
                                  "  x recv dup" + eighty + "-first",
                                  "== B (1 recovered)",
                                  "  x sent b2",
                                  "  - recv b1",
                                  "== C (2 recovered)",
                                  "  x recv c2",
                                  "  x recv c1",
                                  "== A",
                                  "  - recv a1",
                                  "  - recv a2",
                              }));
  const DBITEM_WhatsAppFriend& c = *reader.Conversations()[2];
  EXPECT_EQ(c.deleted, 1);
  EXPECT_EQ(c.time, MessageAt(c, 0).time);  // filed last
  EXPECT_EQ(reader.Conversations()[3]->deleted, 0);
  EXPECT_EQ(reader.Conversations()[3]->time, kUnixDate + 360);
}

TEST_F(WhatsAppDbTest, MissingAddressesAndStoredValues) {
  std::string sql = sample::WhatsAppSchemaSql();
  sample::WaMessage anna = Row(1, "", kDate + 0.75, "no address, a push name");
  anna.fromJid = kAnnaJid;
  anna.pushName = "Anna";
  sql += sample::InsertWaMessageSql(anna);
  sample::WaMessage nobody = Row(2, "", kDate + 60, "no address, no name");
  nobody.fromJid.clear();
  nobody.pushName.clear();
  sql += sample::InsertWaMessageSql(nobody);
  sql += sample::InsertWaMessageSql(Row(3, kMei, kDate + 120, "direction NULL"));
  sql += "UPDATE ZWAMESSAGE SET ZISFROMME = NULL WHERE Z_PK = 3;";
  sql += sample::InsertWaMessageSql(Row(4, kMei, 1000.75, "stored as 1000.75"));
  // Deleted: a received one without ZTOJID (filed under the address it came
  // from, as a live one), a sent one without a sender. The scan meets 6
  // first, so the merge, last found first, files Bob's message first and Mei
  // ends up in front.
  sample::WaMessage bob = Row(5, "", kDate + 180, "deleted, no address");
  bob.fromJid = "bob@s.whatsapp.net";
  bob.pushName = "Bob";
  sql += sample::InsertWaMessageSql(bob);
  sql += sample::InsertWaMessageSql(Row(6, kMei, kDate + 240.5, "deleted, sent", true));
  sql += sample::InsertWaMessageSql(Row(7, kMei, kDate + 300, "padding so the page stays in use"));
  sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK IN (5, 6);";
  const sample::SqliteFile database(Batch(sql));
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(Place(database), 0).Ok());

  std::vector<std::string> lines;
  for (const auto& conversation : reader.Conversations()) {
    lines.push_back("== " + conversation->jid);
    for (std::size_t i = 0; i < conversation->items.size(); ++i) {
      const DBITEM_WhatsApp& m = MessageAt(*conversation, i);
      lines.push_back(std::string(m.deleted != 0 ? "  x " : "  - ") + std::to_string(m.isFromMe) + " " + m.fromJid +
                      " | " + m.pushName + " | " + m.text + " @" + std::to_string(static_cast<std::int64_t>(m.time)));
    }
  }
  const std::string date = std::to_string(static_cast<std::int64_t>(kUnixDate));
  const auto at = [](double seconds) { return std::to_string(static_cast<std::int64_t>(kUnixDate + seconds)); };
  EXPECT_EQ(lines, (std::vector<std::string>{
                       std::string("== ") + kMei,
                       "  x 1 未知用户 |  | deleted, sent @" + at(240),
                       std::string("  - 0 ") + kMei + " | Peer | direction NULL @" + at(120),
                       std::string("  - 0 ") + kMei + " | Peer | stored as 1000.75 @978308200",
                       std::string("  - 0 ") + kMei + " | Peer | padding so the page stays in use @" + at(300),
                       "== bob@s.whatsapp.net",
                       "  x 0 bob@s.whatsapp.net | Bob | deleted, no address @" + at(180),
                       std::string("== ") + kAnnaJid,
                       std::string("  - 0 ") + kAnnaJid + " | Anna | no address, a push name @" + date,
                       "== ",
                       "  - 0 未知用户 |  | no address, no name @" + at(60),
                   }));
}

// The live rows are read by column name in any table shape, and so are the
// recovered rows: the iOS 15 table with its numbered layout, every other
// with a layout made from the table's live shape, so that no value lands in
// the wrong field.
TEST_F(WhatsAppDbTest, OtherTableShapesAreReadLiveAndRecoveredByColumnName) {
  const std::string schema = sample::WhatsAppSchemaSql();
  struct Case {
    const char* name;
    std::string schema;
    int columns;
  };
  const Case cases[] = {
      {"the iOS 15 table", schema, 34},
      {"a column added at the end", schema + "ALTER TABLE ZWAMESSAGE ADD COLUMN ZNEWFLAG INTEGER;", 35},
      {"a date added before the addresses", Replaced(schema, "ZFROMJID VARCHAR", "ZEDITDATE TIMESTAMP, ZFROMJID VARCHAR"),
       35},
      {"a column fewer", Replaced(schema, "ZPHASH VARCHAR, ", ""), 33},
      {"text and address swapped", Replaced(schema, "ZTEXT VARCHAR, ZTOJID VARCHAR", "ZTOJID VARCHAR, ZTEXT VARCHAR"),
       34},
  };
  for (const Case& c : cases) {
    std::string sql = c.schema;
    sql += sample::InsertWaMessageSql(Row(1, kMei, kDate, "live"));
    sql += sample::InsertWaMessageSql(Row(2, kMei, kDate + 60, "deleted"));
    sql += sample::InsertWaMessageSql(Row(3, kMei, kDate + 120, "live too"));
    sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK = 2;";
    const sample::SqliteFile database(Batch(sql));
    CWhatsAppDB reader;
    ASSERT_TRUE(reader.Open(Place(database), 0).Ok()) << c.name;
    EXPECT_EQ(reader.MessageColumnCount(), c.columns) << c.name;
    EXPECT_EQ(Describe(reader), (std::vector<std::string>{std::string("== ") + kMei + " (1 recovered)",
                                                          "  x recv deleted", "  - recv live", "  - recv live too"}))
        << c.name;
  }

  // A table with two of the columns: the others read as empty or 0.
  const sample::SqliteFile minimal(
      "CREATE TABLE ZWAMESSAGE (Z_PK INTEGER PRIMARY KEY, ZTEXT VARCHAR);"
      "INSERT INTO ZWAMESSAGE VALUES (5, 'only a text');");
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(Place(minimal), 0).Ok());
  ASSERT_EQ(reader.Conversations().size(), 1u);
  const DBITEM_WhatsApp& m = MessageAt(*reader.Conversations()[0], 0);
  EXPECT_EQ(reader.Conversations()[0]->jid, "");
  EXPECT_EQ(m.rowId, 5);
  EXPECT_EQ(m.text, "only a text");
  EXPECT_EQ(m.fromJid, "未知用户");
  EXPECT_EQ(m.isFromMe, 0);
  EXPECT_EQ(m.time, 0);  // no date: no time
}

// Rows deleted in the file and rows written and deleted again after the last
// checkpoint, which live only in older frames of the -wal, in the iOS 15
// table and in a wider one: each comes back once, those of the log marked
// so; the older versions of live messages (edited since, in the file or in
// the log) and the live messages themselves do not come back.
TEST_F(WhatsAppDbTest, RowsDeletedInTheFileAndInTheLogComeBackOnceInEveryShape) {
  const auto text = [](int n) {
    return "msg#" + std::to_string(1000 + n) + " " + std::string(static_cast<std::size_t>(n % 4) * 30, 'w');
  };
  const auto row = [&](int n) { return sample::InsertWaMessageSql(Row(n, n % 2 == 0 ? kMei : kTom, kDate + n * 60, text(n), n % 3 == 0)); };
  const std::string wider = Replaced(sample::WhatsAppSchemaSql(), "ZFROMJID VARCHAR", "ZEDITDATE TIMESTAMP, ZFROMJID VARCHAR");
  for (const std::string& schema : {sample::WhatsAppSchemaSql(), wider}) {
    std::string setup = schema;
    for (int n = 1; n <= 60; ++n) setup += row(n);
    setup += "DELETE FROM ZWAMESSAGE WHERE Z_PK IN (5, 6, 7, 30);";
    setup += "UPDATE ZWAMESSAGE SET ZTEXT = 'msg#1010 edited' WHERE Z_PK = 10;";
    std::string recent;
    for (int n = 61; n <= 70; ++n) recent += row(n);
    recent += "DELETE FROM ZWAMESSAGE WHERE Z_PK IN (62, 64, 66);";
    recent += "UPDATE ZWAMESSAGE SET ZTEXT = 'msg#1020 edited' WHERE Z_PK = 20;";
    recent += "DELETE FROM ZWAMESSAGE WHERE Z_PK = 40;";  // whole in the file still
    const sample::SqliteFile database(Batch(setup), recent, Journal::kWalPending);
    ASSERT_FALSE(database.WalBytes().empty());
    CWhatsAppDB reader;
    ASSERT_TRUE(reader.Open(Place(database), 0).Ok());
    std::map<std::string, db::BaseItem::DeletedFrom> recovered;
    std::size_t live = 0;
    for (const DBITEM_WhatsApp* m : AllMessages(reader)) {
      if (m->deleted == 0) {
        ++live;
        continue;
      }
      EXPECT_TRUE(recovered.emplace(m->text, m->deletedFrom).second) << "twice: " << m->text;
    }
    EXPECT_EQ(live, 70u - 8u);
    using From = db::BaseItem::DeletedFrom;
    const std::string bytes = FileText(database);
    std::map<std::string, From> expected;
    for (const auto& [n, from] : {std::pair{5, From::kFreeSpace}, {6, From::kFreeSpace}, {7, From::kFreeSpace},
                                  {30, From::kFreeSpace}, {40, From::kFreeSpace}, {62, From::kWal}, {64, From::kWal},
                                  {66, From::kWal}}) {
      if (bytes.find(text(n)) != std::string::npos) expected.emplace(text(n), from);
    }
    EXPECT_GE(expected.size(), 6u);
    EXPECT_EQ(recovered, expected) << (schema == wider ? "wider" : "iOS 15");
  }
}

TEST_F(WhatsAppDbTest, MissingOrForeignDatabaseGivesNoConversations) {
  CWhatsAppDB reader;
  EXPECT_FALSE(reader.Open((root_.Path() / "ChatStorage.sqlite").string(), 0).Ok());
  EXPECT_TRUE(reader.Conversations().empty());
  EXPECT_FALSE(fs::exists(root_.Path() / "ChatStorage.sqlite"));

  CWhatsAppDB junk;
  junk.Open(PlaceBytes(std::vector<std::uint8_t>(8192, 0x55), {}, "junk.sqlite"), 0);
  EXPECT_TRUE(junk.Conversations().empty());
  EXPECT_EQ(junk.MessageColumnCount(), 0);

  // A database without the message table: nothing to list, nothing to scan.
  const sample::SqliteFile other("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT);");
  CWhatsAppDB empty;
  EXPECT_TRUE(empty.Open(Place(other), 0).Ok());
  EXPECT_TRUE(empty.Conversations().empty());
  EXPECT_EQ(empty.MessageColumnCount(), 0);

  // Another open parameter names no table: nothing is read.
  const auto database = sample::MakeSampleWhatsAppDb();
  CWhatsAppDB otherParam;
  EXPECT_TRUE(otherParam.Open(Place(*database), 1).Ok());
  EXPECT_EQ(otherParam.GetTableName(chat::kWhatsAppMessageKind), "");
  EXPECT_TRUE(otherParam.Conversations().empty());
}

TEST_F(WhatsAppDbTest, OpeningAgainStartsFromNothing) {
  const auto database = sample::MakeSampleWhatsAppDb(Journal::kWalPending);
  const std::string path = Place(*database);
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  const auto first = Describe(reader);
  reader.Close();
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  EXPECT_EQ(Describe(reader), first);
  // A failed open leaves nothing of the last one behind.
  EXPECT_FALSE(reader.Open((root_.Path() / "gone.sqlite").string(), 0).Ok());
  EXPECT_TRUE(reader.Conversations().empty());
}

// Damaged bytes in the message pages and a cut file: fewer or odder
// messages, never a crash or a read out of bounds (the sanitizers watch).
TEST_F(WhatsAppDbTest, DamagedFilesNeverCrash) {
  const auto database = sample::MakeSampleWhatsAppDb();
  const std::vector<std::uint8_t> clean = database->DatabaseBytes();
  ASSERT_GT(clean.size(), 8192u);
  std::mt19937 random(20211201);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::uint8_t> bytes = clean;
    if (round % 8 == 7) {
      bytes.resize(std::uniform_int_distribution<std::size_t>(100, bytes.size() - 1)(random));
    } else {
      // A run of damage somewhere after the file header.
      const std::size_t start = std::uniform_int_distribution<std::size_t>(100, bytes.size() - 64)(random);
      const std::size_t length = std::uniform_int_distribution<std::size_t>(1, 64)(random);
      for (std::size_t i = start; i < start + length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(random));
      }
    }
    CWhatsAppDB reader;
    reader.Open(PlaceBytes(bytes, {}, "damaged" + std::to_string(round) + ".sqlite"), 0);
    for (const DBITEM_WhatsApp* m : AllMessages(reader)) EXPECT_FALSE(m->fromJid.empty()) << round;
  }
}

TEST(AddWhatsAppApp, PutsTheDatabaseItsLogAndTheLidStoreInTheAppGroup) {
  sample::SampleBackupBuilder builder;
  sample::AddWhatsAppApp(builder);
  std::vector<std::string> names;
  for (const sample::BackupFile& file : builder.Files()) names.push_back(file.domain + "/" + file.relativePath);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "AppDomainGroup-group.net.whatsapp.WhatsApp.shared/ChatStorage.sqlite",
                       "AppDomainGroup-group.net.whatsapp.WhatsApp.shared/ChatStorage.sqlite-wal",
                       "AppDomainGroup-group.net.whatsapp.WhatsApp.shared/LID.sqlite",
                   }));
  platform::TempFolder folder("velmora-waapp");
  sample::WriteBytes(folder.Path() / "ChatStorage.sqlite", builder.Files()[0].content);
  sample::WriteBytes(folder.Path() / "ChatStorage.sqlite-wal", builder.Files()[1].content);
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open((folder.Path() / "ChatStorage.sqlite").string(), 0).Ok());
  // 59 live, 6 recovered, and the five of the two "@lid" chats.
  const auto messages = AllMessages(reader);
  EXPECT_EQ(messages.size(), 70u);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [](auto* m) { return m->deleted != 0; }), 6);
}

// The "@lid" chats of the demo, analysed through the category's reader in
// every backup form: each is shown by its phone number, from the pair row
// in ChatStorage.sqlite or in LID.sqlite; JSON keeps the identifier.
TEST(WhatsAppLidChats, AreShownByTheirPhoneNumbersInEveryForm) {
  struct Case {
    const char* name;
    sample::BackupMode mode;
    bool withLidStore;
  };
  const Case cases[] = {{"ManifestDb", sample::BackupMode::kManifestDb, true},
                        {"ManifestMbdb", sample::BackupMode::kManifestMbdb, true},
                        {"Folder", sample::BackupMode::kFolder, true},
                        {"NoLidStore", sample::BackupMode::kManifestDb, false}};
  sample::SampleBackupBuilder app;
  sample::AddWhatsAppApp(app);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sample::SampleBackupBuilder builder;
    for (const sample::BackupFile& file : app.Files()) {
      if (c.withLidStore || file.relativePath != sample::kWhatsAppLidRelativePath) builder.AddFile(file);
    }
    const platform::TempFolder folder("velmora-walid");
    builder.Write(folder.Path(), c.mode);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
    auto reader = chat::MakeWhatsAppReader(*base::FindCategory(base::kCategoryWhatsApp));
    ASSERT_TRUE(reader->Open(index).Ok());
    reader->Load({});
    EXPECT_TRUE(reader->Problems().empty());

    std::map<std::string, std::string> titleByJid;
    std::vector<db::BaseItem*> lidChats;
    for (db::BaseItem* item : reader->ResultList()) {
      const auto& conversation = dynamic_cast<const DBITEM_WhatsAppFriend&>(*item);
      titleByJid[conversation.jid] = conversation.Title();
      if (conversation.jid.ends_with("@lid")) lidChats.push_back(item);
    }
    EXPECT_EQ(titleByJid[kMei], kMei);
    EXPECT_EQ(titleByJid[sample::kWaLidChatStoreLid], sample::kWaLidChatStorePhone);
    EXPECT_EQ(titleByJid[sample::kWaLidStoreLid], c.withLidStore ? sample::kWaLidStorePhone : sample::kWaLidStoreLid);

    ASSERT_EQ(lidChats.size(), 2u);
    const nlohmann::ordered_json json = reader->GroupJson(*lidChats[0]);
    EXPECT_EQ(json["title"], sample::kWaLidChatStorePhone);
    EXPECT_EQ(json["jid"], sample::kWaLidChatStoreLid);
    EXPECT_EQ(json["phoneNumber"], sample::kWaLidChatStorePhone);
    EXPECT_EQ(json["records"].size(), 3u);
    // The table names the chat as the list does.
    const std::string csv = CsvOf({lidChats[0]});
    EXPECT_NE(csv.find(std::string("\r\n") + sample::kWaLidChatStorePhone + ","), std::string::npos) << csv;
    EXPECT_EQ(csv.find("@lid"), std::string::npos) << csv;
  }
}

TEST_F(WhatsAppDbTest, LidPairsOfOtherShapes) {
  struct Case {
    const char* name;
    std::string pairsSql;       // added to a store with one message in an "@lid" chat
    std::string expectedTitle;  // of that chat
  };
  const std::string lid = "77001234567890@lid";
  const std::string table = sample::WaLidPairSchemaSql();
  const std::vector<Case> cases = {
      {"NoPairTable", "", lid},
      {"Paired", table + sample::InsertWaLidPairSql({1, lid, "8613700005555@s.whatsapp.net"}),
       "8613700005555@s.whatsapp.net"},
      {"LidWithoutServerPart", table + sample::InsertWaLidPairSql({1, "77001234567890", "+86 137 0000 5555"}),
       "+86 137 0000 5555"},
      {"EmptyNumberThenNumber",
       table + sample::InsertWaLidPairSql({1, lid, ""}) + sample::InsertWaLidPairSql({2, lid, "8613700005555"}),
       "8613700005555"},
      {"OtherLid", table + sample::InsertWaLidPairSql({1, "1@lid", "8613700005555"}), lid},
      {"ColumnsMissing", "CREATE TABLE ZWAPHONENUMBERLIDPAIR (Z_PK INTEGER PRIMARY KEY, ZLID VARCHAR);"
                         "INSERT INTO ZWAPHONENUMBERLIDPAIR VALUES (1, '77001234567890@lid');", lid},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const sample::SqliteFile database(Batch(sample::WhatsAppSchemaSql() +
                                            sample::InsertWaMessageSql(Row(1, lid, kDate, "hello")) + c.pairsSql));
    CWhatsAppDB reader;
    ASSERT_TRUE(reader.Open(Place(database, "lid" + std::to_string(n++) + ".sqlite"), chat::kWhatsAppChatStore).Ok());
    ASSERT_EQ(reader.Conversations().size(), 1u);
    EXPECT_EQ(reader.Conversations()[0]->Title(), c.expectedTitle);
    EXPECT_EQ(reader.Conversations()[0]->jid, lid);
    EXPECT_EQ(reader.LastError(), "");
  }

  // LID.sqlite: pairs only; they name chats that have no number yet.
  const sample::SqliteFile lids(sample::SampleWaLidStoreSql());
  CWhatsAppDB lidStore;
  ASSERT_TRUE(lidStore.Open(Place(lids, "LID.sqlite"), chat::kWhatsAppLidStore).Ok());
  EXPECT_TRUE(lidStore.Conversations().empty());
  EXPECT_EQ(lidStore.PhoneNumbersByLid(),
            (std::map<std::string, std::string>{{sample::kWaLidStoreLid, sample::kWaLidStorePhone}}));
}

// WhatsApp's iOS 15 store of a public test image, with its (empty) -wal.
// Figures checked with sqlite3: 32 rows in ZWAMESSAGE, 11 sent (ZISFROMME
// 1), 11 without ZFROMJID; ZTOJID holds 19195794674@s.whatsapp.net (11
// rows, system messages of groups), 19198887386@s.whatsapp.net (11, the
// messages sent in the one chat) and is empty on the 10 messages received
// in it, which name the peer in ZFROMJID and so join the chat. Z_PK 28 is gone
// and its bytes with it; the scan meets the 32 live records and three
// rows of foreign bytes, so nothing is recovered.
TEST(WhatsAppDbReal, Ios15ChatStorageListsItsMessages) {
  const fs::path source = fs::path(VELMORA_SHARED_DIR) / "samples/iLEAPP-testdata/josh_ios15_WhatsApp";
  if (!fs::exists(source / "ChatStorage.sqlite")) GTEST_SKIP() << "no " << source;
  platform::TempFolder folder("velmora-wareal");
  for (const char* name : {"ChatStorage.sqlite", "ChatStorage.sqlite-wal", "ChatStorage.sqlite-shm"}) {
    if (fs::exists(source / name)) fs::copy_file(source / name, folder.Path() / name);
  }
  CWhatsAppDB reader;
  ASSERT_TRUE(reader.Open((folder.Path() / "ChatStorage.sqlite").string(), 0).Ok());
  EXPECT_EQ(reader.MessageColumnCount(), 34);

  const auto messages = AllMessages(reader);
  EXPECT_EQ(messages.size(), 32u);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [](auto* m) { return m->deleted != 0; }), 0);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [](auto* m) { return m->isFromMe == 1; }), 11);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [](auto* m) { return m->fromJid == "未知用户"; }), 11);

  ASSERT_EQ(reader.Conversations().size(), 2u);
  EXPECT_EQ(reader.Conversations()[0]->jid, "19195794674@s.whatsapp.net");
  EXPECT_EQ(reader.Conversations()[0]->items.size(), 11u);
  const DBITEM_WhatsAppFriend& chat = *reader.Conversations()[1];
  EXPECT_EQ(chat.jid, "19198887386@s.whatsapp.net");
  ASSERT_EQ(chat.items.size(), 21u);
  std::size_t received = 0;
  for (std::size_t i = 0; i < chat.items.size(); ++i) {
    const DBITEM_WhatsApp& m = MessageAt(chat, i);
    if (m.isFromMe != 1) {
      ++received;
      EXPECT_EQ(m.fromJid, "19198887386@s.whatsapp.net") << m.text;
    }
    if (m.text == "Awesome. You had some chat history, eh?") {
      EXPECT_EQ(m.pushName, "COrlxKIGIABIAQ==");
    }
  }
  EXPECT_EQ(received, 10u);

  // Z_PK 29, stored 704737866.100929.
  const auto gone = std::find_if(messages.begin(), messages.end(), [](auto* m) { return m->rowId == 29; });
  ASSERT_NE(gone, messages.end());
  EXPECT_EQ((*gone)->text, "Done. It’s gone. 😀");
  const std::string csv = CsvOf({reader.Conversations()[1].get()});
  EXPECT_NE(csv.find("\r\n19198887386@s.whatsapp.net,2023-05-03 00:31:06 ,发送,\"Done. It’s gone. 😀\"\r\n"),
            std::string::npos)
      << csv;
}

}  // namespace
