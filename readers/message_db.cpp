#include "readers/message_db.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <span>
#include <utility>

#include "backup/encrypted_backup.h"
#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/typedstream.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/address_book_db.h"
#include "readers/attachment_db.h"
#include "readers/live_table.h"
#include "readers/recovered_row.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

using db::undark::UndarkRow;
using db::undark::UndarkValue;

const char* const kTableNames[] = {
    "message",
    "handle",
};

constexpr char kUnknownAddressPrefix[] = "未知号码_";
constexpr std::size_t kKeyTextUnits = 80;
// The display name the contacts reader gives a person without any name.
constexpr char kUnnamedContact[] = "未知联系人";
// chat.style of a group chat (a one-to-one chat has 45).
constexpr std::int32_t kGroupChatStyle = 43;
// Between the names of a group's members when the group has no name.
constexpr char kMemberSeparator[] = "、";

// Where the columns a rebuilt message is read from sit in a recovered row:
// their positions in the live table, -1 for a column the table lacks (that
// field stays empty).
struct RecoveredMessageColumns {
  int rowId, guid, text, attributedBody, handleId, account, date, isFromMe, isSent, destinationCallerId;
  bool operator==(const RecoveredMessageColumns&) const = default;
};

// iOS 7's message table (38 columns, dates in seconds, no
// destination_caller_id), which the numbered layout was made for: the
// columns read sit at these positions.
constexpr int kIos7MessageColumns = 38;
constexpr RecoveredMessageColumns kIos7Positions = {0, 1, 2, 8, 5, 12, 15, 21, 28, -1};

RecoveredMessageColumns ColumnsByName(const LiveTable& table) {
  return {table.Index("ROWID"),      table.Index("guid"),       table.Index("text"),
          table.Index("attributedBody"), table.Index("handle_id"), table.Index("account"),
          table.Index("date"),       table.Index("is_from_me"), table.Index("is_sent"),
          table.Index("destination_caller_id")};
}

// The value of a recovered row's column; NULL for a column the table lacks.
const UndarkValue& At(const UndarkRow& row, int column) {
  static const UndarkValue kNone;
  return column >= 0 && static_cast<std::size_t>(column) < row.size() ? row[static_cast<std::size_t>(column)] : kNone;
}

// Messages are dated from the phone's epoch (2001) on; a date before it, or
// after 2100, is bytes of another kind that passed the column rules.

// Text of a recovered value. Only a TEXT value is a text: the number a
// damaged header might put in a text column is no message body.
std::string ValueText(const UndarkValue& value) {
  return value.type == db::undark::kTypeText ? db::RepairUtf8(value.text) : std::string();
}

// The low 32 bits of a recovered number, as the live columns are read.
std::int32_t ValueInt32(const UndarkValue& value) {
  return static_cast<std::int32_t>(db::undark::UndarkValueToInt64(value));
}

// A NULL flag reads as 0 here as in a live row; the scanner's -1 for NULL
// would turn a received message into a sent one.
bool ValueFlag(const UndarkValue& value) {
  return value.type != db::undark::kTypeNull && ValueInt32(value) != 0;
}

std::span<const std::uint8_t> ValueBytes(const UndarkValue& value) {
  if (value.type != db::undark::kTypeBlob) return {};
  return {reinterpret_cast<const std::uint8_t*>(value.text.data()), value.text.size()};
}

bool IsUuidText(const UndarkValue& value) {
  return value.type == db::undark::kTypeText && db::IsUuidText(value.text);
}

// The row id of a recovered row: the integer primary key's value, -1 when
// it is unknown (the start of the cell was overwritten; the numbered layout
// gives 0, and the table counts from 1).
std::int32_t RowIdOf(const UndarkValue& value) {
  if (value.type != db::undark::kTypeRowId || value.text.empty()) return -1;
  const long long rowId = std::strtoll(value.text.c_str(), nullptr, 10);
  return rowId >= 1 && rowId <= INT32_MAX ? static_cast<std::int32_t>(rowId) : -1;
}

