#pragma once
// Sample WhatsApp chat databases (ChatStorage.sqlite) in the shape the app
// writes them on iOS 15, for the WhatsApp reader's tests and the demo backup,
// and the table of newer versions that gives "@lid" chats their phone
// numbers (ZWAPHONENUMBERLIDPAIR, in ChatStorage.sqlite or LID.sqlite).
//
// The schema is the app's own: ZWAMESSAGE (34 columns) and ZWACHATSESSION
// with their indexes, as the iOS 15 store has them. Rows are deleted with
// secure_delete off, so their bytes stay in the file.
//
// Everything here builds SQL texts; SqliteFile (sample_backup.h) runs them.
// Functions are pure and may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "testing/sample_backup.h"

namespace sample {

// Where the phone keeps the chat database in a backup.
inline constexpr char kWhatsAppDomain[] = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared";
inline constexpr char kWhatsAppRelativePath[] = "ChatStorage.sqlite";
inline constexpr char kWhatsAppLidRelativePath[] = "LID.sqlite";
// ZWAMESSAGE: Z_PK 0, Z_ENT 1, ZISFROMME 12, ZMESSAGEDATE 25, ZFROMJID 27,
// ZPUSHNAME 30, ZSTANZAID 31, ZTEXT 32, ZTOJID 33.
inline constexpr int kWaMessageColumns = 34;
inline constexpr int kWaChatSessionColumns = 25;

// The address of the sample phone's owner.
inline constexpr char kWaOwnJid[] = "8613700001234@s.whatsapp.net";

// Dates in ChatStorage.sqlite count seconds from 2001-01-01 00:00 UTC; the
// app stores fractions of a second for the messages it sends.
double WaDate(std::int64_t unixSeconds, double fraction = 0);

// One row of ZWACHATSESSION.
struct WaSession {
  std::int64_t rowId = 0;
  std::string contactJid;   // "8613800138000@s.whatsapp.net", "...@g.us" for a group
  std::string partnerName;  // the name the chat list shows
  std::int64_t messageCounter = 0;
  double lastMessageDate = 0;
  std::string lastMessageText;
};

// One row of ZWAMESSAGE; columns not named here get the values the app
// writes for a plain text message. An empty text stands for NULL.
struct WaMessage {
  std::int64_t rowId = 0;      // required: the stanza id is made from it
  std::int64_t sessionId = 0;  // ZCHATSESSION
  std::int64_t sort = 0;       // ZSORT, the place in its chat
  bool isFromMe = false;
  double date = 0;             // ZMESSAGEDATE, stored as an integer when whole
  std::string fromJid;
  std::string pushName;
  std::string text;
  std::string toJid;
  std::string stanzaId;        // empty: 20 hex digits made from rowId
  std::int64_t messageType = 0;  // 0 text
};

// CREATE statements (tables and indexes) of a sample ChatStorage.sqlite.
std::string WhatsAppSchemaSql();
// INSERT statements of one row; texts are quoted for SQL.
std::string InsertWaSessionSql(const WaSession& session);
std::string InsertWaMessageSql(const WaMessage& message);

// The built-in sample, dates from 2021-12-01 09:00 (UTC+8): chats with Mei
// (Chinese), Tom (English; texts with a comma, a quote, "<script>" and an
// emoji) and Zhao, and Anna's message without ZTOJID (filed by its push
// name): 59 live messages in both directions. Sent messages have no
// ZFROMJID and fractional dates, as the app stores them; received ones
// carry the peer in ZTOJID as well, except Anna's. Deleted and left in the
// file: one sent and one received message to Mei, one received from Tom,
// and Zhao's chat whole (its three messages and its session). setupSql
// holds the schema, the rows and the deletions; recentSql the two newest
// messages (one to Mei, one from Tom), which SqliteFile leaves in the -wal
// when asked to. The deleted rows lie on pages the newest rows do not
// reach, so all six are in the file in every journal mode.
struct WhatsAppDbScript {
  std::string setupSql;
  std::string recentSql;
};
WhatsAppDbScript SampleWhatsAppDb();
std::unique_ptr<SqliteFile> MakeSampleWhatsAppDb(SqliteFile::Journal journal = SqliteFile::Journal::kRollback);

// One row of ZWAPHONENUMBERLIDPAIR.
struct WaLidPair {
  std::int64_t rowId = 0;
  std::string lid;          // "204817362950144@lid"
  std::string phoneNumber;  // as the sample stores it, the number's own address "8613912345678@s.whatsapp.net"
};

// CREATE statement of ZWAPHONENUMBERLIDPAIR (Core Data columns, ZLID,
// ZPHONENUMBER) and one row's INSERT.
std::string WaLidPairSchemaSql();
std::string InsertWaLidPairSql(const WaLidPair& pair);

// The two "@lid" chats of the built-in sample and their numbers.
inline constexpr char kWaLidChatStoreLid[] = "204817362950144@lid";  // its pair is in ChatStorage.sqlite
inline constexpr char kWaLidChatStorePhone[] = "8613912345678@s.whatsapp.net";
inline constexpr char kWaLidStoreLid[] = "93561082731520@lid";  // its pair is in LID.sqlite
inline constexpr char kWaLidStorePhone[] = "447700900456@s.whatsapp.net";

// SQL adding the "@lid" chats to a ChatStorage.sqlite of WhatsAppSchemaSql:
// their sessions (周敏 and Oliver, of 2021-12-02), five live messages (three
// with 周敏, two with Oliver), the pair table and 周敏's pair. One
// transaction.
std::string SampleWaLidChatsSql();
// A whole LID.sqlite: the pair table with Oliver's pair and Core Data's
// bookkeeping tables.
std::string SampleWaLidStoreSql();

// Adds the built-in sample (newest rows in the -wal) with the "@lid" chats
// to a backup as ChatStorage.sqlite of the WhatsApp app group, and
// LID.sqlite beside it.
void AddWhatsAppApp(SampleBackupBuilder& builder);

}  // namespace sample
