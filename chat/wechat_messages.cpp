#include "chat/wechat_messages.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <optional>
#include <unordered_set>
#include <array>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backup/file_list_db.h"
#include "db/db_sqlite.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "db/undark/layouts.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using db::undark::UndarkRow;

// Every message table has these nine columns; a table with fewer is not a
// message table, and reading its ninth column ends the load.
constexpr int kChatColumns = 9;
// Deleted rows of the search index: contact numbers (layout 2, 6 values)
// and contents (layout 1, 8 values).
constexpr int kIndexNamesLayout = 2;
constexpr std::size_t kIndexNamesValues = 6;
constexpr int kIndexContentsLayout = 1;
constexpr std::size_t kIndexContentsValues = 8;
// The first day WeChat was out (2011-01-21), in Unix seconds: no message
// is older.
constexpr std::int64_t kFirstMessageTime = 1295568000;
// "name:\n" in front of a room message names its member.
constexpr std::string_view kMemberPrefixEnd = ":\n";

std::int32_t Low32(std::int64_t value) { return static_cast<std::int32_t>(value); }

std::int32_t IntColumn(const db::CppSQLite3Query& query, int column) {
  return Low32(query.GetInt64Field(column));
}

// localId × 2^32 + addend, wrapping instead of overflowing.
std::int64_t KeyOf(std::int32_t localId, std::int32_t addend) {
  const auto high = static_cast<std::uint64_t>(static_cast<std::int64_t>(localId)) << 32;
  return static_cast<std::int64_t>(high + static_cast<std::uint64_t>(static_cast<std::int64_t>(addend)));
}

void ReadChatRow(DBITEM_WxChat& m, const db::CppSQLite3Query& query) {
  const char* first = query.FieldName(0);
  const std::string_view order = first != nullptr ? first : "";
  if (order == "TableVer") {
    m.tableVer = IntColumn(query, 0);
    m.localId = IntColumn(query, 1);
    m.mesSvrId = IntColumn(query, 2);
    m.createTime = IntColumn(query, 3);
    m.text = db::FieldText(query, 4);
    m.status = IntColumn(query, 5);
    m.imgStatus = IntColumn(query, 6);
    m.msgType = IntColumn(query, 7);
    m.direction = IntColumn(query, 8);
  } else if (order == "CreateTime") {
    m.createTime = IntColumn(query, 0);
    m.direction = IntColumn(query, 1);
    m.imgStatus = IntColumn(query, 2);
    m.localId = IntColumn(query, 3);
    m.text = db::FieldText(query, 4);
    m.mesSvrId = IntColumn(query, 5);
    m.status = IntColumn(query, 6);
    m.tableVer = IntColumn(query, 7);
    m.msgType = IntColumn(query, 8);
  }
}

void ReadExtensionRow(DBITEM_WxChatExt2& e, const db::CppSQLite3Query& query) {
  const char* first = query.FieldName(0);
  const std::string_view order = first != nullptr ? first : "";
  if (order == "MesLocalID") {
    e.localId = IntColumn(query, 0);
    e.msgFlag = IntColumn(query, 1);
    e.conIntRes2 = IntColumn(query, 2);
    e.conIntRes3 = IntColumn(query, 3);
    e.msgSource = db::FieldText(query, 4);
    e.msgIdentify = db::FieldText(query, 5);
    e.conStrRes1 = db::FieldText(query, 6);
    e.conStrRes2 = db::FieldText(query, 7);
    e.conStrRes3 = db::FieldText(query, 8);
    e.conIntRes1 = IntColumn(query, 9);
  } else if (order == "ConIntRes1") {
    e.conIntRes1 = IntColumn(query, 0);
    e.conIntRes2 = IntColumn(query, 1);
    e.conIntRes3 = IntColumn(query, 2);
    e.conStrRes1 = db::FieldText(query, 3);
    e.conStrRes2 = db::FieldText(query, 4);
    e.conStrRes3 = db::FieldText(query, 5);
    e.localId = IntColumn(query, 6);
    e.msgFlag = IntColumn(query, 7);
    e.msgIdentify = db::FieldText(query, 8);
    e.msgSource = db::FieldText(query, 9);
  }
}

// A contact number of the search index: the contact of the row's name (a
// new kind-5 contact when unknown) gets the number and its table.
void ReadIndexNameRow(CWxLocalUser& account, const db::CppSQLite3Query& query) {
  const std::string name = db::FieldText(query, "UsrName");
  if (name.empty()) return;
  DBITEM_WxFriend* contact = account.FindContact(name);
  if (contact == nullptr) {
    auto created = std::make_unique<DBITEM_WxFriend>();
    created->userName = name;
    DBITEM_WxFriend* made = created.get();
    DBITEM_WxFriend* existing = nullptr;
    contact = account.RegisterContact(created, kWxKindRecovered, false, &existing) == 1 ? made : existing;
    if (contact == nullptr) return;
  }
  if (const int idColumn = query.FieldIndex("usernameid"); idColumn >= 0) {
    contact->usernameId = IntColumn(query, idColumn);
  }
  // The table number is read from its own column, wherever the table puts it.
  if (const int tableColumn = query.FieldIndex("tableid"); tableColumn >= 0) {
    contact->ftsTableId = IntColumn(query, tableColumn);
  }
  if (contact->usernameId >= 0) account.contactsByUsernameId[contact->usernameId] = contact;
}

