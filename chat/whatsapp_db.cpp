#include "chat/whatsapp_db.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/live_table.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using db::undark::UndarkRow;
using db::undark::UndarkValue;

constexpr char kMessageTable[] = "ZWAMESSAGE";
constexpr char kLidPairTable[] = "ZWAPHONENUMBERLIDPAIR";
constexpr std::string_view kLidSuffix = "@lid";
constexpr std::size_t kKeyTextUnits = 80;

// The columns of ZWAMESSAGE a message is read from, at their iOS 15
// positions: the shape layout kWhatsAppMessageLayout was made for.
constexpr std::initializer_list<std::pair<std::size_t, const char*>> kIos15Columns = {
    {12, "ZISFROMME"}, {25, "ZMESSAGEDATE"}, {27, "ZFROMJID"}, {30, "ZPUSHNAME"},
    {31, "ZSTANZAID"}, {32, "ZTEXT"},        {33, "ZTOJID"},
};

// The first day a WhatsApp message can bear (2009-01-01) and a bound no
// phone's clock reaches (2100-01-01), in seconds since 2001.
constexpr double kFirstMessageDate = 252460800;
constexpr double kLastMessageDate = 3124137600;

// ZMESSAGEDATE counts seconds from 2001; the fraction is dropped before the
// count becomes Unix seconds. Converted as a double: a damaged count may be
// anywhere in 64 bits.
double UnixSeconds(std::int64_t appleSeconds) { return db::UnixFromAppleSeconds(static_cast<double>(appleSeconds)); }

bool IsTextOrNull(const UndarkValue& value) {
  return value.type == db::undark::kTypeNull || value.type == db::undark::kTypeText;
}

bool IsInteger(const UndarkValue& value) {
  return (value.type >= 1 && value.type <= 6) || value.type == 8 || value.type == 9;
}

// Where a recovered row holds the columns a message is read from: their
// positions in the live table, -1 for a column it lacks (whose field then
// stays empty).
struct MessageColumns {
  explicit MessageColumns(const readers::LiveTable& table)
      : isFromMe(table.Index("ZISFROMME")),
        messageDate(table.Index("ZMESSAGEDATE")),
        fromJid(table.Index("ZFROMJID")),
        pushName(table.Index("ZPUSHNAME")),
        stanzaId(table.Index("ZSTANZAID")),
        text(table.Index("ZTEXT")),
        toJid(table.Index("ZTOJID")) {}

  int isFromMe, messageDate, fromJid, pushName, stanzaId, text, toJid;
};

// The value of the column at index in row (one value per column of the
// live table); NULL for a column the table lacks.
const UndarkValue& ValueAt(const UndarkRow& row, int index) {
  static const UndarkValue kNull;
  return index >= 0 && static_cast<std::size_t>(index) < row.size() ? row[static_cast<std::size_t>(index)] : kNull;
}

// Bytes of the schema, of other tables and of rows whose start lies
// elsewhere pass a layout's few checks now and then: the real iOS 15 file
// holds three such rows, with BLOB "addresses" and dates of 0. A message
// always has a stanza id (a short identifier, never empty), a date the app
// could have written, and its addresses, name and text are texts or NULL
// (texts that decode: the scan of the live table checked that).
bool LooksLikeMessage(const UndarkRow& row, const MessageColumns& at) {
  if (at.stanzaId >= 0) {
    const UndarkValue& stanzaId = ValueAt(row, at.stanzaId);
    if (stanzaId.type != db::undark::kTypeText || stanzaId.text.empty()) return false;
  }
  if (at.messageDate >= 0) {
    const UndarkValue& date = ValueAt(row, at.messageDate);
    if (!IsInteger(date) && date.type != db::undark::kTypeDouble) return false;
    const double seconds = date.type == db::undark::kTypeDouble ? date.real : static_cast<double>(date.number);
    if (!(seconds >= kFirstMessageDate && seconds < kLastMessageDate)) return false;
  }
  return IsTextOrNull(ValueAt(row, at.fromJid)) && IsTextOrNull(ValueAt(row, at.pushName)) &&
         IsTextOrNull(ValueAt(row, at.text)) && IsTextOrNull(ValueAt(row, at.toJid));
}

// The conversation a message belongs to. A sent message names its peer in
// ZTOJID; a received one leaves ZTOJID empty and names the peer (a person,
// or the group it came through) in ZFROMJID. Only a message with neither
// falls back to the sender's push name.
void SetPeerAddress(DBITEM_WhatsApp& message) {
  if (message.toJid.empty()) message.toJid = !message.fromJid.empty() ? message.fromJid : message.pushName;
}