// The message of a recovered row, or nothing when the row does not look like
// a message: every message has a textual UUID guid (a row whose guid is not
// one is bytes that merely passed the layout's serial-type rules: the real
// iOS 7 sms.db holds such a remnant of a rewritten record, with its columns
// shifted) and a date.
std::unique_ptr<DBITEM_Message> MessageFromRow(const UndarkRow& row, const RecoveredMessageColumns& columns) {
  if (!IsUuidText(At(row, columns.guid))) return nullptr;
  const double time = db::UnixFromAppleDate(db::undark::UndarkValueToInt64(At(row, columns.date)));
  if (!(time >= db::kAppleEpochOffsetSeconds && time < kLatestPlausibleTime)) return nullptr;
  auto message = std::make_unique<DBITEM_Message>();
  message->rowId = RowIdOf(At(row, columns.rowId));
  message->guid = ValueText(At(row, columns.guid));
  message->text = ValueText(At(row, columns.text));
  if (message->text.empty()) message->text = db::AttributedBodyText(ValueBytes(At(row, columns.attributedBody)));
  message->handleId = ValueInt32(At(row, columns.handleId));
  message->account = ValueText(At(row, columns.account));
  message->time = time;
  message->isSent = ValueFlag(At(row, columns.isFromMe)) || ValueFlag(At(row, columns.isSent)) ? 1 : 0;
  message->destinationCallerId = ValueText(At(row, columns.destinationCallerId));
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
  switch (tableKind) {
    case kMessageKind:
      ParseMessageRow(query);
      return;
    case kHandleKind: {
      Handle& handle = handles_[query.GetInt64Field(query.FieldIndex("ROWID"))];
      handle.id = db::FieldText(query, "id");
      handle.address = db::FieldText(query, "uncanonicalized_id");
      if (handle.address.empty()) handle.address = handle.id;
      return;
    }
    case kChatKind: {
      Chat& chat = chats_[query.GetInt64Field(query.FieldIndex("ROWID"))];
      chat.guid = db::FieldText(query, "guid");
      chat.identifier = db::FieldText(query, "chat_identifier");
      chat.displayName = db::FieldText(query, "display_name");
      chat.style = query.GetIntField(query.FieldIndex("style"));
      return;
    }
    case kChatMemberKind: {
      const auto chat = chats_.find(query.GetInt64Field(query.FieldIndex("chat_id")));
      if (chat != chats_.end()) chat->second.members.push_back(query.GetInt64Field(query.FieldIndex("handle_id")));
      return;
    }
    case kChatMessageKind:
      // A message in two chats (it happens after a chat was merged) stays in
      // the first.
      chatOfMessage_.try_emplace(query.GetInt64Field(1), ChatLink{query.GetInt64Field(0), 0});
      return;
    case kRecoverableKind: {
      const std::int64_t deleted = query.GetInt64Field(2);
      recentlyDeleted_.try_emplace(query.GetInt64Field(1),
                                   ChatLink{query.GetInt64Field(0), deleted > 0 ? db::UnixFromAppleDate(deleted) : 0});
      return;
    }
    case kSmsAttachmentKind:
      attachments_.push_back(ParseSmsAttachmentRow(query));
      return;
    default:
      CDbSqlite::ParseRow(tableKind, out, query);
  }
}