std::unique_ptr<DBITEM_WxBakChatContent> ReadIndexContentRow(const db::CppSQLite3Query& query) {
  auto r = std::make_unique<DBITEM_WxBakChatContent>();
  r->docId = IntColumn(query, 0);
  r->usernameId = IntColumn(query, 1);
  r->localId = IntColumn(query, 2);
  r->createTime = IntColumn(query, 3);
  r->text = db::FieldText(query, 4);
  r->time = r->createTime;
  return r;
}

DBITEM_WxFriend& SenderOrRoom(DBITEM_WxFriend* sender, DBITEM_WxFriend& room) {
  return sender != nullptr ? *sender : room;
}

// The sender of a message in a room or a recovered conversation: the member
// named by the text's "name:\n" prefix, which is removed.
void AssignMemberSender(DBITEM_WxFriend& contact, DBITEM_WxChat& m) {
  CWxLocalUser* account = contact.owner;
  const std::size_t p = m.text.find(kMemberPrefixEnd);
  if (p == std::string::npos) {
    if (contact.kind == kWxKindChatRoom) {
      m.sender = m.msgType == kWxMsgUnknown ? &contact : &SystemMessageContact();
    } else {
      m.deleted = 1;
      m.sender = &contact;
    }
    return;
  }
  const std::string name = m.text.substr(0, p);
  m.text.erase(0, p + kMemberPrefixEnd.size());
  DBITEM_WxFriend* member = (account != nullptr && !name.empty()) ? account->FindContact(name) : nullptr;
  if (member == nullptr && account != nullptr && !name.empty() && m.msgType != kWxMsgNoPlaceholder) {
    // A member who left the room is no longer among the contacts; a
    // placeholder keeps the messages apart by author.
    auto placeholder = std::make_unique<DBITEM_WxFriend>();
    placeholder->userName = name;
    placeholder->DisplayName() = std::string(kWxLeftMemberPrefix) + contact.DisplayName();
    DBITEM_WxFriend* existing = nullptr;
    DBITEM_WxFriend* made = placeholder.get();
    member = account->RegisterContact(placeholder, kWxKindFriend, false, &existing) == 1 ? made : existing;
  }
  // Type 64 from an unknown member, or a prefix without a name: the room.
  m.sender = &SenderOrRoom(member, contact);
}

