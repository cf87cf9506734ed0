#include "chat/qq_messages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/db_sqlite.h"
#include "db/progress.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/paths.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using db::undark::UndarkRow;
using db::undark::UndarkValueText;
using db::undark::UndarkValueToInt64;

// Table kinds of QQ.db's message tables.
constexpr int kOneToOneKind = 2;
constexpr int kGroupKind = 3;

// Deleted rows, by scanner layout and the number of values of a whole row
// (the table's column count): the index's rows, one-to-one rows, group rows.
constexpr int kIndexLayout = 0;
constexpr std::size_t kIndexValues = 13;
constexpr int kOneToOneLayout = 3;
constexpr std::size_t kOneToOneValues = 51;
constexpr int kGroupLayout = 4;
constexpr std::size_t kGroupValues = 25;

// Value positions of a deleted search-index row (docid, c0msgId, c1uin,
// c2time, c3.., c4flag, c5.., c6.., c7content, c8conversationUin,
// c9isDeleted, two more). The flag is read as from a live row: without it
// every recovered one-to-one message would pass for one the account sent.
constexpr std::size_t kIndexDocId = 0, kIndexMsgId = 1, kIndexUin = 2, kIndexTime = 3, kIndexFlag = 5,
                      kIndexContent = 8, kIndexConversation = 9, kIndexDeleted = 10;
// Value positions of a deleted one-to-one row. The scanner only takes rows
// whose value 7 is the integer 0 or 1, so a text there is never seen: the
// text is read where the live tables keep their "content" column, and at 7
// only when no live table tells.
constexpr std::size_t kOneToOneUin = 1, kOneToOneTime = 2, kOneToOneType = 3, kOneToOneFlag = 4,
                      kOneToOneDefaultContent = 7, kOneToOneConversation = 43;
// Value positions of a deleted group row (no conversation number).
constexpr std::size_t kGroupUin = 1, kGroupTime = 3, kGroupType = 4, kGroupContent = 5, kGroupFlag = 8;

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

// Where the live one-to-one tables keep the message text, as a value
// position of a deleted row.
std::size_t OneToOneContentValue(CQqLocalUser& account) {
  if (!account.qqDb) return kOneToOneDefaultContent;
  for (const auto& contact : account.contacts) {
    if (contact->type != kQqTypeFriend && contact->type != kQqTypeBoth) continue;
    if (!account.qqDb->HasTable(contact->c2cTable)) continue;
    const std::vector<std::string> names = account.qqDb->ColumnNames(contact->c2cTable);
    if (names.size() != kOneToOneValues) continue;
    for (std::size_t i = 1; i < names.size(); ++i) {
      if (names[i] == "content") return i;
    }
  }
  return kOneToOneDefaultContent;
}

std::unique_ptr<DBITEM_QqChat> IndexMessage(const UndarkRow& row) {
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
  return m;
}

std::unique_ptr<DBITEM_QqChat> OneToOneMessage(const UndarkRow& row, std::size_t contentValue) {
  auto m = std::make_unique<DBITEM_QqChat>();
  m->senderUin = UndarkValueText(row[kOneToOneUin]);
  m->sendTime = IntValue(row[kOneToOneTime]);
  m->msgType = IntValue(row[kOneToOneType]);
  m->flag = IntValue(row[kOneToOneFlag]);
  m->content = UndarkValueText(row[contentValue]);
  m->conversationUin = UndarkValueText(row[kOneToOneConversation]);
  m->deleted = 1;
  return m;
}

std::unique_ptr<DBITEM_QqChat> GroupMessage(const UndarkRow& row) {
  auto m = std::make_unique<DBITEM_QqChat>();
  m->senderUin = UndarkValueText(row[kGroupUin]);
  m->sendTime = IntValue(row[kGroupTime]);
  m->msgType = IntValue(row[kGroupType]);
  m->content = UndarkValueText(row[kGroupContent]);
  m->flag = IntValue(row[kGroupFlag]);
  m->deleted = 1;
  return m;
}

// Files one recovered message: into the conversation of its number, else,
// unless it repeats a message of the account, into a new conversation
// known only from deleted data.
void FileRecoveredMessage(CQqLocalUser& account, std::unique_ptr<DBITEM_QqChat>& m) {
  DBITEM_QqFriend* conversation = ContactOf(account, m->conversationUin);
  if (conversation == nullptr) {
    if (account.messagesByKey.contains(QqMessageKey(*m))) return;
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
    readers::ScanRows(*account.ftsDb, kIndexLayout, -1, [&recovered](UndarkRow& row) {
      if (row.size() == kIndexValues) recovered.push_back(IndexMessage(row));
    });
  }
  if (account.qqDb) {
    const std::size_t contentValue = OneToOneContentValue(account);
    readers::ScanRows(*account.qqDb, kOneToOneLayout, -1, [&recovered, contentValue](UndarkRow& row) {
      if (row.size() == kOneToOneValues) recovered.push_back(OneToOneMessage(row, contentValue));
    });
    readers::ScanRows(*account.qqDb, kGroupLayout, -1, [&recovered](UndarkRow& row) {
      if (row.size() == kGroupValues) recovered.push_back(GroupMessage(row));
    });
  }
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
