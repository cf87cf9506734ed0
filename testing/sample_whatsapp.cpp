#include "testing/sample_whatsapp.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "testing/sql_literal.h"

namespace sample {
namespace {

// The store's statements as the app's iOS 15 version leaves them in
// sqlite_master. The store has sixteen more tables (media, groups, push
// names, Core Data's own); the reader reads none of them.
constexpr char kWaMessageTable[] =
    "CREATE TABLE ZWAMESSAGE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
    "ZCHILDMESSAGESDELIVEREDCOUNT INTEGER, ZCHILDMESSAGESPLAYEDCOUNT INTEGER, ZCHILDMESSAGESREADCOUNT INTEGER, "
    "ZDATAITEMVERSION INTEGER, ZDOCID INTEGER, ZENCRETRYCOUNT INTEGER, ZFILTEREDRECIPIENTCOUNT INTEGER, ZFLAGS "
    "INTEGER, ZGROUPEVENTTYPE INTEGER, ZISFROMME INTEGER, ZMESSAGEERRORSTATUS INTEGER, ZMESSAGESTATUS INTEGER, "
    "ZMESSAGETYPE INTEGER, ZSORT INTEGER, ZSPOTLIGHTSTATUS INTEGER, ZSTARRED INTEGER, ZCHATSESSION INTEGER, "
    "ZGROUPMEMBER INTEGER, ZLASTSESSION INTEGER, ZMEDIAITEM INTEGER, ZMESSAGEINFO INTEGER, ZPARENTMESSAGE "
    "INTEGER, ZMESSAGEDATE TIMESTAMP, ZSENTDATE TIMESTAMP, ZFROMJID VARCHAR, ZMEDIASECTIONID VARCHAR, ZPHASH "
    "VARCHAR, ZPUSHNAME VARCHAR, ZSTANZAID VARCHAR, ZTEXT VARCHAR, ZTOJID VARCHAR );"
    "CREATE INDEX ZWAMESSAGE_ZCHATSESSION_INDEX ON ZWAMESSAGE (ZCHATSESSION);"
    "CREATE INDEX ZWAMESSAGE_ZGROUPMEMBER_INDEX ON ZWAMESSAGE (ZGROUPMEMBER);"
    "CREATE INDEX ZWAMESSAGE_ZLASTSESSION_INDEX ON ZWAMESSAGE (ZLASTSESSION);"
    "CREATE INDEX ZWAMESSAGE_ZMEDIAITEM_INDEX ON ZWAMESSAGE (ZMEDIAITEM);"
    "CREATE INDEX ZWAMESSAGE_ZMESSAGEINFO_INDEX ON ZWAMESSAGE (ZMESSAGEINFO);"
    "CREATE INDEX ZWAMESSAGE_ZPARENTMESSAGE_INDEX ON ZWAMESSAGE (ZPARENTMESSAGE);"
    "CREATE INDEX Z_WAMessage_byDocIDIndex ON ZWAMESSAGE (ZDOCID COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_byMessageDateIndex ON ZWAMESSAGE (ZMESSAGEDATE COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_byMessageErrorStatusIndex ON ZWAMESSAGE (ZMESSAGEERRORSTATUS COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_byMessageStatusIndex ON ZWAMESSAGE (ZMESSAGESTATUS COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_byMessageTypeIndex ON ZWAMESSAGE (ZMESSAGETYPE COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_bySortIndex ON ZWAMESSAGE (ZSORT COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_byStanzaIDIndex ON ZWAMESSAGE (ZSTANZAID COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_byStarredIndex ON ZWAMESSAGE (ZSTARRED COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_compoundIndex ON ZWAMESSAGE (ZCHATSESSION COLLATE BINARY ASC, ZSORT COLLATE BINARY "
    "ASC);"
    "CREATE INDEX Z_WAMessage_compoundIndex1 ON ZWAMESSAGE (ZCHATSESSION COLLATE BINARY ASC, ZMEDIASECTIONID "
    "COLLATE BINARY ASC, ZSORT COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_compoundIndex2 ON ZWAMESSAGE (ZCHATSESSION COLLATE BINARY ASC, ZSTARRED COLLATE "
    "BINARY ASC, ZMESSAGEDATE COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_compoundIndex3 ON ZWAMESSAGE (ZDATAITEMVERSION COLLATE BINARY ASC, ZMESSAGEDATE "
    "COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAMessage_compoundIndex4 ON ZWAMESSAGE (ZSPOTLIGHTSTATUS COLLATE BINARY ASC, ZMESSAGEDATE "
    "COLLATE BINARY ASC);";

constexpr char kWaChatSessionTable[] =
    "CREATE TABLE ZWACHATSESSION ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZARCHIVED INTEGER, "
    "ZCONTACTABID INTEGER, ZFLAGS INTEGER, ZHIDDEN INTEGER, ZIDENTITYVERIFICATIONEPOCH INTEGER, "
    "ZIDENTITYVERIFICATIONSTATE INTEGER, ZMESSAGECOUNTER INTEGER, ZREMOVED INTEGER, ZSESSIONTYPE INTEGER, "
    "ZSPOTLIGHTSTATUS INTEGER, ZUNREADCOUNT INTEGER, ZGROUPINFO INTEGER, ZLASTMESSAGE INTEGER, ZPROPERTIES "
    "INTEGER, ZLASTMESSAGEDATE TIMESTAMP, ZLOCATIONSHARINGENDDATE TIMESTAMP, ZCONTACTIDENTIFIER VARCHAR, "
    "ZCONTACTJID VARCHAR, ZETAG VARCHAR, ZLASTMESSAGETEXT VARCHAR, ZPARTNERNAME VARCHAR, ZSAVEDINPUT VARCHAR );"
    "CREATE INDEX ZWACHATSESSION_ZGROUPINFO_INDEX ON ZWACHATSESSION (ZGROUPINFO);"
    "CREATE INDEX ZWACHATSESSION_ZLASTMESSAGE_INDEX ON ZWACHATSESSION (ZLASTMESSAGE);"
    "CREATE INDEX ZWACHATSESSION_ZPROPERTIES_INDEX ON ZWACHATSESSION (ZPROPERTIES);"
    "CREATE INDEX Z_WAChatSession_byContactJIDIndex ON ZWACHATSESSION (ZCONTACTJID COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAChatSession_byIdentityVerificationEpochIndex ON ZWACHATSESSION (ZIDENTITYVERIFICATIONEPOCH "
    "COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAChatSession_byIdentityVerificationStateIndex ON ZWACHATSESSION (ZIDENTITYVERIFICATIONSTATE "
    "COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAChatSession_byLastMessageDateIndex ON ZWACHATSESSION (ZLASTMESSAGEDATE COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAChatSession_byRemovedIndex ON ZWACHATSESSION (ZREMOVED COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAChatSession_bySessionTypeIndex ON ZWACHATSESSION (ZSESSIONTYPE COLLATE BINARY ASC);"
    "CREATE INDEX Z_WAChatSession_bySpotlightStatusIndex ON ZWACHATSESSION (ZSPOTLIGHTSTATUS COLLATE BINARY ASC);";

constexpr char kWaLidPairTable[] =
    "CREATE TABLE ZWAPHONENUMBERLIDPAIR ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZLID VARCHAR, "
    "ZPHONENUMBER VARCHAR );";

constexpr std::int64_t kAppleEpochUnixSeconds = 978307200;
// 2021-12-01 09:00:00 in UTC+8, the start of the sample's chats.
constexpr std::int64_t kSampleStart = 1638320400;

std::string Int(std::int64_t value) { return std::to_string(value); }

// A date as the store keeps it: whole seconds as an integer, others with
// the app's six decimals.
std::string Date(double date) {
  char text[64];
  if (date == std::floor(date) && std::fabs(date) < 9e15) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(date));
  } else {
    std::snprintf(text, sizeof text, "%.6f", date);
  }
  return text;
}