std::unique_ptr<DBITEM_WhatsApp> MessageFromRow(const UndarkRow& row, const MessageColumns& at,
                                                const readers::RowPlace& place) {
  auto message = std::make_unique<DBITEM_WhatsApp>();
  // The direction is in the record like every other column; leaving it 0
  // would show every recovered message as received.
  const UndarkValue& isFromMe = ValueAt(row, at.isFromMe);
  if (IsInteger(isFromMe)) message->isFromMe = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(isFromMe));
  if (at.messageDate >= 0) {
    message->time = UnixSeconds(db::undark::UndarkValueToInt64(ValueAt(row, at.messageDate)));
  }
  message->fromJid = db::undark::UndarkValueText(ValueAt(row, at.fromJid));
  message->pushName = db::undark::UndarkValueText(ValueAt(row, at.pushName));
  message->stanzaId = db::undark::UndarkValueText(ValueAt(row, at.stanzaId));
  message->text = db::undark::UndarkValueText(ValueAt(row, at.text));
  message->toJid = db::undark::UndarkValueText(ValueAt(row, at.toJid));
  SetPeerAddress(*message);
  message->deleted = 1;
  if (place.inWal) message->deletedFrom = db::BaseItem::DeletedFrom::kWal;
  return message;
}

}  // namespace

DBITEM_WhatsApp* DBITEM_WhatsAppFriend::Append(std::unique_ptr<DBITEM_WhatsApp> message) {
  DBITEM_WhatsApp* filed = message.get();
  messages_.push_back(std::move(message));
  items.push_back(filed);
  time = filed->time;
  return filed;
}

void DBITEM_WhatsAppFriend::Prepend(std::vector<std::unique_ptr<DBITEM_WhatsApp>> messages) {
  db::PrependOwned(items, messages_, std::move(messages));
}

std::string MessageKey(const DBITEM_WhatsApp& message) {
  return db::FormatFixed(message.time) + db::LeftUtf16(message.text, kKeyTextUnits);
}

CWhatsAppDB::CWhatsAppDB() = default;

CWhatsAppDB::~CWhatsAppDB() = default;

std::string CWhatsAppDB::GetTableName(int tableKind) {
  if (tableKind == kWhatsAppMessageKind && openParam == kWhatsAppChatStore) return kMessageTable;
  if (tableKind == kWhatsAppLidPairKind && (openParam == kWhatsAppChatStore || openParam == kWhatsAppLidStore)) {
    return kLidPairTable;
  }
  return {};
}

void CWhatsAppDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  out.reset();
  if (openParam == 0 && tableKind == kWhatsAppMessageKind) {
    auto message = std::make_unique<DBITEM_WhatsApp>();
    message->rowId = query.GetIntField(0);
    message->text = db::FieldText(query, "ZTEXT");
    // Sent messages carry fractions of a second; the time is kept in whole
    // seconds, as the recovered copy is compared by it.
    message->time = UnixSeconds(query.GetInt64Field(query.FieldIndex("ZMESSAGEDATE")));
    message->toJid = db::FieldText(query, "ZTOJID");
    message->fromJid = db::FieldText(query, "ZFROMJID");
    message->pushName = db::FieldText(query, "ZPUSHNAME");
    message->isFromMe = query.GetIntField(query.FieldIndex("ZISFROMME"));
    message->stanzaId = db::FieldText(query, "ZSTANZAID");
    SetPeerAddress(*message);
    AddLiveMessage(std::move(message));
    return;
  }
  if (tableKind == kWhatsAppLidPairKind && (openParam == kWhatsAppChatStore || openParam == kWhatsAppLidStore)) {
    std::string lid = db::FieldText(query, "ZLID");
    // The chats name a lid with its server part; a pair that stores the
    // number alone still names the same chat.
    if (!lid.empty() && lid.find('@') == std::string::npos) lid += kLidSuffix;
    const std::string phoneNumber = db::FieldText(query, "ZPHONENUMBER");
    if (!lid.empty() && !phoneNumber.empty()) phoneByLid_.try_emplace(lid, phoneNumber);
    return;
  }
  CDbSqlite::ParseRow(tableKind, out, query);
}

base::Status CWhatsAppDB::Open(const std::string& path, int param) {
  // Every Open starts from nothing: the map and the keys point into the
  // conversations, so they go together.
  Reset();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam != kWhatsAppChatStore && openParam != kWhatsAppLidStore) return {};
  db::ItemList handedBack;  // stays empty: messages and pairs are noted, not handed back
  // A store of an app version before lids has no pair table: nothing read.
  if (HasTable(kLidPairTable)) LoadTable(kWhatsAppLidPairKind, handedBack);
  if (openParam != kWhatsAppChatStore) return {};
  columnCount_ = LoadTable(kWhatsAppMessageKind, handedBack);
  RecoverDeletedMessages();
  MergeRecoveredMessages();
  NameLidConversations(phoneByLid_);
  return {};
}

void CWhatsAppDB::NameLidConversations(const std::map<std::string, std::string>& phoneByLid) {
  for (const auto& conversation : conversations_) {
    if (!conversation->phoneNumber.empty() || !conversation->jid.ends_with(kLidSuffix)) continue;
    if (const auto found = phoneByLid.find(conversation->jid); found != phoneByLid.end()) {
      conversation->phoneNumber = found->second;
    }
  }
}