void AssignSender(DBITEM_WxFriend& contact, DBITEM_WxChat& m) {
  if (m.direction == 0) {
    if (contact.kind == kWxKindRecovered || contact.owner == nullptr) {
      m.sender = &contact;
    } else {
      m.sender = contact.owner;
    }
    return;
  }
  if (m.sender != nullptr) return;
  switch (contact.kind) {
    case kWxKindFriend:
    case kWxKindOfficial: m.sender = &contact; break;
    case kWxKindChatRoom:
    case kWxKindRecovered: AssignMemberSender(contact, m); break;
    default: m.sender = m.msgType == kWxMsgUnknown ? &contact : &SystemMessageContact(); break;
  }
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Every "<32 hex digits>/<digits>." in a path, as the key
// "<md5 in lower case>/<digits>": where a message's picture or video can be
// (the path contains the contact's md5, a slash, the local ID and a full
// stop; ASCII case ignored, as the manifest's LIKE ignores it).
void AddMediaKeys(const std::string& path, const std::string& storedPath,
                  std::unordered_map<std::string, std::string>& byKey) {
  constexpr std::size_t kMd5Digits = 32;
  for (std::size_t slash = path.find('/', kMd5Digits); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::size_t end = slash + 1;
    while (end < path.size() && path[end] >= '0' && path[end] <= '9') ++end;
    if (end == slash + 1 || end >= path.size() || path[end] != '.') continue;
    const std::string_view digest(path.data() + slash - kMd5Digits, kMd5Digits);
    if (!std::all_of(digest.begin(), digest.end(), IsHexDigit)) continue;
    std::string key = platform::AsciiLower(std::string(digest)) + path.substr(slash, end - slash);
    byKey.emplace(std::move(key), storedPath);  // the first file found is kept
  }
}

// Lists the app's files once: one lookup per media message would search the
// whole manifest (or walk the whole folder) for every picture of a chat.
void ListMediaFiles(CWxLocalUser& account) {
  account.mediaFilesListed = true;
  if (account.fileIndex == nullptr) return;
  backup::FileRecordList records;
  account.fileIndex->FindFileRecords("%", kWeChatDomain, records, true);
  for (const auto& record : records) {
    std::string path = record->relativePath;
    std::replace(path.begin(), path.end(), '\\', '/');
    AddMediaKeys(path, record->storedPath, account.mediaFilesByKey);
  }
}

void FindMediaFile(const DBITEM_WxFriend& contact, DBITEM_WxChat& m) {
  CWxLocalUser* account = contact.owner;
  if (account == nullptr || account->fileIndex == nullptr || contact.userMd5.empty()) return;
  if (!account->mediaFilesListed) ListMediaFiles(*account);
  const auto found = account->mediaFilesByKey.find(contact.userMd5 + "/" + std::to_string(m.localId));
  if (found != account->mediaFilesByKey.end()) m.mediaPath = found->second;
}

// An emoji message's image URL: the quoted value after its "cdnurl" (or
// "thumburl") attribute.
void ExtractEmojiUrl(DBITEM_WxChat& m) {
  const std::string& shown = m.ShownText();
  if (shown.find("<msg><emoji") == std::string::npos) return;
  std::size_t at = shown.find("cdnurl=");
  if (at == std::string::npos) at = shown.find("cdnurl =");
  if (at == std::string::npos) at = shown.find("thumburl=");
  if (at == std::string::npos) return;
  const std::size_t open = shown.find('"', at + 7);
  if (open == std::string::npos) return;
  const std::size_t close = shown.find('"', open + 1);
  if (close == std::string::npos) return;
  m.mediaPath = shown.substr(open + 1, close - open - 1);
  m.msgType = kWxMsgEmoji;
}

DBITEM_WxChat* MessageUnder(DBITEM_WxFriend& contact, std::int64_t key) {
  const auto found = contact.messagesByKey.find(key);
  return found == contact.messagesByKey.end() ? nullptr : static_cast<DBITEM_WxChat*>(found->second);
}

// The messages contact holds already, by SameMessageHash.
std::unordered_map<std::size_t, DBITEM_WxChat*> MessagesBySameHash(const DBITEM_WxFriend& contact) {
  std::unordered_map<std::size_t, DBITEM_WxChat*> byHash;
  for (db::BaseItem* item : contact.items) {
    auto* m = static_cast<DBITEM_WxChat*>(item);
    if (m->sourceDb >= 0) byHash.emplace(SameMessageHash(*m), m);
  }
  return byHash;
}

int LoadChatTable(CWxLocalUser& account, DBITEM_WxFriend& contact) {
  const std::string table = "Chat_" + contact.userMd5;
  std::vector<std::size_t> withTable;
  for (std::size_t file = 0; file < account.messageDbs.size(); ++file) {
    if (account.messageDbs[file]->HasTable(table)) withTable.push_back(file);
  }
  // Rows can repeat a message only when a second file, or an earlier load,
  // holds the conversation too; one table alone needs no look-up.
  const bool mayRepeat = withTable.size() > 1 || !contact.items.empty();
  std::unordered_map<std::size_t, DBITEM_WxChat*> known;
  if (mayRepeat) known = MessagesBySameHash(contact);
  int result = 0;
  for (std::size_t file : withTable) {
    db::ItemList rows;
    const std::string sql = "Select * From " + db::QuoteIdentifier(table) + ";";
    if (account.messageDbs[file]->Query(kWxChatTable, sql, rows) == 1) result = 1;
    for (auto& row : rows) {
      std::unique_ptr<DBITEM_WxChat> m(static_cast<DBITEM_WxChat*>(row.release()));
      m->sourceDb = static_cast<std::int32_t>(file);
      if (mayRepeat) {
        const auto [at, added] = known.try_emplace(SameMessageHash(*m), m.get());
        if (!added && at->second->sourceDb != m->sourceDb) continue;  // read from another file already
      }
      AttachMessage(contact, std::move(m));
    }
  }
  return result;
}

int LoadExtensionTable(CWxLocalUser& account, DBITEM_WxFriend& contact) {
  const std::string table = "ChatExt2_" + contact.userMd5;
  int result = 0;
  for (std::size_t file = 0; file < account.messageDbs.size(); ++file) {
    CTencentWXDB& reader = *account.messageDbs[file];
    if (!reader.HasTable(table)) continue;
    std::unordered_map<std::int32_t, DBITEM_WxChat*> byLocalId;
    for (db::BaseItem* item : contact.items) {
      auto* m = static_cast<DBITEM_WxChat*>(item);
      if (m->sourceDb == static_cast<std::int32_t>(file)) byLocalId[m->localId] = m;
    }
    db::ItemList rows;
    if (reader.Query(kWxChatExtTable, "Select * From " + db::QuoteIdentifier(table) + ";", rows) == 1) result = 1;
    for (auto& row : rows) {
      std::unique_ptr<DBITEM_WxChatExt2> extension(static_cast<DBITEM_WxChatExt2*>(row.release()));
      if (const auto found = byLocalId.find(extension->localId); found != byLocalId.end()) {
        found->second->extension = std::move(extension);
      }
    }
  }
  return result;
}

int LoadIndexRows(CWxLocalUser& account, DBITEM_WxFriend& contact) {
  if (!account.ftsDb || contact.ftsTableId < 0) return 0;
  const std::string table = "fts_message_table_" + std::to_string(contact.ftsTableId) + "_content";
  if (!account.ftsDb->HasTable(table)) return 0;
  db::ItemList rows;
  const int result = account.ftsDb->Query(1, "Select * From " + db::QuoteIdentifier(table) + " where c0usernameid=?;",
                                          rows, {static_cast<std::int64_t>(contact.usernameId)});
  for (auto& row : rows) {
    std::unique_ptr<DBITEM_WxBakChatContent> record(static_cast<DBITEM_WxBakChatContent*>(row.release()));
    AttachIndexRecord(contact, record);  // a duplicate is freed with record
  }
  return result;
}

bool ParseDecimal(const std::string& text, std::int64_t& value) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end;
}

