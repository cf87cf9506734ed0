#include "chat/whatsapp_db.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using db::undark::UndarkRow;
using db::undark::UndarkValue;

constexpr char kMessageTable[] = "ZWAMESSAGE";
constexpr char kLidPairTable[] = "ZWAPHONENUMBERLIDPAIR";
constexpr std::string_view kLidSuffix = "@lid";
constexpr std::size_t kKeyTextUnits = 80;

// ZWAMESSAGE by position, as iOS 15 stores it; a recovered row carries no
// names, so its values are read by these positions.
constexpr std::size_t kRowIdValue = 0;
constexpr std::size_t kIsFromMeValue = 12;
constexpr std::size_t kMessageDateValue = 25;
constexpr std::size_t kFromJidValue = 27;
constexpr std::size_t kPushNameValue = 30;
constexpr std::size_t kStanzaIdValue = 31;
constexpr std::size_t kTextValue = 32;
constexpr std::size_t kToJidValue = 33;

// The columns a recovered row is read by, and ZSTANZAID, which the layout
// checks. A store that has other columns there would have its values read
// into the wrong fields.
constexpr readers::RecoveredColumn kRecoveredColumns[] = {
    {kIsFromMeValue, "ZISFROMME"}, {kMessageDateValue, "ZMESSAGEDATE"}, {kFromJidValue, "ZFROMJID"},
    {kPushNameValue, "ZPUSHNAME"}, {kStanzaIdValue, "ZSTANZAID"},       {kTextValue, "ZTEXT"},
    {kToJidValue, "ZTOJID"},
};

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

// The layout checks only Z_ENT, the date and that ZSTANZAID is a text, which
// the bytes of the schema and of other tables can satisfy: the real iOS 15
// file holds three such rows, with BLOB "addresses" and dates of 0, and the
// schema page of a new store yields a few more. A message always has a
// stanza id (a short identifier, never empty, without zero bytes), and its
// addresses, name and text are texts or NULL.
bool LooksLikeMessage(const UndarkRow& row) {
  const UndarkValue& stanzaId = row[kStanzaIdValue];
  if (stanzaId.type != db::undark::kTypeText || stanzaId.text.empty() ||
      stanzaId.text.find('\0') != std::string::npos) {
    return false;
  }
  return IsTextOrNull(row[kFromJidValue]) && IsTextOrNull(row[kPushNameValue]) && IsTextOrNull(row[kTextValue]) &&
         IsTextOrNull(row[kToJidValue]);
}

// The conversation a message belongs to. A sent message names its peer in
// ZTOJID; a received one leaves ZTOJID empty and names the peer (a person,
// or the group it came through) in ZFROMJID. Only a message with neither
// falls back to the sender's push name.
void SetPeerAddress(DBITEM_WhatsApp& message) {
  if (message.toJid.empty()) message.toJid = !message.fromJid.empty() ? message.fromJid : message.pushName;
}

std::unique_ptr<DBITEM_WhatsApp> MessageFromRow(const UndarkRow& row) {
  auto message = std::make_unique<DBITEM_WhatsApp>();
  message->rowId = static_cast<std::int32_t>(row[kRowIdValue].number);
  // The direction is in the record like every other column; leaving it 0
  // would show every recovered message as received.
  const UndarkValue& isFromMe = row[kIsFromMeValue];
  if (IsInteger(isFromMe)) message->isFromMe = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(isFromMe));
  message->time = UnixSeconds(db::undark::UndarkValueToInt64(row[kMessageDateValue]));
  message->fromJid = db::undark::UndarkValueText(row[kFromJidValue]);
  message->pushName = db::undark::UndarkValueText(row[kPushNameValue]);
  message->text = db::undark::UndarkValueText(row[kTextValue]);
  message->toJid = db::undark::UndarkValueText(row[kToJidValue]);
  SetPeerAddress(*message);
  message->deleted = 1;
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
  ConversationFor(message->toJid).Append(std::move(message));
}

void CWhatsAppDB::RecoverDeletedMessages() {
  recoveredMessages_.clear();
  if (columnCount_ < kWhatsAppMessageColumns) return;
  readers::ScanTableRows(*this, kMessageTable, kWhatsAppMessageLayout, columnCount_, kRecoveredColumns,
                         [&](UndarkRow& row) {
                           if (LooksLikeMessage(row)) recoveredMessages_.push_back(MessageFromRow(row));
                         });
}

void CWhatsAppDB::MergeRecoveredMessages() {
  db::MergeRecoveredIntoGroups(
      conversations_, std::move(recoveredMessages_),
      // A copy of a live (or an already kept) message: the scan meets every
      // live record as well, and may meet a record twice.
      [this](const DBITEM_WhatsApp& message) { return messageKeys_.insert(MessageKey(message)).second; },
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
