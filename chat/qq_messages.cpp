#include "chat/qq_messages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/db_sqlite.h"
#include "db/merge_recovered.h"
#include "db/progress.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/paths.h"
#include "readers/live_table.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using db::undark::UndarkRow;
using db::undark::UndarkValueText;
using db::undark::UndarkValueToInt64;

// Table kinds of QQ.db's message tables.
constexpr int kOneToOneKind = 2;
constexpr int kGroupKind = 3;

// Deleted rows of the search index: scanner layout 0, 13 values (docid,
// c0msgId, c1uin, c2time, c3.., c4flag, c5.., c6.., c7content,
// c8conversationUin, c9isDeleted, two more). The flag is read as from a live
// row: without it every recovered one-to-one message would pass for one the
// account sent.
constexpr int kIndexLayout = 0;
constexpr std::size_t kIndexValues = 13;
constexpr std::size_t kIndexDocId = 0, kIndexMsgId = 1, kIndexUin = 2, kIndexTime = 3, kIndexFlag = 5,
                      kIndexContent = 8, kIndexConversation = 9, kIndexDeleted = 10;
// Deleted rows of QQ.db's message tables: the numbered layouts of the
// shapes they were made for (one-to-one 51 columns, group 25); every other
// shape gets a layout made from its live table.
constexpr int kOneToOneLayout = 3;
constexpr std::size_t kOneToOneColumns = 51;
constexpr int kGroupLayout = 4;
constexpr std::size_t kGroupColumns = 25;
// QQ's first day (1999-02-10) and a bound no phone's clock reaches
// (2100-01-01), in Unix seconds: a message's time lies between.
constexpr std::int64_t kFirstMessageTime = 918604800;
constexpr std::int64_t kLastMessageTime = 4102444800;

constexpr char kPlaceholderPicture[] = "movietype.png";

std::int32_t Low32(std::int64_t value) { return static_cast<std::int32_t>(value); }

std::int32_t IntColumn(const db::CppSQLite3Query& query, int column) {
  return Low32(query.GetInt64Field(column));
}

// A time column may hold a fraction of a second: it is cut off. A value
// outside the 64-bit range (or not a number) reads as 0 rather than wrap
// into nonsense.
std::int32_t SecondsColumn(const db::CppSQLite3Query& query, int column) {
  const double seconds = std::trunc(query.GetFloatField(column));
  if (!std::isfinite(seconds) || seconds < -9.2e18 || seconds > 9.2e18) return 0;
  return Low32(static_cast<std::int64_t>(seconds));
}

std::int32_t IntValue(const db::undark::UndarkValue& value) { return Low32(UndarkValueToInt64(value)); }

std::int64_t LeadingNumber(const std::string& text) {
  std::int64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0;
}

std::string ColumnName(const db::CppSQLite3Query& query, int column) {
  const char* name = query.FieldName(column);
  return name != nullptr ? name : "";
}

void ApplyOneToOneColumn(DBITEM_QqChat& m, const std::string& name, const db::CppSQLite3Query& query, int i) {
  if (name == "msgId") {
    m.msgId = IntColumn(query, i);
  } else if (name == "uin") {
    m.senderUin = db::FieldText(query, i);
  } else if (name == "time") {
    m.sendTime = SecondsColumn(query, i);
  } else if (name == "type") {
    m.msgType = IntColumn(query, i);
  } else if (name == "flag") {
    m.flag = IntColumn(query, i);
  } else if (name == "content") {
    m.content = db::FieldText(query, i);
  }
}

void ApplyGroupColumn(DBITEM_QqChat& m, const std::string& name, const db::CppSQLite3Query& query, int i) {
  if (name == "msgId") {
    m.msgId = IntColumn(query, i);
  } else if (name == "SendUin") {
    m.senderUin = db::FieldText(query, i);
  } else if (name == "MsgTime") {
    m.sendTime = SecondsColumn(query, i);
  } else if (name == "sMsgType") {
    m.msgType = IntColumn(query, i);
  } else if (name == "strMsg") {
    m.content = db::FieldText(query, i);
  } else if (name == "nickName") {
    m.nickName = db::FieldText(query, i);
  } else if (name == "moreflag") {
    m.flag = IntColumn(query, i);
  }
}