void CMessageDB::ParseMessageRow(db::CppSQLite3Query& query) {
  if (!columnsFound_) {
    columns_ = {query.FieldIndex("ROWID"),     query.FieldIndex("guid"),       query.FieldIndex("text"),
                query.FieldIndex("attributedBody"), query.FieldIndex("handle_id"), query.FieldIndex("account"),
                query.FieldIndex("date"),      query.FieldIndex("is_sent"),    query.FieldIndex("is_from_me"),
                query.FieldIndex("destination_caller_id")};
    columnsFound_ = true;
  }
  auto message = std::make_unique<DBITEM_Message>();
  message->rowId = query.GetIntField(columns_.rowId);
  message->guid = db::FieldText(query, columns_.guid);
  message->text = db::FieldText(query, columns_.text);
  if (message->text.empty()) message->text = db::AttributedBodyText(query.GetFieldBlob(columns_.attributedBody));
  message->handleId = query.GetIntField(columns_.handleId);
  message->account = db::FieldText(query, columns_.account);
  message->time = db::UnixFromAppleDate(query.GetInt64Field(columns_.date));
  message->isSent = query.GetIntField(columns_.isSent) != 0 || query.GetIntField(columns_.isFromMe) != 0 ? 1 : 0;
  message->destinationCallerId = db::FieldText(query, columns_.destinationCallerId);
  AddToConversation(std::move(message));
}

base::Status CMessageDB::Open(const std::string& path, int param) {
  ownNumberFriend_->name = kOwnNumberName;
  // Every Open starts from nothing: the maps point into the conversations,
  // so they go together.
  Reset();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam != 0) return {};

  db::ItemList none;
  Query(kHandleKind, "SELECT * FROM handle;", none);
  LoadChats();
  LoadAttachments();

  messageColumnCount_ = LoadTable(kMessageKind, rows);
  // The links served the live rows; a rebuilt row has lost its link. A
  // phone's worth of them is worth giving back before the scan.
  std::unordered_map<std::int64_t, ChatLink>().swap(chatOfMessage_);
  std::unordered_map<std::int64_t, ChatLink>().swap(recentlyDeleted_);
  // Conversations holding messages from Recently Deleted come first, as
  // those holding rebuilt ones will.
  std::stable_partition(conversations_.begin(), conversations_.end(),
                        [](const auto& conversation) { return conversation->deleted != 0; });
  RecoverDeletedMessages();
  MergeDeletedMessages();
  return {};
}

void CMessageDB::LoadChats() {
  db::ItemList none;
  if (!HasTable("chat")) return;
  Query(kChatKind, "SELECT * FROM chat;", none);
  if (HasTable("chat_handle_join")) {
    Query(kChatMemberKind, "SELECT * FROM chat_handle_join ORDER BY rowid;", none);
  }
  if (HasTable("chat_message_join")) {
    Query(kChatMessageKind, "SELECT chat_id, message_id FROM chat_message_join;", none);
  }
  if (HasTable("chat_recoverable_message_join")) {
    Query(kRecoverableKind, "SELECT chat_id, message_id, delete_date FROM chat_recoverable_message_join;", none);
  }
}

void CMessageDB::LoadAttachments() {
  if (!HasTable("attachment")) return;
  db::ItemList none;
  Query(kSmsAttachmentKind, HasTable("message_attachment_join") ? kSmsAttachmentsSql : kSmsAttachmentsAloneSql,
        none);
  SmsAttachmentFiles files(index_);
  for (auto& attachment : attachments_) {
    attachment->storedPath = files.StoredPathOf(attachment->relativePath);
    if (attachment->messageId != 0) attachmentsOf_[attachment->messageId].push_back(attachment.get());
  }
}

void CMessageDB::Reset() {
  messageByKey_.clear();
  knownGuids_.clear();
  conversationByAddress_.clear();
  conversationByChat_.clear();
  handles_.clear();
  chats_.clear();
  chatOfMessage_.clear();
  recentlyDeleted_.clear();
  attachmentsOf_.clear();
  recoveredMessages_.clear();
  while (!conversations_.empty()) conversations_.pop_back();
  members_.clear();
  attachments_.clear();
  columnsFound_ = false;
  messageColumnCount_ = 0;
}

bool CMessageDB::IsGroup(const Chat& chat) const {
  return chat.style == kGroupChatStyle || chat.members.size() > 1;
}

const std::string& CMessageDB::HandleAddress(std::int64_t handleId) const {
  static const std::string kNone;
  const auto found = handles_.find(handleId);
  return found == handles_.end() ? kNone : found->second.address;
}

