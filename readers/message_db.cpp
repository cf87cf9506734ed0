#include "readers/message_db.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/address_book_db.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

using db::undark::UndarkRow;
using db::undark::UndarkValue;

const char* const kTableNames[] = {
    "message inner join handle on message.handle_id=handle.ROWID",
    "handle",
};

constexpr char kHandleLookupSql[] = "Select uncanonicalized_id,id From handle where ROWID=?;";
constexpr char kUnknownAddressPrefix[] = "未知号码_";
constexpr std::size_t kKeyTextUnits = 80;
// The display name the contacts reader gives a person without any name.
constexpr char kUnnamedContact[] = "未知联系人";

// Message table columns by position, the same from iOS 7 to 17; a recovered
// row is read by position since it carries no names.
constexpr std::size_t kRowIdColumn = 0;
constexpr std::size_t kGuidColumn = 1;
constexpr std::size_t kTextColumn = 2;
constexpr std::size_t kHandleIdColumn = 5;
constexpr std::size_t kAccountColumn = 12;
constexpr std::size_t kDateColumn = 15;
constexpr std::size_t kIsSentColumn = 28;
// A row must reach is_sent to be read at all.
constexpr std::size_t kMinRecoveredValues = kIsSentColumn + 1;

std::string TextField(const db::CppSQLite3Query& query, const char* name) {
  return db::RepairUtf8(query.GetStringField(query.FieldIndex(name)));
}

// Text of a recovered value. Only a TEXT value is a text: the number a
// damaged header might put in a text column is no message body.
std::string ValueText(const UndarkValue& value) {
  return value.type == db::undark::kTypeText ? db::RepairUtf8(value.text) : std::string();
}

// The low 32 bits of a recovered number, as the live columns are read.
std::int32_t ValueInt32(const UndarkValue& value) {
  return static_cast<std::int32_t>(db::undark::UndarkValueToInt64(value));
}

// Every message guid is a textual UUID; a row whose guid is not one is bytes
// that merely passed the layout's serial-type rules (the real iOS 7 sms.db
// holds such a remnant of a rewritten record, with its columns shifted).
bool IsUuidText(const UndarkValue& value) {
  constexpr std::size_t kUuidLength = 36;
  if (value.type != db::undark::kTypeText || value.text.size() != kUuidLength) return false;
  for (std::size_t i = 0; i < kUuidLength; ++i) {
    const char c = value.text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (dash ? c != '-' : !hex) return false;
  }
  return true;
}

std::unique_ptr<DBITEM_Message> MessageFromRow(const UndarkRow& row) {
  auto message = std::make_unique<DBITEM_Message>();
  message->rowId = ValueInt32(row[kRowIdColumn]);
  message->guid = ValueText(row[kGuidColumn]);
  message->text = ValueText(row[kTextColumn]);
  message->handleId = ValueInt32(row[kHandleIdColumn]);
  message->account = ValueText(row[kAccountColumn]);
  message->time = db::UnixFromAppleDate(db::undark::UndarkValueToInt64(row[kDateColumn]));
  // A NULL is_sent reads as 0 here as in a live row; the scanner's -1 for
  // NULL would turn a received message into a sent one.
  const UndarkValue& isSent = row[kIsSentColumn];
  message->isSent = isSent.type == db::undark::kTypeNull ? 0 : ValueInt32(isSent);
  message->deleted = 1;
  return message;
}

}  // namespace

void DBITEM_MsgFriend::FileAtFront(std::vector<std::unique_ptr<DBITEM_Message>> messages) {
  db::PrependOwned(items, messages_, std::move(messages));
}

DBITEM_Message* DBITEM_MsgFriend::File(std::unique_ptr<DBITEM_Message> message, bool atFront) {
  DBITEM_Message* filed = message.get();
  messages_.push_back(std::move(message));
  if (atFront) {
    items.insert(items.begin(), filed);
  } else {
    items.push_back(filed);
  }
  return filed;
}

std::string MessageKey(const DBITEM_Message& message) {
  // Time and handle have fixed shapes without '|', so the separators keep
  // handle 1 with text "23" apart from handle 12 with text "3". A time comes
  // from a 64-bit value, so "%f" needs at most 27 characters here.
  char head[96];
  std::snprintf(head, sizeof head, "%f|%d|", message.time, message.handleId);
  return head + db::LeftUtf16(message.text, kKeyTextUnits);
}