std::string StanzaId(std::int64_t rowId) {
  char text[32];
  std::snprintf(text, sizeof text, "3A5C0F2A7E3B%08llX", static_cast<unsigned long long>(rowId) & 0xFFFFFFFFULL);
  return text;
}

// One chat of the sample: its session and its peer.
struct Chat {
  WaSession session;
  std::string pushName;  // the name the peer's messages carry
};

// Builds the rows of one chat in order; received messages come from the
// peer, sent ones from the phone, each a minute or two after the last.
class ChatWriter {
 public:
  // nextRowId and minute are shared by all chats, sort by the writers of
  // one chat.
  ChatWriter(const Chat& chat, std::int64_t& nextRowId, int& minute, std::int64_t& sort)
      : chat_(chat), nextRowId_(nextRowId), minute_(minute), sort_(sort) {}

  std::int64_t Received(const std::string& text) { return Add(false, text); }
  std::int64_t Sent(const std::string& text) { return Add(true, text); }
  const std::string& Sql() const { return sql_; }

 private:
  std::int64_t Add(bool fromMe, const std::string& text) {
    WaMessage m;
    m.rowId = nextRowId_++;
    m.sessionId = chat_.session.rowId;
    m.sort = ++sort_;
    m.isFromMe = fromMe;
    minute_ += 1 + static_cast<int>(m.rowId % 2);
    // The app stores the send time of its own messages to the microsecond.
    m.date = WaDate(kSampleStart + minute_ * 60LL, fromMe ? 0.221498 + static_cast<double>(m.rowId % 7) / 10 : 0);
    m.fromJid = fromMe ? std::string() : chat_.session.contactJid;
    m.pushName = fromMe ? std::string() : chat_.pushName;
    m.text = text;
    m.toJid = chat_.session.contactJid;
    sql_ += InsertWaMessageSql(m);
    return m.rowId;
  }