void CWhatsAppDB::Reset() {
  messageKeys_.clear();
  stanzaIds_.clear();
  conversationByJid_.clear();
  recoveredMessages_.clear();
  conversations_.clear();
  phoneByLid_.clear();
  columnCount_ = 0;
}

DBITEM_WhatsAppFriend& CWhatsAppDB::ConversationFor(const std::string& jid) {
  const auto found = conversationByJid_.find(jid);
  if (found != conversationByJid_.end()) return *found->second;
  auto conversation = std::make_unique<DBITEM_WhatsAppFriend>();
  conversation->jid = jid;
  DBITEM_WhatsAppFriend& created = *conversation;
  conversations_.push_back(std::move(conversation));
  conversationByJid_.emplace(jid, &created);
  return created;
}

void CWhatsAppDB::AddLiveMessage(std::unique_ptr<DBITEM_WhatsApp> message) {
  if (message->fromJid.empty()) message->fromJid = kUnknownSender;
  // A later live message with the same key replaces the entry only; both
  // stay in their conversation.
  messageKeys_.insert(MessageKey(*message));
  if (!message->stanzaId.empty()) stanzaIds_.insert(message->stanzaId);
  ConversationFor(message->toJid).Append(std::move(message));
}

void CWhatsAppDB::RecoverDeletedMessages() {
  recoveredMessages_.clear();
  if (columnCount_ == 0) return;
  const std::optional<readers::LiveTable> table = readers::LiveTable::Read(*this, kMessageTable);
  if (!table) return;
  const MessageColumns at(*table);
  const readers::FoundRowSink keep = [&](UndarkRow& row, const readers::RowPlace& place) {
    if (LooksLikeMessage(row, at)) recoveredMessages_.push_back(MessageFromRow(row, at, place));
  };
  // The numbered layout checks more of the iOS 15 row than one made from
  // the live shape would; every other shape gets the one made from it.
  if (table->HasShape(kWhatsAppMessageColumns, kIos15Columns)) {
    readers::ScanLiveTable(*this, *table, kWhatsAppMessageLayout, keep);
  } else {
    readers::ScanLiveTable(*this, *table, keep);
  }
}

void CWhatsAppDB::MergeRecoveredMessages() {
  db::DropLogCopiesOfFileRecords(recoveredMessages_, [](const DBITEM_WhatsApp& message) {
    return message.stanzaId.empty() ? MessageKey(message) : message.stanzaId;
  });
  db::MergeRecoveredIntoGroups(
      conversations_, std::move(recoveredMessages_),
      // A copy of a live (or an already kept) message: the scan meets every
      // live record as well, and may meet a record twice. An older version
      // of a message (its status changed since, or its text edited) keeps
      // the message's stanza id.
      [this](const DBITEM_WhatsApp& message) {
        if (!message.stanzaId.empty() && stanzaIds_.contains(message.stanzaId)) return false;
        if (!messageKeys_.insert(MessageKey(message)).second) return false;
        if (!message.stanzaId.empty()) stanzaIds_.insert(message.stanzaId);
        return true;
      },
      [this](DBITEM_WhatsApp& message) -> DBITEM_WhatsAppFriend& {
        if (message.fromJid.empty()) message.fromJid = kUnknownSender;
        DBITEM_WhatsAppFriend& conversation = ConversationFor(message.toJid);
        conversation.deleted = 1;
        ++conversation.deletedMessageCount;
        conversation.time = message.time;
        return conversation;
      },
      [](DBITEM_WhatsAppFriend& conversation, std::vector<std::unique_ptr<DBITEM_WhatsApp>> messages) {
        conversation.Prepend(std::move(messages));
      });
  recoveredMessages_.clear();
}

void WriteWhatsAppCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection) {
  std::vector<const DBITEM_WhatsAppFriend*> conversations;
  for (const db::BaseItem* item : selection) {
    if (const auto* conversation = dynamic_cast<const DBITEM_WhatsAppFriend*>(item)) {
      conversations.push_back(conversation);
    }
  }
  writer.BeginList(static_cast<int>(conversations.size()));
  writer.SetHeader("名称,日期,类型,内容\r\n");
  for (const DBITEM_WhatsAppFriend* conversation : conversations) {
    const std::string name = db::CsvField(conversation->Title());
    for (const db::BaseItem* item : conversation->items) {
      if (writer.Cancelled()) return;
      const auto* message = dynamic_cast<const DBITEM_WhatsApp*>(item);
      if (message == nullptr) continue;
      const char* direction = message->isFromMe == 1 ? "发送" : "接收";
      const std::string line = name + "," + db::FormatItemTime(message->time) + "," + direction + "," +
                               db::CsvQuoteField(message->text) + "\r\n";
      writer.AddLine(exporting::kToCsvAndHtml, line, message->deleted != 0);
    }
  }
}

}  // namespace chat