CMessageDB::CMessageDB(backup::CFileListDB* index, const CAddressBookDB* contacts)
    : index_(index), contacts_(contacts), ownNumberFriend_(std::make_unique<DBITEM_MsgFriend>()) {
  ownNumberFriend_->name = kOwnNumberName;
}

CMessageDB::~CMessageDB() = default;

std::string CMessageDB::GetTableName(int tableKind) {
  if (openParam != 0 || tableKind < 0 || tableKind >= static_cast<int>(std::size(kTableNames))) return {};
  return kTableNames[tableKind];
}

void CMessageDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (tableKind == kMessageJoinKind) {
    auto message = std::make_unique<DBITEM_Message>();
    message->rowId = query.GetIntField(0);
    message->guid = db::RepairUtf8(query.GetStringField(1));
    message->text = db::RepairUtf8(query.GetStringField(2));
    message->handleId = query.GetIntField(query.FieldIndex("handle_id"));
    message->account = TextField(query, "account");
    message->time = db::UnixFromAppleDate(query.GetInt64Field(query.FieldIndex("date")));
    message->isSent = query.GetIntField(query.FieldIndex("is_sent"), 0);
    message->destinationCallerId = TextField(query, "destination_caller_id");
    message->address = TextField(query, "uncanonicalized_id");
    message->handleText = TextField(query, "id");
    if (message->address.empty()) message->address = message->handleText;
    AddToConversation(std::move(message));
    return;
  }
  if (tableKind == kHandleKind) {
    auto handle = std::make_unique<DBITEM_handle>();
    handle->address = TextField(query, "uncanonicalized_id");
    if (handle->address.empty()) handle->address = TextField(query, "id");
    out = std::move(handle);
    return;
  }
  CDbSqlite::ParseRow(tableKind, out, query);
}

base::Status CMessageDB::Open(const std::string& path, int param) {
  ownNumberFriend_->name = kOwnNumberName;
  // Every Open starts from nothing: the maps point into the conversations,
  // so they go together.
  Reset();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam != 0) return {};

  const int joinedColumns = LoadTable(kMessageJoinKind, rows);
  // The joined rows carry the handle's columns after the message's. Their
  // number grew from five to six with iOS 11 (person_centric_id), so it is
  // counted rather than assumed: with one column too many the scanner would
  // read the first body byte as a serial type and shift every value.
  db::ItemList handles;
  const int handleColumns = joinedColumns > 0 ? LoadTable(kHandleKind, handles) : 0;
  messageColumnCount_ = handleColumns > 0 && joinedColumns > handleColumns ? joinedColumns - handleColumns : 0;

  RecoverDeletedMessages();
  MergeDeletedMessages();
  return {};
}

void CMessageDB::Reset() {
  messageByKey_.clear();
  knownGuids_.clear();
  conversationByAddress_.clear();
  recoveredMessages_.clear();
  while (!conversations_.empty()) conversations_.pop_back();
  messageColumnCount_ = 0;
}

DBITEM_MsgFriend& CMessageDB::ConversationFor(const std::string& address) {
  const auto found = conversationByAddress_.find(address);
  if (found != conversationByAddress_.end()) return *found->second;

  auto conversation = std::make_unique<DBITEM_MsgFriend>();
  conversation->address = address;
  conversation->name = address;
  if (contacts_ != nullptr) {
    const DBITEM_AdrBFriend* contact = contacts_->FindContactByNumber(address);
    // A contact without a name of its own would hide the number, and give
    // every such peer the same name in the list and in the export.
    if (contact != nullptr && !contact->displayName.empty() && contact->displayName != kUnnamedContact) {
      conversation->name = contact->displayName;
    }
  }
  DBITEM_MsgFriend& created = *conversation;
  conversationByAddress_.emplace(address, &created);
  // A conversation made for a recovered message goes to the front; the
  // merge settles that order once it is done.
  conversations_.push_back(std::move(conversation));
  return created;
}