// A deleted contact-number row: (row id = number, _, name, table, _, _).
void RecoverIndexName(CWxLocalUser& account, const UndarkRow& row) {
  const std::string name = db::undark::UndarkValueText(row[2]);
  std::int64_t number = 0;
  if (name.empty() || !ParseDecimal(row[0].text, number)) return;
  const std::int32_t id = Low32(number);
  DBITEM_WxFriend* contact = account.FindContact(name);
  if (contact == nullptr) {
    auto created = std::make_unique<DBITEM_WxFriend>();
    created->userName = name;
    DBITEM_WxFriend* made = created.get();
    DBITEM_WxFriend* existing = nullptr;
    contact = account.RegisterContact(created, kWxKindRecovered, false, &existing) == 1 ? made : existing;
    if (contact == nullptr) return;
  }
  if (contact->usernameId < 0) {
    contact->usernameId = id;
    contact->ftsTableId = Low32(db::undark::UndarkValueToInt64(row[3]));
  }
  account.contactsByUsernameId.try_emplace(id, contact);
}

void RecoverIndexContent(CWxLocalUser& account, const UndarkRow& row, const readers::RowPlace& place) {
  auto r = std::make_unique<DBITEM_WxBakChatContent>();
  if (place.inWal) r->deletedFrom = db::BaseItem::DeletedFrom::kWal;
  r->docId = Low32(db::undark::UndarkValueToInt64(row[0]));
  r->usernameId = Low32(db::undark::UndarkValueToInt64(row[1]));
  r->localId = Low32(db::undark::UndarkValueToInt64(row[2]));
  r->createTime = Low32(db::undark::UndarkValueToInt64(row[3]));
  r->time = r->createTime;
  r->text = db::undark::UndarkValueText(row[4]);
  account.ftsContents.push_back(std::move(r));
}

// The first contact whose session summary made a message of text; null when
// none, or when that message's time contradicts time.
DBITEM_WxFriend* SessionContactOfText(CWxLocalUser& account, const std::string& text, std::int32_t time) {
  for (const auto& contact : account.contacts) {
    const WxSessionItem* item = contact->sessionItem;
    if (item == nullptr || item->created != 1 || item->message == nullptr || item->text != text) continue;
    const double messageTime = item->message->time;
    if (messageTime != 0 && time != 0 && messageTime != time) return nullptr;
    return contact.get();
  }
  return nullptr;
}

DBITEM_WxFriend* UnknownFriend(CWxLocalUser& account, std::int32_t usernameId) {
  char name[48];
  std::snprintf(name, sizeof name, kWxUnknownFriendFormat, usernameId);
  auto created = std::make_unique<DBITEM_WxFriend>();
  created->userName = name;
  created->usernameId = usernameId;
  DBITEM_WxFriend* made = created.get();
  DBITEM_WxFriend* existing = nullptr;
  return account.RegisterContact(created, kWxKindRecovered, false, &existing) == 1 ? made : existing;
}

// Article markup: where titles and links open and close, per mode.
struct ArticleMode {
  std::string_view titleOpen, titleClose, linkOpen, linkClose;
};
constexpr ArticleMode kNewsMode{"<title><![CDATA[", "]]>", "<url><![CDATA[", "]]>"};
constexpr ArticleMode kMailMode{"<subject><![CDATA[", "]]>", "<waplink><![CDATA[", "]]>"};
constexpr ArticleMode kMsgMode{"<title>", "</title>", "<url>", "</url>"};

bool StartsWithHttp(std::string_view text) {
  if (text.size() < 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    if ((text[i] | 0x20) != "http"[i]) return false;
  }
  return true;
}

// The markup of an article text and where its titles are looked for: the
// first of "<pushmail>" (mail), "<newitem>"/"<item>" (news) and "<msg>"
// found; news from the start when none is.
std::pair<const ArticleMode*, std::size_t> ArticleModeOf(const std::string& text) {
  if (const auto at = text.find("<pushmail>"); at != std::string::npos) return {&kMailMode, at};
  if (const auto at = std::min(text.find("<newitem>"), text.find("<item>")); at != std::string::npos) {
    return {&kNewsMode, at};
  }
  if (const auto at = text.find("<msg>"); at != std::string::npos) return {&kMsgMode, at};
  return {&kNewsMode, 0};
}

struct ArticleItem {
  std::string title;
  std::string link;
  std::size_t end = 0;  // after the link's closing markup
};

// The next title and its link from position from; none when any of their
// four markers is missing.
std::optional<ArticleItem> NextArticleItem(const std::string& text, const ArticleMode& mode, std::size_t from) {
  const std::size_t titleOpen = text.find(mode.titleOpen, from);
  if (titleOpen == std::string::npos) return std::nullopt;
  const std::size_t titleBegin = titleOpen + mode.titleOpen.size();
  const std::size_t titleEnd = text.find(mode.titleClose, titleBegin);
  if (titleEnd == std::string::npos) return std::nullopt;
  const std::size_t linkOpen = text.find(mode.linkOpen, titleEnd);
  if (linkOpen == std::string::npos) return std::nullopt;
  const std::size_t linkBegin = linkOpen + mode.linkOpen.size();
  const std::size_t linkEnd = text.find(mode.linkClose, linkBegin);
  if (linkEnd == std::string::npos) return std::nullopt;
  return ArticleItem{text.substr(titleBegin, titleEnd - titleBegin), text.substr(linkBegin, linkEnd - linkBegin),
                     linkEnd + mode.linkClose.size()};
}