  const Chat& chat_;
  std::int64_t& nextRowId_;
  int& minute_;
  std::int64_t& sort_;
  std::string sql_;
};

const Chat kMei{{1, "8613800138000@s.whatsapp.net", "林梅", 24, 0, ""}, "Mei"};
const Chat kTom{{2, "14155550123@s.whatsapp.net", "Tom Baker", 15, 0, ""}, "Tom"};
const Chat kZhao{{3, "8615012345678@s.whatsapp.net", "赵强", 3, 0, ""}, "赵强"};
const Chat kAnna{{4, "447700900123@s.whatsapp.net", "Anna", 1, 0, ""}, "Anna"};
const Chat kMin{{5, kWaLidChatStoreLid, "周敏", 3, 0, ""}, "敏"};
const Chat kOliver{{6, kWaLidStoreLid, "Oliver", 2, 0, ""}, "Oliver"};
// Rows of the "@lid" chats: after every row of the sample, a day later.
constexpr std::int64_t kLidFirstRowId = 1001;
constexpr int kLidFirstMinute = 24 * 60;

}  // namespace

double WaDate(std::int64_t unixSeconds, double fraction) {
  return static_cast<double>(unixSeconds - kAppleEpochUnixSeconds) + fraction;
}

std::string WhatsAppSchemaSql() { return std::string(kWaMessageTable) + kWaChatSessionTable; }