DBITEM_MsgFriend& CMessageDB::PrepareForFiling(DBITEM_Message& message) {
  DBITEM_MsgFriend& conversation = ConversationFor(message.address);
  message.parent = &conversation;
  message.sender = message.isSent != 0 ? ownNumberFriend_.get() : &conversation;
  conversation.time = message.time;
  return conversation;
}

void CMessageDB::AddToConversation(std::unique_ptr<DBITEM_Message> message) {
  messageByKey_[MessageKey(*message)] = message.get();
  if (!message->guid.empty()) knownGuids_.insert(message->guid);
  PrepareForFiling(*message).File(std::move(message), false);
}

void CMessageDB::RecoverDeletedMessages() {
  recoveredMessages_.clear();
  // Without the live column count no recovered row could be told from junk.
  if (messageColumnCount_ < static_cast<int>(kMinRecoveredValues)) return;
  ScanTableRows(*this, "message", kMessageLayout, messageColumnCount_, {}, [&](UndarkRow& row) {
    if (IsUuidText(row[kGuidColumn])) recoveredMessages_.push_back(MessageFromRow(row));
  });
}

void CMessageDB::MergeDeletedMessages() {
  const auto isNew = [this](DBITEM_Message& message) {
    // A copy of a live (or already kept) message: the scanner finds live
    // records too, and a record can be found twice.
    std::string key = MessageKey(message);
    if (messageByKey_.count(key) != 0) return false;
    // The guid is unique in the table, so a record with a known guid is an
    // older copy of that message, left behind when SQLite moved or rewrote
    // the record. Parts of such a copy may since have been overwritten (a
    // date read from foreign bytes), so its key need not match.
    if (knownGuids_.count(message.guid) != 0) return false;
    messageByKey_.emplace(std::move(key), &message);
    if (!message.guid.empty()) knownGuids_.insert(message.guid);
    return true;
  };
  std::map<std::int32_t, std::string> addressByHandle;
  const auto conversationOf = [&](DBITEM_Message& message) -> DBITEM_MsgFriend& {
    auto known = addressByHandle.find(message.handleId);
    if (known == addressByHandle.end()) {
      db::ItemList handles;
      QueryKindOne(kHandleLookupSql, handles, {db::SqlValue(std::int64_t{message.handleId})});
      std::string address;
      if (!handles.empty()) address = static_cast<const DBITEM_handle&>(*handles.front()).address;
      known = addressByHandle.emplace(message.handleId, std::move(address)).first;
    }
    message.address = known->second;
    if (message.address.empty()) message.address = kUnknownAddressPrefix + std::to_string(message.handleId);
    DBITEM_MsgFriend& conversation = PrepareForFiling(message);
    ++conversation.deletedMessageCount;
    conversation.deleted = 1;
    return conversation;
  };
  db::MergeRecoveredIntoGroups(
      conversations_, std::move(recoveredMessages_), isNew, conversationOf,
      [](DBITEM_MsgFriend& conversation, std::vector<std::unique_ptr<DBITEM_Message>> messages) {
        conversation.FileAtFront(std::move(messages));
      });
  recoveredMessages_.clear();
}

void WriteMessagesCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection) {
  // The list page is laid out by BeginList; without it the page stays empty.
  std::size_t lines = 0;
  for (const db::BaseItem* item : selection) {
    if (const auto* conversation = dynamic_cast<const DBITEM_MsgFriend*>(item)) lines += conversation->items.size();
  }
  writer.BeginList(std::max<int>(1, static_cast<int>(lines)));
  writer.SetHeader("名称,日期,类型,内容\r\n");
  for (const db::BaseItem* item : selection) {
    const auto* conversation = dynamic_cast<const DBITEM_MsgFriend*>(item);
    if (conversation == nullptr) continue;
    const std::string name = db::CsvField(conversation->name);
    for (const db::BaseItem* member : conversation->items) {
      const auto* message = dynamic_cast<const DBITEM_Message*>(member);
      if (message == nullptr) continue;
      const std::string line = name + "," + db::FormatItemTime(message->time) + "," +
                               (message->isSent != 0 ? "发送" : "接收") + "," + db::CsvQuoteField(message->text) +
                               "\r\n";
      writer.AddLine(exporting::kToCsvAndHtml, line, message->deleted != 0);
    }
  }
}

}  // namespace readers