// A link with text before its URL is cut to the URL (up to a "]"); a title
// in angle brackets loses them.
void TidyArticleItem(ArticleItem& item) {
  if (!StartsWithHttp(item.link)) {
    if (const auto http = item.link.find("http"); http != std::string::npos) {
      item.link = item.link.substr(http);
      item.link = item.link.substr(0, item.link.find(']'));
    }
  }
  if (!item.title.empty() && item.title.front() == '<') {
    item.title.erase(0, 1);
    if (!item.title.empty() && item.title.back() == '>') item.title.pop_back();
  }
}

std::string EscapedText(const std::string& text) {
  std::string html = exporting::EscapeHtml(text);
  exporting::ReplaceAll(html, "\r\n", "<br/>");
  exporting::ReplaceAll(html, "\n", "<br/>");
  return html;
}

// --- deleted rows of the message databases --------------------------------

// The nine columns of a message table, by name; the positions a file's own
// table puts them at.
constexpr std::array<std::string_view, kChatColumns> kChatColumnNames = {
    "TableVer", "MesLocalID", "MesSvrID", "CreateTime", "Message", "Status", "ImgStatus", "Type", "Des"};
enum ChatColumn { kTableVer, kMesLocalId, kMesSvrId, kCreateTime, kMessage, kStatus, kImgStatus, kType, kDes };
using ChatPositions = std::array<std::size_t, kChatColumns>;

// Where each named column sits in names; none unless all nine are there and
// nothing else.
std::optional<ChatPositions> ChatPositionsOf(const std::vector<std::string>& names) {
  if (names.size() != kChatColumns) return std::nullopt;
  ChatPositions positions{};
  for (std::size_t c = 0; c < kChatColumns; ++c) {
    const auto at = std::find(names.begin(), names.end(), kChatColumnNames[c]);
    if (at == names.end()) return std::nullopt;
    positions[c] = static_cast<std::size_t>(at - names.begin());
  }
  return positions;
}

// The positions of the order the app declares: each column where
// kChatColumnNames puts it.
ChatPositions DeclaredChatPositions() {
  ChatPositions positions{};
  for (std::size_t c = 0; c < kChatColumns; ++c) positions[c] = c;
  return positions;
}

// The column orders of the message tables in reader's file, each with the
// tables that have it; a table of another shape is in none. With no message
// table left, the order the app declares, for the rows of free pages.
std::map<ChatPositions, std::set<std::string>> ChatOrdersOf(CTencentWXDB& reader,
                                                            const std::map<std::uint32_t, std::string>& owners) {
  std::map<ChatPositions, std::set<std::string>> orders;
  std::set<std::string> seen;
  for (const auto& [page, table] : owners) {
    if (!table.starts_with("Chat_") || !seen.insert(table).second) continue;
    if (const auto positions = ChatPositionsOf(reader.ColumnNames(table))) orders[*positions].insert(table);
  }
  if (orders.empty()) orders[DeclaredChatPositions()];
  return orders;
}

// The layout of a message table's rows: CreateTime (a 4-byte time) starts
// every attempt, MesLocalID is the INTEGER PRIMARY KEY; the app writes every
// integer column, so a zero is serial type 8, never NULL.
db::undark::Layout ChatRowLayout(const ChatPositions& at) {
  using db::undark::SerialTypes;
  const db::undark::Rule integer = SerialTypes({1, 2, 3, 4, 5, 6, 8, 9});
  auto column = [&at](ChatColumn c) { return static_cast<int>(at[c]); };
  db::undark::LayoutBuilder builder =
      db::undark::LayoutBuilder::Anchored(kChatColumns, column(kCreateTime), {4}, integer);
  builder.Column({column(kTableVer)}, SerialTypes({8, 9}))
      .Column({column(kCreateTime)}, SerialTypes({4}))
      .Column({column(kMessage)}, db::undark::kText | SerialTypes({0}))
      .Column({column(kDes)}, SerialTypes({1, 8, 9}))
      .PrimaryKey(column(kMesLocalId));
  return builder.Build();
}

std::unique_ptr<DBITEM_WxChat> MessageOfRow(const UndarkRow& row, const ChatPositions& at, std::int32_t sourceDb,
                                            const readers::RowPlace& place) {
  auto value = [&row, &at](ChatColumn c) -> const db::undark::UndarkValue& { return row[at[c]]; };
  auto number = [&value](ChatColumn c) { return Low32(db::undark::UndarkValueToInt64(value(c))); };
  auto m = std::make_unique<DBITEM_WxChat>();
  m->tableVer = number(kTableVer);
  std::int64_t localId = -1;
  if (const std::string& id = value(kMesLocalId).text; !id.empty() && ParseDecimal(id, localId)) {
    m->localId = Low32(localId);
  }
  m->mesSvrId = number(kMesSvrId);
  m->createTime = number(kCreateTime);
  m->text = db::undark::UndarkValueText(value(kMessage));
  m->status = number(kStatus);
  m->imgStatus = number(kImgStatus);
  m->msgType = number(kType);
  m->direction = number(kDes);
  m->sourceDb = sourceDb;
  m->deleted = 1;
  if (place.inWal) m->deletedFrom = db::BaseItem::DeletedFrom::kWal;
  return m;
}


// Whether a row the layout let through is a message: its text decodes
// (valid UTF-8 without a zero byte) and its time is one WeChat could have
// written. A row whose end another cell was written over holds that cell's
// header in its text (a zero byte among it), and a row read from bytes that
// only look like its start has a text and a time made of other bytes.
bool LooksLikeMessage(const UndarkRow& row, const ChatPositions& at) {
  const db::undark::UndarkValue& text = row[at[kMessage]];
  if (text.type == db::undark::kTypeText &&
      (text.text.find('\0') != std::string::npos || !db::IsValidUtf8(text.text))) {
    return false;
  }
  return db::undark::UndarkValueToInt64(row[at[kCreateTime]]) >= kFirstMessageTime;
}