std::string InsertWaSessionSql(const WaSession& s) {
  return "INSERT INTO ZWACHATSESSION (Z_PK, Z_ENT, Z_OPT, ZARCHIVED, ZCONTACTABID, ZFLAGS, ZHIDDEN, "
         "ZIDENTITYVERIFICATIONEPOCH, ZIDENTITYVERIFICATIONSTATE, ZMESSAGECOUNTER, ZREMOVED, ZSESSIONTYPE, "
         "ZSPOTLIGHTSTATUS, ZUNREADCOUNT, ZLASTMESSAGEDATE, ZCONTACTJID, ZETAG, ZLASTMESSAGETEXT, ZPARTNERNAME) "
         "VALUES (" +
         Int(s.rowId) + ", 4, 4, 0, 0, 256, 0, 0, 0, " + Int(s.messageCounter) + ", 0, 0, 1, 0, " +
         Date(s.lastMessageDate) + ", " + SqlText(s.contactJid) + ", 'pn', " + SqlTextOrNull(s.lastMessageText) + ", " +
         SqlTextOrNull(s.partnerName) + ");";
}

std::string InsertWaMessageSql(const WaMessage& m) {
  const std::string stanzaId = m.stanzaId.empty() ? StanzaId(m.rowId) : m.stanzaId;
  // Sent and delivered (6) for the phone's own messages, read (8) for
  // received ones; the send date trails the message date a little.
  const char* flags = m.isFromMe ? "16777280" : "16777216";
  const char* status = m.isFromMe ? "6" : "8";
  return "INSERT INTO ZWAMESSAGE (Z_PK, Z_ENT, Z_OPT, ZCHILDMESSAGESDELIVEREDCOUNT, ZCHILDMESSAGESPLAYEDCOUNT, "
         "ZCHILDMESSAGESREADCOUNT, ZDATAITEMVERSION, ZDOCID, ZENCRETRYCOUNT, ZFILTEREDRECIPIENTCOUNT, ZFLAGS, "
         "ZGROUPEVENTTYPE, ZISFROMME, ZMESSAGEERRORSTATUS, ZMESSAGESTATUS, ZMESSAGETYPE, ZSORT, ZSPOTLIGHTSTATUS, "
         "ZCHATSESSION, ZMESSAGEDATE, ZSENTDATE, ZFROMJID, ZPUSHNAME, ZSTANZAID, ZTEXT, ZTOJID) VALUES (" +
         Int(m.rowId) + ", 9, 6, 0, 0, 0, 3, " + Int(m.rowId) + ", 0, 0, " + flags + ", 0, " +
         (m.isFromMe ? "1" : "0") + ", 0, " + status + ", " + Int(m.messageType) + ", " + Int(m.sort) +
         ", -32768, " + Int(m.sessionId) + ", " + Date(m.date) + ", " + Date(m.date + 0.065843) + ", " +
         SqlTextOrNull(m.fromJid) + ", " + SqlTextOrNull(m.pushName) + ", " + SqlText(stanzaId) + ", " +
         SqlTextOrNull(m.text) + ", " + SqlTextOrNull(m.toJid) + ");";
}