void ApplyIndexColumn(DBITEM_QqChat& m, const std::string& name, const db::CppSQLite3Query& query, int i) {
  if (name == "docid") {
    m.docId = IntColumn(query, i);
  } else if (name == "c0msgId") {
    m.msgId = IntColumn(query, i);
  } else if (name == "c1uin") {
    m.senderUin = db::FieldText(query, i);
  } else if (name == "c2time") {
    m.sendTime = SecondsColumn(query, i);
  } else if (name == "c7content") {
    m.content = db::FieldText(query, i);
  } else if (name == "c8conversationUin") {
    m.conversationUin = db::FieldText(query, i);
  } else if (name == "c9isDeleted") {
    m.isDeletedColumn = IntColumn(query, i);
  } else if (name == "c4flag") {
    m.flag = IntColumn(query, i);
  }
}

DBITEM_QqFriend* ContactOf(CQqLocalUser& account, const std::string& number) {
  const auto found = account.contactsByUin.find(number);
  return found == account.contactsByUin.end() ? nullptr : found->second;
}

// A conversation known only from deleted data or the index, registered with
// the account; the known one when the number is taken.
DBITEM_QqFriend* NewRecoveredConversation(CQqLocalUser& account, const std::string& userName, std::int32_t type) {
  auto created = std::make_unique<DBITEM_QqFriend>();
  created->userName = userName;
  created->type = type;
  created->uinNumber = LeadingNumber(userName);
  created->deletedConversation = 1;
  created->owner = &account;
  if (created->uinNumber > 0) ReadQqNickname(*created);
  DBITEM_QqFriend* made = created.get();
  if (RegisterQqContact(account, created) == 1) return made;
  return ContactOf(account, userName);
}

// The sender of a message filed into conversation.
db::FriendItem* SenderOf(DBITEM_QqFriend& conversation, const DBITEM_QqChat& m) {
  CQqLocalUser* account = conversation.owner;
  if (conversation.type == kQqTypeFriend && m.flag == 0 && account != nullptr) return account;
  if (m.senderUin.empty() || account == nullptr) return &QqUnknownUser();
  if (DBITEM_QqFriend* known = ContactOf(*account, m.senderUin)) {
    if (!m.nickName.empty() && m.nickName != known->userName) known->DisplayName() = m.nickName;
    return known;
  }
  auto created = std::make_unique<DBITEM_QqFriend>();
  created->userName = m.senderUin;
  created->uinNumber = LeadingNumber(m.senderUin);
  created->owner = account;
  if (!m.nickName.empty()) {
    created->DisplayName() = m.nickName;
  } else if (created->uinNumber > 0) {
    ReadQqNickname(*created);
  }
  DBITEM_QqFriend* made = created.get();
  return RegisterQqContact(*account, created) == 1 ? made : ContactOf(*account, m.senderUin);
}

void LoadMessageTable(CQqLocalUser& account, DBITEM_QqFriend& contact, const std::string& table, int kind) {
  if (!account.qqDb || !account.qqDb->HasTable(table)) return;
  db::ItemList rows;
  account.qqDb->Query(kind, "select * from " + db::QuoteIdentifier(table) + ";", rows);
  for (auto& row : rows) {
    std::unique_ptr<DBITEM_QqChat> m(static_cast<DBITEM_QqChat*>(row.release()));
    AttachQqMessage(contact, m, false);  // a repeated message is dropped with m
  }
}

// Whether every text of a row decodes: valid UTF-8 without a zero byte.
// A row whose end a newer cell was written over holds that cell's header.
bool TextsDecode(const UndarkRow& row) {
  return std::all_of(row.begin(), row.end(), [](const db::undark::UndarkValue& value) {
    return value.type != db::undark::kTypeText ||
           (value.text.find('\0') == std::string::npos && db::IsValidUtf8(value.text));
  });
}