// "<time>/<text>" of a message made from the search index, as a recovered
// row of it would give.
std::string IndexMadeKey(std::int32_t createTime, std::string_view text) {
  return std::to_string(createTime) + "/" + std::string(text);
}

std::string_view WithoutMemberPrefix(const std::string& text) {
  const std::size_t end = text.find(kMemberPrefixEnd);
  return end == std::string::npos ? std::string_view(text)
                                  : std::string_view(text).substr(end + kMemberPrefixEnd.size());
}

// The messages read from the account's files, by SameMessageHash: a
// recovered row that repeats one is that message (or an older version of
// it), in whichever conversation it was found: a page in an older frame of
// the write-ahead log may have belonged to another table then.
std::unordered_set<std::size_t> FiledMessageHashes(const CWxLocalUser& account) {
  std::unordered_set<std::size_t> filed;
  for (const auto& contact : account.contacts) {
    for (db::BaseItem* item : contact->items) {
      const auto* m = static_cast<const DBITEM_WxChat*>(item);
      if (m->sourceDb >= 0) filed.insert(SameMessageHash(*m));
    }
  }
  return filed;
}

// A conversation's messages made from the search index, by IndexMadeKey: a
// recovered row of one completes it.
using IndexMadeMessages = std::unordered_map<std::string, DBITEM_WxChat*>;

IndexMadeMessages IndexMadeMessagesOf(const DBITEM_WxFriend& contact) {
  IndexMadeMessages made;
  for (db::BaseItem* item : contact.items) {
    auto* m = static_cast<DBITEM_WxChat*>(item);
    if (m->sourceDb < 0 && m->localId == -1 && m->indexRecord) {
      made.emplace(IndexMadeKey(m->createTime, m->indexRecord->text), m);
    }
  }
  return made;
}

// A message made from the index, completed with the row recovered of it.
void CompleteIndexMade(DBITEM_WxFriend& contact, DBITEM_WxChat& made, std::unique_ptr<DBITEM_WxChat> row) {
  made.tableVer = row->tableVer;
  made.mesSvrId = row->mesSvrId;
  made.text = std::move(row->text);
  made.status = row->status;
  made.imgStatus = row->imgStatus;
  made.msgType = row->msgType;
  made.direction = row->direction;
  made.sourceDb = row->sourceDb;
  made.sender = nullptr;
  AssignSender(contact, made);
  if (made.sender == nullptr) made.sender = &contact;
}

// Files a recovered row into contact unless it repeats a message filed
// already.
void FileRecoveredRow(DBITEM_WxFriend& contact, IndexMadeMessages& indexMade, std::unordered_set<std::size_t>& filed,
                      std::unique_ptr<DBITEM_WxChat> m) {
  if (!filed.insert(SameMessageHash(*m)).second) return;
  if (const auto made = indexMade.find(IndexMadeKey(m->createTime, WithoutMemberPrefix(m->text)));
      made != indexMade.end()) {
    CompleteIndexMade(contact, *made->second, std::move(m));
    indexMade.erase(made);
    return;
  }
  AttachMessage(contact, std::move(m));
}

// Rows of free pages: to the conversation that holds the same message made
// from the search index; the rest go to "未知好友_0" (the search index
// numbers its conversations from 1).
void PlaceUnownedRows(CWxLocalUser& account, std::vector<std::unique_ptr<DBITEM_WxChat>>& rows,
                      std::unordered_set<std::size_t>& filed,
                      const std::function<IndexMadeMessages&(DBITEM_WxFriend&)>& indexMadeOf) {
  std::unordered_map<std::string, DBITEM_WxFriend*> byIndexMade;
  for (const auto& contact : account.contacts) {
    for (const auto& [key, message] : indexMadeOf(*contact)) byIndexMade.emplace(key, contact.get());
  }
  DBITEM_WxFriend* unknown = nullptr;
  for (auto& m : rows) {
    if (filed.contains(SameMessageHash(*m))) continue;
    DBITEM_WxFriend* contact = nullptr;
    if (const auto made = byIndexMade.find(IndexMadeKey(m->createTime, WithoutMemberPrefix(m->text)));
        made != byIndexMade.end()) {
      contact = made->second;
    } else {
      if (unknown == nullptr) unknown = UnknownFriend(account, 0);
      contact = unknown;
    }
    if (contact == nullptr) continue;
    FileRecoveredRow(*contact, indexMadeOf(*contact), filed, std::move(m));
  }
  rows.clear();
}

}  // namespace

const std::string& DBITEM_WxChat::ShownText() const {
  return (localId == -1 && indexRecord) ? indexRecord->text : text;
}