std::string CMessageDB::NameOf(const std::string& address) const {
  if (contacts_ != nullptr) {
    const DBITEM_AdrBFriend* contact = contacts_->FindContactByNumber(address);
    // A contact without a name of its own would hide the number, and give
    // every such peer the same name in the list and in the export.
    if (contact != nullptr && !contact->displayName.empty() && contact->displayName != kUnnamedContact) {
      return contact->displayName;
    }
  }
  return address;
}

DBITEM_MsgFriend& CMessageDB::ConversationFor(const std::string& address) {
  const auto found = conversationByAddress_.find(address);
  if (found != conversationByAddress_.end()) return *found->second;

  auto conversation = std::make_unique<DBITEM_MsgFriend>();
  conversation->address = address;
  conversation->name = NameOf(address);
  DBITEM_MsgFriend& created = *conversation;
  conversationByAddress_.emplace(address, &created);
  // A conversation made for a recovered message goes to the front; the
  // merge settles that order once it is done.
  conversations_.push_back(std::move(conversation));
  return created;
}

DBITEM_MsgFriend& CMessageDB::GroupConversationFor(std::int64_t chatId, const Chat& chat) {
  const auto found = conversationByChat_.find(chatId);
  if (found != conversationByChat_.end()) return *found->second;

  auto conversation = std::make_unique<DBITEM_MsgFriend>();
  conversation->isGroup = true;
  conversation->address = chat.guid.empty() ? chat.identifier : chat.guid;
  for (std::int64_t member : chat.members) {
    const std::string& address = HandleAddress(member);
    if (!address.empty()) conversation->members.push_back(NameOf(address));
  }
  conversation->name = chat.displayName;
  if (conversation->name.empty()) {
    for (const std::string& member : conversation->members) {
      if (!conversation->name.empty()) conversation->name += kMemberSeparator;
      conversation->name += member;
    }
  }
  if (conversation->name.empty()) conversation->name = chat.identifier;
  DBITEM_MsgFriend& created = *conversation;
  conversationByChat_.emplace(chatId, &created);
  conversations_.push_back(std::move(conversation));
  return created;
}

DBITEM_MsgFriend* CMessageDB::MemberFor(const std::string& address) {
  auto& member = members_[address];
  if (!member) {
    member = std::make_unique<DBITEM_MsgFriend>();
    member->address = address;
    member->name = NameOf(address);
  }
  return member.get();
}

DBITEM_MsgFriend& CMessageDB::PrepareForFiling(DBITEM_Message& message, const ChatLink* link) {
  const auto handle = handles_.find(message.handleId);
  if (handle != handles_.end()) {
    message.address = handle->second.address;
    message.handleText = handle->second.id;
  }
  const auto chat = link != nullptr ? chats_.find(link->chatId) : chats_.end();
  DBITEM_MsgFriend* conversation = nullptr;
  if (chat != chats_.end() && IsGroup(chat->second)) {
    conversation = &GroupConversationFor(chat->first, chat->second);
  } else {
    // A one-to-one chat is its peer's conversation: the member it lists,
    // else the handle of the message, else the chat's own identifier.
    std::string address;
    if (chat != chats_.end() && chat->second.members.size() == 1) address = HandleAddress(chat->second.members[0]);
    if (address.empty()) address = message.address;
    if (address.empty() && chat != chats_.end()) address = chat->second.identifier;
    if (address.empty()) address = kUnknownAddressPrefix + std::to_string(message.handleId);
    conversation = &ConversationFor(address);
  }
  if (message.address.empty()) message.address = conversation->address;
  message.parent = conversation;
  if (message.isSent != 0) {
    message.sender = ownNumberFriend_.get();
  } else if (conversation->isGroup && handle != handles_.end()) {
    message.sender = MemberFor(message.address);
  } else {
    message.sender = conversation;
  }
  conversation->time = message.time;
  if (message.deleted != 0) {
    ++conversation->deletedMessageCount;
    conversation->deleted = 1;
  }
  LinkAttachments(message);
  return *conversation;
}