// Whether a recovered message could be one: a time within QQ's years and a
// sender that is a number (or none). Rows read from bytes that only look
// like a row's start have neither.
bool LooksLikeMessage(const DBITEM_QqChat& m) {
  if (m.sendTime < kFirstMessageTime || m.sendTime >= kLastMessageTime) return false;
  return std::all_of(m.senderUin.begin(), m.senderUin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::unique_ptr<DBITEM_QqChat> IndexMessage(const UndarkRow& row, const readers::RowPlace& place) {
  auto m = std::make_unique<DBITEM_QqChat>();
  m->docId = IntValue(row[kIndexDocId]);
  m->msgId = IntValue(row[kIndexMsgId]);
  m->senderUin = UndarkValueText(row[kIndexUin]);
  m->sendTime = IntValue(row[kIndexTime]);
  m->flag = IntValue(row[kIndexFlag]);
  m->content = UndarkValueText(row[kIndexContent]);
  m->conversationUin = UndarkValueText(row[kIndexConversation]);
  m->isDeletedColumn = IntValue(row[kIndexDeleted]);
  m->deleted = 1;
  if (place.inWal) m->deletedFrom = db::BaseItem::DeletedFrom::kWal;
  return m;
}

// The message tables of QQ.db of one kind and one shape, scanned with one
// layout; a row on one of their pages belongs to its conversation.
struct MessageTables {
  int kind = kOneToOneKind;
  readers::LiveTable shape;     // the table of the most rows among them
  int layout = -1;              // a numbered layout, or -1: the one made from shape
  std::map<std::string, DBITEM_QqFriend*> conversationOf;  // table -> its conversation
  bool takesFreePages = false;  // the rows of free pages are read with this shape
};

// The values of a recovered message row, by the column names its kind's
// live rows are read by (ReadQqMessageRow); a column the table lacks stays
// empty.
std::unique_ptr<DBITEM_QqChat> TableMessage(const MessageTables& tables, const UndarkRow& row,
                                            const readers::RowPlace& place) {
  const auto value = [&](const char* name) -> const db::undark::UndarkValue& {
    static const db::undark::UndarkValue kNull;
    const int at = tables.shape.Index(name);
    return at >= 0 ? row[static_cast<std::size_t>(at)] : kNull;
  };
  auto m = std::make_unique<DBITEM_QqChat>();
  const bool oneToOne = tables.kind == kOneToOneKind;
  m->senderUin = UndarkValueText(value(oneToOne ? "uin" : "SendUin"));
  m->sendTime = IntValue(value(oneToOne ? "time" : "MsgTime"));
  m->msgType = IntValue(value(oneToOne ? "type" : "sMsgType"));
  m->flag = IntValue(value(oneToOne ? "flag" : "moreflag"));
  m->content = UndarkValueText(value(oneToOne ? "content" : "strMsg"));
  if (oneToOne) {
    m->conversationUin = UndarkValueText(value("conversationUin"));
  } else {
    m->nickName = UndarkValueText(value("nickName"));
  }
  m->deleted = 1;
  if (place.inWal) m->deletedFrom = db::BaseItem::DeletedFrom::kWal;
  return m;
}

// The account's message tables in QQ.db, grouped by kind and shape (their
// column names). Per kind the group of the numbered layout's shape, else
// the one of the most tables, reads the rows of free pages.
std::vector<MessageTables> MessageTablesOf(CQqLocalUser& account) {
  CTencentQQDB& reader = *account.qqDb;
  std::map<std::pair<int, std::vector<std::string>>, std::map<std::string, DBITEM_QqFriend*>> byShape;
  for (const auto& contact : account.contacts) {
    const bool oneToOne = contact->type == kQqTypeFriend || contact->type == kQqTypeBoth;
    const bool group = contact->type == kQqTypeGroup || contact->type == kQqTypeBoth;
    for (const auto& [kind, table] : {std::pair{oneToOne ? kOneToOneKind : 0, contact->c2cTable},
                                      std::pair{group ? kGroupKind : 0, contact->troopTable}}) {
      if (kind == 0 || table.empty() || !reader.HasTable(table)) continue;
      byShape[{kind, reader.ColumnNames(table)}].emplace(table, contact.get());
    }
  }
  std::vector<MessageTables> groups;
  for (auto& [key, conversationOf] : byShape) {
    // The table of the most rows tells best what the shape's columns hold.
    std::string fullest;
    std::int64_t most = -1;
    for (const auto& [table, conversation] : conversationOf) {
      std::int64_t rows = 0;
      if (reader.QueryInt64("SELECT count(*) FROM " + db::QuoteIdentifier(table) + ";", rows) && rows > most) {
        most = rows;
        fullest = table;
      }
    }
    std::optional<readers::LiveTable> shape = readers::LiveTable::Read(reader, fullest);
    if (!shape) continue;
    const bool oneToOne = key.first == kOneToOneKind;
    int layout = -1;
    if (oneToOne &&
        shape->HasShape(kOneToOneColumns, {{1, "uin"}, {2, "time"}, {3, "type"}, {4, "flag"}, {43, "conversationUin"}})) {
      layout = kOneToOneLayout;
    } else if (!oneToOne && shape->HasShape(kGroupColumns, {{1, "SendUin"}, {3, "MsgTime"}, {4, "sMsgType"},
                                                            {5, "strMsg"}, {8, "moreflag"}})) {
      layout = kGroupLayout;
    }
    groups.push_back({key.first, std::move(*shape), layout, std::move(conversationOf), false});
  }
  for (const int kind : {kOneToOneKind, kGroupKind}) {
    MessageTables* reads = nullptr;
    for (MessageTables& tables : groups) {
      if (tables.kind != kind) continue;
      const auto rank = [](const MessageTables& t) { return std::pair{t.layout >= 0, t.conversationOf.size()}; };
      if (reads == nullptr || rank(tables) > rank(*reads)) reads = &tables;
    }
    if (reads != nullptr) reads->takesFreePages = true;
  }
  return groups;
}

// Every deleted message row of QQ.db's message tables, in the order found:
// a row on a table's page is filed into that table's conversation, a row of
// a free page (or of a message table the log dropped) into the conversation
// its own column names, if any.
void RecoverMessageTableRows(CQqLocalUser& account, std::vector<std::unique_ptr<DBITEM_QqChat>>& recovered) {
  CTencentQQDB& reader = *account.qqDb;
  const readers::PageTables pages(reader);
  std::set<std::string> tablesNow;
  for (const auto& [page, table] : pages.WithLog()) tablesNow.insert(table);
  for (const MessageTables& tables : MessageTablesOf(account)) {
    const readers::FoundRowSink sink = [&](UndarkRow& row, const readers::RowPlace& place) {
      if (!tables.shape.Fits(row)) return;
      const readers::PageTables::Owner owner = pages.OwnerOf(place);
      if (owner.interior) return;
      const DBITEM_QqFriend* conversation = nullptr;
      if (owner.table != nullptr) {
        const auto found = tables.conversationOf.find(*owner.table);
        if (found != tables.conversationOf.end()) {
          conversation = found->second;
        } else if (tablesNow.contains(*owner.table) || !tables.takesFreePages) {
          return;  // another table's page
        }
      } else if (!tables.takesFreePages) {
        return;
      }
      std::unique_ptr<DBITEM_QqChat> m = TableMessage(tables, row, place);
      if (!LooksLikeMessage(*m)) return;
      if (conversation != nullptr) m->conversationUin = conversation->userName;
      recovered.push_back(std::move(m));
    };
    if (tables.layout >= 0) {
      readers::ScanRows(reader, tables.layout, static_cast<int>(tables.shape.ColumnCount()), sink);
    } else {
      readers::ScanRows(reader, tables.shape.DeletedRowLayout(), sink);
    }
  }
}

// Files one recovered message: into the conversation of its number, else,
// unless it repeats a message of the account, into a new conversation
// known only from deleted data.
void FileRecoveredMessage(CQqLocalUser& account, std::unique_ptr<DBITEM_QqChat>& m) {
  // A repeat of a message of any conversation is that message, or an older
  // version of it: a page of the log may have belonged to another table.
  if (account.messagesByKey.contains(QqMessageKey(*m))) return;
  DBITEM_QqFriend* conversation = ContactOf(account, m->conversationUin);
  if (conversation == nullptr) {
    std::string name = m->conversationUin;
    if (name.empty()) {
      char unknown[64];
      std::snprintf(unknown, sizeof unknown, kQqUnknownConversationFormat, static_cast<int>(account.contacts.size()));
      name = unknown;
    }
    conversation = NewRecoveredConversation(account, name, -1);
    if (conversation == nullptr) return;
  }
  AttachQqMessage(*conversation, m, true);
}

// --- article rendering ----------------------------------------------------

enum class ArticleMode { kDigest, kPushMail, kMsg };

constexpr std::string_view kUrlAttribute = "\" url=\"";
constexpr std::string_view kDigestOpen = "<digest>";
constexpr std::string_view kDigestClose = "</digest>";
constexpr std::string_view kUrlOpen = "<url>";
constexpr std::string_view kUrlClose = "</url>";
constexpr std::string_view kTitleOpen = "<title>";
constexpr std::string_view kTitleClose = "</title>";

struct ArticleItem {
  std::string link;
  std::string title;
  std::size_t end = 0;  // where the search for the next item goes on
};

// The text between open (found from `from`) and close, and the position
// after close; none when either is missing.
std::optional<std::pair<std::string, std::size_t>> Between(const std::string& text, std::string_view open,
                                                           std::string_view close, std::size_t from) {
  const std::size_t at = text.find(open, from);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t begin = at + open.size();
  const std::size_t end = text.find(close, begin);
  if (end == std::string::npos) return std::nullopt;
  return std::make_pair(text.substr(begin, end - begin), end + close.size());
}

// The item whose key is at keyAt. Sets skip (and returns none) for an item
// without a link, after which the search goes on at skip; returns none
// without skip when the item is cut short, which ends the search.
std::optional<ArticleItem> ArticleAt(const std::string& text, ArticleMode mode, std::size_t keyAt,
                                     std::size_t& skip) {
  skip = 0;
  if (mode == ArticleMode::kDigest) {
    const auto digest = Between(text, kDigestOpen, kDigestClose, keyAt);
    if (!digest) return std::nullopt;
    const auto link = Between(text, kUrlOpen, kUrlClose, digest->second);
    if (!link) return std::nullopt;
    return ArticleItem{link->first, digest->first, link->second};
  }
  const std::size_t linkBegin = keyAt + kUrlAttribute.size();
  const std::size_t linkEnd =
      mode == ArticleMode::kPushMail ? text.find(kDigestClose, linkBegin) : text.find('"', linkBegin);
  if (linkEnd == std::string::npos) return std::nullopt;
  if (linkEnd == linkBegin) {
    skip = linkBegin;
    return std::nullopt;
  }
  const auto title =
      Between(text, kTitleOpen, mode == ArticleMode::kPushMail ? kUrlClose : kTitleClose, linkEnd);
  if (!title) return std::nullopt;
  return ArticleItem{text.substr(linkBegin, linkEnd - linkBegin), title->first, title->second};
}

}  // namespace

std::string QqMessageKey(const DBITEM_QqChat& message) {
  return message.senderUin + std::to_string(message.sendTime) + message.content;
}

int AttachQqMessage(DBITEM_QqFriend& conversation, std::unique_ptr<DBITEM_QqChat>& message, bool markDeleted) {
  if (!message) return 0;
  DBITEM_QqChat& m = *message;
  const std::string key = QqMessageKey(m);
  if (conversation.messagesByKey.contains(key)) return 0;
  m.sender = SenderOf(conversation, m);
  if (conversation.deletedConversation == 1 || markDeleted) m.deleted = 1;
  m.conversation = &conversation;
  m.parent = &conversation;
  m.time = m.sendTime;
  // The picture itself is not in the backup's reach: every picture shows
  // the placeholder, and nothing reads the file before the export does.
  if (m.msgType == kQqMsgPicture) m.mediaPath = (platform::SkinFolder() / kPlaceholderPicture).string();
  conversation.items.push_back(&m);
  conversation.messagesByKey[key] = &m;
  if (conversation.owner != nullptr) conversation.owner->messagesByKey.try_emplace(key, &m);
  conversation.ownedItems.push_back(std::move(message));
  return 1;
}

std::unique_ptr<DBITEM_QqChat> ReadQqMessageRow(int tableKind, const db::CppSQLite3Query& query) {
  if (tableKind != kOneToOneKind && tableKind != kGroupKind) return nullptr;
  auto m = std::make_unique<DBITEM_QqChat>();
  const int columns = query.NumFields();
  for (int i = 0; i < columns; ++i) {
    const std::string name = ColumnName(query, i);
    if (tableKind == kOneToOneKind) {
      ApplyOneToOneColumn(*m, name, query, i);
    } else {
      ApplyGroupColumn(*m, name, query, i);
    }
  }
  m->time = m->sendTime;
  return m;
}

void FileQqIndexRow(CQqLocalUser& account, int tableKind, const db::CppSQLite3Query& query) {
  auto m = std::make_unique<DBITEM_QqChat>();
  const int columns = query.NumFields();
  for (int i = 0; i < columns; ++i) ApplyIndexColumn(*m, ColumnName(query, i), query, i);
  m->time = m->sendTime;
  DBITEM_QqFriend* conversation = ContactOf(account, m->conversationUin);
  if (conversation == nullptr) {
    conversation =
        NewRecoveredConversation(account, m->conversationUin, tableKind == 0 ? kQqTypeFriend : kQqTypeGroup);
    if (conversation == nullptr) return;
    m->deleted = 1;
  }
  AttachQqMessage(*conversation, m, true);  // one that repeats a live message is dropped with m
}

void LoadQqConversations(CQqLocalUser& account) {
  // Filing messages may register senders: they come after these and have
  // no tables of their own.
  const std::size_t count = account.contacts.size();
  for (std::size_t i = 0; i < count; ++i) {
    DBITEM_QqFriend& contact = *account.contacts[i];
    if (contact.type == kQqTypeFriend || contact.type == kQqTypeBoth) {
      LoadMessageTable(account, contact, contact.c2cTable, kOneToOneKind);
    }
    if (contact.type == kQqTypeGroup || contact.type == kQqTypeBoth) {
      LoadMessageTable(account, contact, contact.troopTable, kGroupKind);
    }
    db::ReportProgress(account.progress, true, 0.5f * account.progressShare / static_cast<float>(count));
  }
}

void RecoverQqDeletedMessages(CQqLocalUser& account) {
  std::vector<std::unique_ptr<DBITEM_QqChat>> recovered;
  if (account.ftsDb) {
    readers::ScanRows(*account.ftsDb, kIndexLayout, -1, [&recovered](UndarkRow& row, const readers::RowPlace& place) {
      if (row.size() != kIndexValues || !TextsDecode(row)) return;
      std::unique_ptr<DBITEM_QqChat> m = IndexMessage(row, place);
      if (LooksLikeMessage(*m)) recovered.push_back(std::move(m));
    });
  }
  if (account.qqDb) RecoverMessageTableRows(account, recovered);
  db::DropLogCopiesOfFileRecords(recovered, QqMessageKey);
  for (std::size_t i = recovered.size(); i-- > 0;) FileRecoveredMessage(account, recovered[i]);
}

std::string RenderQqMessage(const std::string& text) {
  ArticleMode mode = ArticleMode::kDigest;
  std::string_view key = kDigestOpen;
  std::size_t pos = 0;
  if (text.find("<msg ") != std::string::npos) {
    mode = ArticleMode::kMsg;
    key = kUrlAttribute;
  } else if (text.find("<pushmail") != std::string::npos) {
    mode = ArticleMode::kPushMail;
    key = kUrlAttribute;
  } else if (const std::size_t items = std::min(text.find("<newitem>"), text.find("<item>"));
             items != std::string::npos) {
    pos = items;
  }
  std::string rows;
  int count = 0;
  bool numbered = false;
  while (true) {
    const std::size_t keyAt = text.find(key, pos);
    if (keyAt == std::string::npos) break;
    std::size_t skip = 0;
    const std::optional<ArticleItem> item = ArticleAt(text, mode, keyAt, skip);
    if (!item) {
      if (skip == 0) break;
      pos = skip;
      continue;
    }
    ++count;
    pos = item->end;
    if (count == 1) numbered = text.find(key, pos) != std::string::npos;
    if (numbered) {
      rows += (count == 1 ? "" : "<br/>") + std::to_string(count) + ".";
    } else if (count > 1) {
      rows += "<br/>";
    }
    rows += exporting::LinkRow(item->link, item->title);
  }
  return count == 0 ? exporting::EscapeHtml(text) : rows;
}

}  // namespace chat