std::size_t SameMessageHash(const DBITEM_WxChat& message) {
  // Mixed in a 64-bit hash: a collision would take two messages for one,
  // as likely as two random 64-bit numbers agreeing.
  auto mix = [](std::uint64_t h, std::uint64_t v) { return (h ^ v) * 0x100000001B3ULL + 0x9E3779B97F4A7C15ULL; };
  const auto time = static_cast<std::uint32_t>(message.createTime);
  if (message.mesSvrId != 0) return mix(mix(1, static_cast<std::uint32_t>(message.mesSvrId)), time);
  // A room message loses its "name:\n" prefix when it is filed; the hash
  // leaves it out so that a row compares equal before and after. The type
  // is left out too: filing turns an emoji's type into kWxMsgEmoji.
  const std::size_t prefixEnd = message.text.find(kMemberPrefixEnd);
  const std::string_view text =
      prefixEnd == std::string::npos ? std::string_view(message.text)
                                     : std::string_view(message.text).substr(prefixEnd + kMemberPrefixEnd.size());
  return mix(mix(mix(2, time), static_cast<std::uint32_t>(message.direction)), std::hash<std::string_view>{}(text));
}

std::int64_t MessageKey(const DBITEM_WxChat& message) {
  if (message.localId != -1) return KeyOf(message.localId, 0);
  if (message.indexRecord) return KeyOf(message.indexRecord->localId, message.indexRecord->createTime);
  return 0;
}

void RecoverDeletedMessages(CWxLocalUser& account) {
  std::unordered_map<std::string, DBITEM_WxFriend*> byTable;
  for (const auto& contact : account.contacts) {
    if (!contact->userMd5.empty()) byTable.emplace("Chat_" + contact->userMd5, contact.get());
  }
  std::unordered_set<std::size_t> filed = FiledMessageHashes(account);
  std::unordered_map<DBITEM_WxFriend*, IndexMadeMessages> indexMade;
  const std::function<IndexMadeMessages&(DBITEM_WxFriend&)> indexMadeOf =
      [&indexMade](DBITEM_WxFriend& contact) -> IndexMadeMessages& {
    auto found = indexMade.find(&contact);
    if (found == indexMade.end()) found = indexMade.emplace(&contact, IndexMadeMessagesOf(contact)).first;
    return found->second;
  };
  std::vector<std::unique_ptr<DBITEM_WxChat>> unowned;
  for (std::size_t file = 0; file < account.messageDbs.size(); ++file) {
    CTencentWXDB& reader = *account.messageDbs[file];
    const readers::PageTables pages(reader);
    const auto sourceDb = static_cast<std::int32_t>(file);
    const auto orders = ChatOrdersOf(reader, pages.WithLog());
    std::set<std::string> chatTables;
    for (const auto& [positions, tables] : orders) chatTables.insert(tables.begin(), tables.end());
    // Free pages tell no order: the app's declared one reads them when a
    // table of the file has it, else the file's first.
    const ChatPositions freePagesOrder =
        orders.contains(DeclaredChatPositions()) ? DeclaredChatPositions() : orders.begin()->first;
    // One scan per column order: a row read in another table's order is junk.
    for (const auto& [positions, tables] : orders) {
      const bool takesFreePages = positions == freePagesOrder;
      readers::ScanRows(reader, ChatRowLayout(positions), [&](UndarkRow& row, const readers::RowPlace& place) {
        if (row.size() != kChatColumns || !LooksLikeMessage(row, positions)) return;
        // An interior page holds the child pointers of its table (shaped
        // like a row often enough) and leftovers of rows now live below it.
        const readers::PageTables::Owner owner = pages.OwnerOf(place);
        if (owner.interior) return;
        // A free page, or one of a message table the log dropped since
        // (whose order is no longer known).
        if (owner.table == nullptr || (owner.table->starts_with("Chat_") && !chatTables.contains(*owner.table))) {
          if (takesFreePages) unowned.push_back(MessageOfRow(row, positions, sourceDb, place));
          return;
        }
        // A page of another table, of another order, or of a conversation
        // no contact names.
        const auto contact = byTable.find(*owner.table);
        if (contact == byTable.end() || !tables.contains(*owner.table)) return;
        FileRecoveredRow(*contact->second, indexMadeOf(*contact->second), filed,
                         MessageOfRow(row, positions, sourceDb, place));
      });
    }
  }
  if (!unowned.empty()) PlaceUnownedRows(account, unowned, filed, indexMadeOf);
}

void ParseWxDatabaseRow(CTencentWXDB& reader, int tableKind, std::unique_ptr<db::BaseItem>& out,
                        db::CppSQLite3Query& query) {
  out.reset();
  CWxLocalUser* account = reader.Owner();
  switch (reader.OpenParam()) {
    case kWxMessageDb:
      if (tableKind == kWxChatTable) {
        auto m = std::make_unique<DBITEM_WxChat>();
        ReadChatRow(*m, query);
        // A table of fewer columns is not read: asking for the last column
        // raises the wrapper's error, which ends the load.
        query.GetFieldType(kChatColumns - 1);
        out = std::move(m);
      } else if (tableKind == kWxChatExtTable) {
        auto e = std::make_unique<DBITEM_WxChatExt2>();
        ReadExtensionRow(*e, query);
        out = std::move(e);
      }
      return;
    case kWxSessionDb:
      if (tableKind == 0 && account != nullptr) ReadSessionRow(*account, query);
      return;
    case kWxFtsDb:
      if (tableKind == 0 && account != nullptr) ReadIndexNameRow(*account, query);
      if (tableKind == 1) out = ReadIndexContentRow(query);
      return;
    default: reader.db::CDbSqlite::ParseRow(tableKind, out, query); return;
  }
}