void CMessageDB::LinkAttachments(DBITEM_Message& message) const {
  const auto found = attachmentsOf_.find(message.rowId);
  if (found != attachmentsOf_.end()) message.attachments = found->second;
}

void CMessageDB::AddToConversation(std::unique_ptr<DBITEM_Message> message) {
  const ChatLink* link = nullptr;
  if (const auto linked = chatOfMessage_.find(message->rowId); linked != chatOfMessage_.end()) {
    link = &linked->second;
  } else if (const auto kept = recentlyDeleted_.find(message->rowId); kept != recentlyDeleted_.end()) {
    // Deleted by the owner and kept by the phone for about a month: a row
    // like any other, whose chat link moved to the recoverable join.
    link = &kept->second;
    message->deleted = 1;
    message->deletedFrom = db::BaseItem::DeletedFrom::kRecentlyDeleted;
    message->deletedAt = kept->second.deletedAt;
  }
  messageByKey_[MessageKey(*message)] = message.get();
  if (!message->guid.empty()) knownGuids_.insert(message->guid);
  PrepareForFiling(*message, link).File(std::move(message), false);
}

void CMessageDB::RecoverDeletedMessages() {
  recoveredMessages_.clear();
  // Without the live table no recovered row could be told from junk.
  if (messageColumnCount_ == 0) return;
  const std::optional<LiveTable> table = LiveTable::Read(*this, "message");
  if (!table) return;
  const RecoveredMessageColumns columns = ColumnsByName(*table);
  const auto keep = [this, &columns](UndarkRow& row, const RowPlace& place) {
    std::unique_ptr<DBITEM_Message> message = MessageFromRow(row, columns);
    if (message == nullptr) return;
    if (place.inWal) message->deletedFrom = db::BaseItem::DeletedFrom::kWal;
    recoveredMessages_.push_back(std::move(message));
  };
  if (messageColumnCount_ == kIos7MessageColumns && columns == kIos7Positions) {
    ScanTableRows(*this, "message", kMessageLayout, messageColumnCount_, {}, keep);
  } else {
    // Every later table (68 to 84 columns from iOS 13 to 18, dates and read
    // dates in nanoseconds) is scanned with the layout made from its live
    // shape, and read by column name.
    ScanLiveTable(*this, *table, keep);
  }
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
  // A rebuilt message has lost its chat link with its row: its handle's
  // address decides, or "未知号码_" and the handle number when the handle
  // went too.
  const auto conversationOf = [&](DBITEM_Message& message) -> DBITEM_MsgFriend& {
    return PrepareForFiling(message, nullptr);
  };
  db::MergeRecoveredIntoGroups(
      conversations_, std::move(recoveredMessages_), isNew, conversationOf,
      [](DBITEM_MsgFriend& conversation, std::vector<std::unique_ptr<DBITEM_Message>> messages) {
        conversation.FileAtFront(std::move(messages));
      });
  recoveredMessages_.clear();
}

namespace {

// The attachment files of one export, copied once each into the page
// folder's "附件" (two messages may name one file).
class AttachmentCopies {
 public:
  // progress (may be null) stops a long copy when the run is asked to stop.
  AttachmentCopies(const std::filesystem::path& exportFolder, const exporting::IExportProgress* progress)
      : pages_(exportFolder.empty() ? std::filesystem::path() : exportFolder / "网页格式"), progress_(progress) {}