WhatsAppDbScript SampleWhatsAppDb() {
  WhatsAppDbScript script;
  std::string& sql = script.setupSql;
  // One transaction, as the app batches its writes; it also keeps building
  // the sample fast.
  sql = "BEGIN;" + WhatsAppSchemaSql();
  for (const Chat* chat : {&kMei, &kTom, &kZhao, &kAnna}) sql += InsertWaSessionSql(chat->session);

  std::int64_t next = 1;
  int minute = 0;
  std::int64_t meiSort = 0;
  std::int64_t tomSort = 0;
  std::int64_t zhaoSort = 0;
  // A chat database has pages full of messages, and a page that deleting a
  // few leaves well filled keeps their bytes where they were: so the
  // history around the deleted messages is long.
  ChatWriter mei(kMei, next, minute, meiSort);
  mei.Received("早上好！今天的会议改到十点了");
  mei.Sent("收到，我会准时到");
  mei.Received("记得带上季度的报表");
  mei.Sent("好的，已经打印好了");
  mei.Received("会议室在三楼，不是二楼");
  mei.Sent("明白，谢谢提醒");
  mei.Received("中午一起吃饭吗？");
  mei.Sent("可以啊，去楼下那家面馆");
  mei.Received("好，十二点见");
  const std::int64_t meiDeletedSent = mei.Sent("我的护照号码是E12345678，帮我订一下机票");
  mei.Received("订好了，周五早上八点的航班");
  mei.Sent("太感谢了！");
  mei.Received("不客气，记得提前两小时到机场");
  const std::int64_t meiDeletedReceived = mei.Received("银行卡密码别发微信，当面告诉我");
  mei.Sent("好，晚上见面说");
  mei.Received("晚上七点，老地方");
  mei.Sent("行，我先订位子");
  mei.Received("订好了告诉我");
  mei.Sent("订好了，靠窗的位子");
  mei.Received("太好了，晚上见");
  sql += mei.Sql();

  ChatWriter zhao(kZhao, next, minute, zhaoSort);
  const std::int64_t zhaoFirst = zhao.Received("明天的货能按时发吗？");
  zhao.Sent("可以，下午三点前发出");
  const std::int64_t zhaoLast = zhao.Received("那就好，单号发我一下");
  sql += zhao.Sql();

  ChatWriter tom(kTom, next, minute, tomSort);
  tom.Received("Hi, are we still on for Friday?");
  tom.Sent("Yes, see you at 7pm, \"the usual place\"");
  tom.Received("Great, I'll bring the documents, the contract and the invoice");
  tom.Sent("<script>alert('hi')</script> is what the page showed");
  const std::int64_t tomDeleted = tom.Received("The door code is 4711, don't share it");
  tom.Sent("Got it, thanks");
  tom.Received("Running ten minutes late");
  tom.Sent("No problem 😀");
  tom.Received("Here now, table by the window");
  tom.Sent("On my way");
  tom.Received("Thanks for tonight!");
  tom.Sent("Anytime. Safe trip home");
  tom.Received("Will send the signed copy tomorrow");
  tom.Sent("Perfect");
  sql += tom.Sql();

  // A message without ZTOJID: the app leaves it empty on messages it
  // receives; this one is filed by its push name.
  WaMessage anna;
  anna.rowId = next++;
  anna.sessionId = kAnna.session.rowId;
  anna.sort = 1;
  minute += 3;
  anna.date = WaDate(kSampleStart + minute * 60LL);
  anna.fromJid = kAnna.session.contactJid;
  anna.pushName = kAnna.pushName;
  anna.text = "Hello from London! Is this still Lin's number?";
  sql += InsertWaMessageSql(anna);

  ChatWriter meiLater(kMei, next, minute, meiSort);
  meiLater.Received("到家了吗？");
  meiLater.Sent("到了，今天很开心");
  meiLater.Received("我也是，下次再约");
  meiLater.Sent("照片发你了，看看哪张好");
  meiLater.Received("第二张最好看");
  meiLater.Sent("那我发朋友圈了");
  meiLater.Received("发吧，记得把我修好看点");
  meiLater.Sent("哈哈，没问题");
  meiLater.Received("对了，周末的电影票买了吗");
  meiLater.Sent("买了，周六下午两点");
  meiLater.Received("好的，我提前去取票");
  meiLater.Sent("晚安");
  meiLater.Received("晚安，明天聊");
  sql += meiLater.Sql();

  ChatWriter tomLater(kTom, next, minute, tomSort);
  tomLater.Received("Morning! Got the signed copy?");
  tomLater.Sent("Not yet, will check after lunch");
  tomLater.Received("Sent it to your work address");
  tomLater.Sent("Found it, thanks");
  tomLater.Received("Next meeting: Tuesday 10am, room 4B");
  tomLater.Sent("Works for me");
  tomLater.Received("Bring the slides from last week");
  tomLater.Sent("Will do");
  tomLater.Received("And the budget sheet, please");
  tomLater.Sent("Attached to the invite");
  tomLater.Received("You're a star");
  tomLater.Sent("See you Tuesday");
  sql += tomLater.Sql();

  // The deletions: two single messages to Mei, one from Tom, and Zhao's chat
  // with its session, as the app deletes a chat.
  sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK IN (" + Int(meiDeletedSent) + ", " + Int(meiDeletedReceived) + ", " +
         Int(tomDeleted) + ");";
  sql += "DELETE FROM ZWAMESSAGE WHERE Z_PK BETWEEN " + Int(zhaoFirst) + " AND " + Int(zhaoLast) + ";";
  sql += "DELETE FROM ZWACHATSESSION WHERE Z_PK = " + Int(kZhao.session.rowId) + ";";
  sql += "COMMIT;";

  // The newest rows: one sent to Mei, one received from Tom.
  ChatWriter meiRecent(kMei, next, minute, meiSort);
  meiRecent.Sent("明天见！");
  ChatWriter tomRecent(kTom, next, minute, tomSort);
  tomRecent.Received("Signed copy is in your inbox");
  script.recentSql = "BEGIN;" + meiRecent.Sql() + tomRecent.Sql() + "COMMIT;";
  return script;
}

std::string WaLidPairSchemaSql() { return kWaLidPairTable; }

std::string InsertWaLidPairSql(const WaLidPair& pair) {
  return "INSERT INTO ZWAPHONENUMBERLIDPAIR (Z_PK, Z_ENT, Z_OPT, ZLID, ZPHONENUMBER) VALUES (" + Int(pair.rowId) +
         ", 1, 1, " + SqlTextOrNull(pair.lid) + ", " + SqlTextOrNull(pair.phoneNumber) + ");";
}

std::string SampleWaLidChatsSql() {
  std::string sql = "BEGIN;";
  sql += InsertWaSessionSql(kMin.session) + InsertWaSessionSql(kOliver.session);
  std::int64_t next = kLidFirstRowId;
  int minute = kLidFirstMinute;
  std::int64_t minSort = 0;
  std::int64_t oliverSort = 0;
  ChatWriter min(kMin, next, minute, minSort);
  min.Received("换新号码了，我是周敏");
  min.Sent("好的，已经存上了");
  min.Received("周六的聚会别忘了");
  ChatWriter oliver(kOliver, next, minute, oliverSort);
  oliver.Received("Hi, it's Oliver from the conference");
  oliver.Sent("Nice to hear from you!");
  sql += min.Sql() + oliver.Sql();
  sql += WaLidPairSchemaSql() + InsertWaLidPairSql({1, kWaLidChatStoreLid, kWaLidChatStorePhone});
  return sql + "COMMIT;";
}

std::string SampleWaLidStoreSql() {
  return WaLidPairSchemaSql() +
         "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);"
         "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);"
         "INSERT INTO Z_PRIMARYKEY VALUES (1, 'WAPhoneNumberLIDPair', 0, 1);"
         "INSERT INTO Z_METADATA VALUES (1, '9B0E4C71-2D6A-4F38-B5C1-E7A2940D3F66', NULL);" +
         InsertWaLidPairSql({1, kWaLidStoreLid, kWaLidStorePhone});
}

std::unique_ptr<SqliteFile> MakeSampleWhatsAppDb(SqliteFile::Journal journal) {
  const WhatsAppDbScript script = SampleWhatsAppDb();
  return std::make_unique<SqliteFile>(script.setupSql, script.recentSql, journal);
}

void AddWhatsAppApp(SampleBackupBuilder& builder) {
  const WhatsAppDbScript script = SampleWhatsAppDb();
  builder.AddDatabase(kWhatsAppDomain, kWhatsAppRelativePath,
                      SqliteFile(script.setupSql + SampleWaLidChatsSql(), script.recentSql,
                                 SqliteFile::Journal::kWalPending));
  builder.AddDatabase(kWhatsAppDomain, kWhatsAppLidRelativePath, SqliteFile(SampleWaLidStoreSql()));
}

}  // namespace sample