int LoadContactMessages(CWxLocalUser& account, std::size_t contactIndex, int table) {
  if (contactIndex >= account.contacts.size()) return 0;
  DBITEM_WxFriend& contact = *account.contacts[contactIndex];
  switch (table) {
    case kWxChatTable: return LoadChatTable(account, contact);
    case kWxChatExtTable: return LoadExtensionTable(account, contact);
    case kWxIndexTable: return LoadIndexRows(account, contact);
    default: return 0;
  }
}

void AttachMessage(DBITEM_WxFriend& contact, std::unique_ptr<DBITEM_WxChat> message) {
  if (!message) return;
  DBITEM_WxChat& m = *message;
  m.time = m.createTime;
  m.parent = &contact;
  AssignSender(contact, m);
  if (m.sender == nullptr) m.sender = &contact;
  if (m.msgType == kWxMsgPicture || m.msgType == kWxMsgVideo) FindMediaFile(contact, m);
  ExtractEmojiUrl(m);
  contact.messagesByKey[MessageKey(m)] = &m;
  contact.messagesByText[m.ShownText()] = &m;
  contact.items.push_back(&m);
  contact.ownedItems.push_back(std::move(message));
}

int AttachIndexRecord(DBITEM_WxFriend& contact, std::unique_ptr<DBITEM_WxBakChatContent>& record) {
  if (!record) return 0;
  if (DBITEM_WxChat* m = MessageUnder(contact, KeyOf(record->localId, 0));
      m != nullptr && m->createTime == record->createTime) {
    if (m->indexRecord) return 0;
    m->indexRecord = std::move(record);
    return 1;
  }
  if (MessageUnder(contact, KeyOf(record->localId, record->createTime)) != nullptr) return 0;
  // A message recovered from a message file whose cell no longer tells its
  // local ID is the index row's message when text and time agree.
  if (const auto found = contact.messagesByText.find(record->text); found != contact.messagesByText.end()) {
    auto* m = static_cast<DBITEM_WxChat*>(found->second);
    if (m->localId == -1 && m->sourceDb >= 0 && m->createTime == record->createTime && !m->indexRecord) {
      m->indexRecord = std::move(record);
      return 1;
    }
  }
  auto m = std::make_unique<DBITEM_WxChat>();
  m->createTime = record->createTime;
  m->deleted = 1;
  m->deletedFrom = record->deletedFrom;
  m->indexRecord = std::move(record);
  AttachMessage(contact, std::move(m));
  return 1;
}

void LoadSearchIndex(CWxLocalUser& account) {
  if (!account.ftsDb) return;
  db::ItemList handedBack;  // stays empty: rows are registered, not handed back
  account.ftsDb->LoadTable(0, handedBack);
  const auto names = [&account](UndarkRow& row) {
    if (row.size() == kIndexNamesValues) RecoverIndexName(account, row);
  };
  const readers::FoundRowSink contents = [&account](UndarkRow& row, const readers::RowPlace& place) {
    if (row.size() == kIndexContentsValues) RecoverIndexContent(account, row, place);
  };
  readers::ScanRows(*account.ftsDb, kIndexNamesLayout, db::undark::LayoutColumnCount(kIndexNamesLayout), names);
  readers::ScanRows(*account.ftsDb, kIndexContentsLayout, db::undark::LayoutColumnCount(kIndexContentsLayout),
                    contents);
}

void MatchIndexRecords(CWxLocalUser& account) {
  auto& records = account.ftsContents;
  for (std::size_t i = records.size(); i-- > 0;) {
    auto& r = static_cast<DBITEM_WxBakChatContent&>(*records[i]);
    if (account.contactsByUsernameId.contains(r.usernameId) || r.text.empty()) continue;
    DBITEM_WxFriend* contact = SessionContactOfText(account, r.text, r.createTime);
    if (contact == nullptr) continue;
    contact->usernameId = r.usernameId;
    auto& message = static_cast<DBITEM_WxChat&>(*contact->sessionItem->message);
    message.time = r.time;
    message.createTime = r.createTime;
    account.contactsByUsernameId[r.usernameId] = contact;
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (std::size_t i = records.size(); i-- > 0;) {
    std::unique_ptr<DBITEM_WxBakChatContent> r(static_cast<DBITEM_WxBakChatContent*>(records[i].release()));
    const auto mapped = account.contactsByUsernameId.find(r->usernameId);
    DBITEM_WxFriend* contact =
        mapped != account.contactsByUsernameId.end() ? mapped->second : UnknownFriend(account, r->usernameId);
    if (contact != nullptr) AttachIndexRecord(*contact, r);  // a duplicate is freed with r
  }
  records.clear();
}

std::string RenderAppMessage(const std::string& text) {
  if (text.empty()) return text;
  const auto [mode, searchFrom] = ArticleModeOf(text);
  std::string rows;
  int count = 0;
  bool numbered = false;
  std::size_t pos = searchFrom;
  while (auto item = NextArticleItem(text, *mode, pos)) {
    ++count;
    pos = item->end;
    if (count == 1) numbered = text.find(mode->titleOpen, pos) != std::string::npos;
    if (numbered) rows += (count == 1 ? "" : "<br/>") + std::to_string(count) + ".";
    TidyArticleItem(*item);
    if (!item->link.empty()) rows += exporting::LinkRow(item->link, item->title);
  }
  return count == 0 ? EscapedText(text) : rows;
}

}  // namespace chat