  // The markup that shows or links a message's attachments in its row.
  std::string Markup(const DBITEM_Message& message) {
    std::string markup;
    // The CSV has no column for who wrote in a group; the page names them.
    const auto* conversation = dynamic_cast<const DBITEM_MsgFriend*>(message.parent);
    const auto* author = dynamic_cast<const DBITEM_MsgFriend*>(message.sender);
    if (conversation != nullptr && conversation->isGroup && message.isSent == 0 && author != nullptr &&
        author != conversation) {
      markup += "<br/><small>" + exporting::EscapeHtml(author->name) + "</small>";
    }
    if (message.deleted != 0 && message.deletedFrom == db::BaseItem::DeletedFrom::kRecentlyDeleted) {
      markup += "<br/><small>最近删除";
      if (message.deletedAt != 0) markup += " " + exporting::EscapeHtml(db::FormatItemTime(message.deletedAt));
      markup += "</small>";
    }
    for (const DBITEM_SmsAttachment* attachment : message.attachments) {
      const std::string name = exporting::EscapeHtml(attachment->name);
      const std::string href = Copy(*attachment);
      if (href.empty()) {
        markup += "<br/>附件：" + name + "（备份中没有此文件）";
      } else if (SmsAttachmentType(*attachment) == kAttachmentImage) {
        markup += "<br/><a href=\"" + href + "\" target=\"_blank\"><img src=\"" + href +
                  "\" style=\"max-width:240px;max-height:240px\" alt=\"" + name + "\"/></a>";
      } else {
        markup += "<br/>附件：<a href=\"" + href + "\" target=\"_blank\">" + name + "</a>";
      }
    }
    return markup;
  }

 private:
  // The href of the attachment's copy, or empty when there is no file to copy
  // or no folder to copy it to (or the copy failed).
  std::string Copy(const DBITEM_SmsAttachment& attachment) {
    if (pages_.empty() || attachment.storedPath.empty()) return {};
    const auto known = hrefByFile_.find(attachment.storedPath);
    if (known != hrefByFile_.end()) return known->second;
    std::string href;
    const std::filesystem::path folder = pages_ / kAttachmentFolder;
    std::filesystem::path copied;
    const exporting::FileNameParts parts = exporting::SafeFileNameParts(attachment.name);
    if (!parts.stem.empty() && backup::ReadyStoredFile(attachment.storedPath) && exporting::MakeExportFolder(folder) &&
        exporting::CopyUnderFreeName(attachment.storedPath, folder, parts, progress_, &copied)) {
      href = exporting::FileHref(std::string(kAttachmentFolder) + "/" + copied.filename().string());
    }
    hrefByFile_.emplace(attachment.storedPath, href);
    return href;
  }

  static constexpr char kAttachmentFolder[] = "附件";
  std::filesystem::path pages_;
  const exporting::IExportProgress* progress_;
  std::unordered_map<std::string, std::string> hrefByFile_;
};

}  // namespace

void WriteMessagesCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection) {
  // The list page is laid out by BeginList; without it the page stays empty.
  std::size_t lines = 0;
  for (const db::BaseItem* item : selection) {
    if (const auto* conversation = dynamic_cast<const DBITEM_MsgFriend*>(item)) lines += conversation->items.size();
  }
  writer.BeginList(std::max<int>(1, static_cast<int>(lines)));
  writer.SetHeader("名称,日期,类型,内容\r\n");
  AttachmentCopies copies(writer.Folder(), writer.Progress());
  for (const db::BaseItem* item : selection) {
    const auto* conversation = dynamic_cast<const DBITEM_MsgFriend*>(item);
    if (conversation == nullptr) continue;
    const std::string name = db::CsvField(conversation->name);
    for (const db::BaseItem* member : conversation->items) {
      // Before the line and the attachments it copies.
      if (writer.Cancelled()) return;
      const auto* message = dynamic_cast<const DBITEM_Message*>(member);
      if (message == nullptr) continue;
      const std::string line = name + "," + db::FormatItemTime(message->time) + "," +
                               (message->isSent != 0 ? "发送" : "接收") + "," + db::CsvQuoteField(message->text) +
                               "\r\n";
      writer.AddLine(exporting::kToCsvAndHtml, line, message->deleted != 0, copies.Markup(*message));
    }
  }
}

}  // namespace readers
