#include "chat/wechat_session.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "backup/encrypted_backup.h"
#include "chat/wechat_messages.h"
#include "db/progress.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "platform/fs.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using Bytes = std::span<const std::uint8_t>;

// The marker block's 16 raw bytes start 3 bytes after its 08 00 10; its
// text's length follows them.
constexpr std::uint64_t kMarkerBytesOffset = 3;
constexpr std::uint64_t kMarkerBytesCount = 16;
constexpr std::uint64_t kMarkerLengthOffset = kMarkerBytesOffset + kMarkerBytesCount;
// The walk starts at the last 0x0A among the first 16 bytes.
constexpr std::uint64_t kStartWindow = 16;
// Five base-128 bytes give 35 bits, more than any file.
constexpr std::size_t kMaxLengthBytes = 5;

// Session rows left deleted in session.db: layout 19, the user name at 0,
// the time at 1 and the file's path at 5.
constexpr int kSessionLayout = 19;
constexpr std::size_t kSessionPathValue = 5;
// A summary holds one message; anything this large is not one, and is not
// read into memory.
constexpr std::uintmax_t kMaxSessionFileBytes = 16u << 20;
// Record 0 names the conversation; its display name is among the next four.
constexpr std::size_t kLastDisplayNameRecord = 4;
constexpr std::string_view kMemberPrefixEnd = ":\n";

bool IsNumberTag(std::uint8_t tag) { return tag == 0x48 || tag == 0x50 || tag == 0x58; }

// A base-128 length at offset (low group first, at most five bytes): its
// value and the number of bytes after the first; none when it runs past the
// data.
struct Length {
  std::uint64_t value = 0;
  std::uint64_t extraBytes = 0;
};
std::optional<Length> ReadLength(Bytes data, std::uint64_t offset) {
  Length length;
  for (std::size_t i = 0; i < kMaxLengthBytes; ++i) {
    if (offset + i >= data.size()) return std::nullopt;
    const std::uint8_t byte = data[offset + i];
    length.value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) {
      length.extraBytes = i;
      return length;
    }
  }
  length.extraBytes = kMaxLengthBytes - 1;
  return length;
}

// The bytes [begin, begin + count) of data, which the caller has checked.
std::string RawBytes(Bytes data, std::uint64_t begin, std::uint64_t count) {
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(begin);
  return std::string(first, first + static_cast<std::ptrdiff_t>(count));
}

std::string TextBytes(Bytes data, std::uint64_t begin, std::uint64_t count) {
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(begin);
  const auto last = first + static_cast<std::ptrdiff_t>(count);
  return db::RepairUtf8(std::string(first, std::find(first, last, std::uint8_t{0})));
}

std::optional<std::uint64_t> FindMarker(Bytes data) {
  for (std::uint64_t m = 0; m + 2 < data.size(); ++m) {
    if (data[m] == 0x08 && data[m + 1] == 0x00 && data[m + 2] == 0x10) return m;
  }
  return std::nullopt;
}

// The 0x12 field that holds the marker block: the nearest 0x12 before the
// marker, not looking at byte 0.
std::uint64_t SubBlockStart(Bytes data, std::uint64_t marker) {
  for (std::uint64_t b = marker; b-- > 1;) {
    if (data[b] == 0x12) return b;
  }
  return 0;
}

std::uint64_t StartPosition(Bytes data) {
  const std::uint64_t window = std::min<std::uint64_t>(kStartWindow, data.size());
  for (std::uint64_t i = window; i-- > 0;) {
    if (data[i] != 0x0A) continue;
    return (i > 0 && data[i - 1] == 0x0A) ? i - 1 : i;
  }
  return 0;
}

// --- the account's session summaries -------------------------------------

// The stored file of a session row's path (relative to the account's
// folder); "" when the backup has none or the path would leave the folder.
std::string SessionFileOf(const CWxLocalUser& account, const std::string& rowPath) {
  const std::string relative = rowPath.substr(std::min(rowPath.find_first_not_of('/'), rowPath.size()));
  if (relative.empty()) return {};
  for (const auto& part : std::filesystem::path(relative)) {
    if (part == "..") return {};
  }
  return account.FindAccountFile(relative);
}

void RegisterRowFile(CWxLocalUser& account, const std::string& rowPath, const std::string& userName,
                     std::int32_t time, bool fromWal) {
  const std::string path = SessionFileOf(account, rowPath);
  if (path.empty()) return;
  if (WxSessionItem* item = RegisterSessionFile(account, path)) {
    item->userName = userName;
    item->time = time;
    item->fromWal = fromWal;
  }
}

std::optional<std::vector<std::uint8_t>> ReadSessionFile(const std::string& path) {
  const std::optional<std::int64_t> size = backup::StoredFileSize(path);
  if (!size || *size > static_cast<std::int64_t>(kMaxSessionFileBytes) || !backup::ReadyStoredFile(path)) {
    return std::nullopt;
  }
  return platform::ReadWholeFile(path);
}

// The conversation of a session file: its contact, or a new deleted one.
DBITEM_WxFriend* ConversationOf(CWxLocalUser& account, const std::string& userName) {
  if (DBITEM_WxFriend* known = account.FindContact(userName)) return known;
  auto created = std::make_unique<DBITEM_WxFriend>();
  created->userName = userName;
  created->deleted = 1;
  DBITEM_WxFriend* made = created.get();
  DBITEM_WxFriend* existing = nullptr;
  return account.RegisterContact(created, kWxKindClassify, true, &existing) == 1 ? made : existing;
}

// Ties a session item to its conversation: to the message of the same text,
// or as a new deleted message when the conversation has none.
void AttachSessionItem(CWxLocalUser& account, DBITEM_WxFriend& contact, WxSessionItem& item) {
  contact.sessionItem = &item;
  if (const auto p = item.text.find(kMemberPrefixEnd); p != std::string::npos) {
    item.text.erase(0, p + kMemberPrefixEnd.size());
  }
  if (const auto found = contact.messagesByText.find(item.text); found != contact.messagesByText.end()) {
    item.message = found->second;
    return;
  }
  item.created = 1;
  auto message = std::make_unique<DBITEM_WxChat>();
  message->createTime = item.time;
  message->text = item.text;
  message->deleted = 1;
  if (item.fromWal) message->deletedFrom = db::BaseItem::DeletedFrom::kWal;
  DBITEM_WxChat* made = message.get();
  AttachMessage(contact, std::move(message));
  if (item.senderName == account.userName) {
    made->sender = &account;
  } else if (DBITEM_WxFriend* sender = account.FindContact(item.senderName)) {
    made->sender = sender;
  } else {
    made->sender = &contact;
  }
  item.message = made;
}

void ReadSessionItem(CWxLocalUser& account, WxSessionItem& item) {
  const auto bytes = ReadSessionFile(item.path);
  if (!bytes) return;
  const std::vector<SessionRecord> records = ParseSessionRecords(*bytes);
  if (records.empty() || records.front().text.empty()) return;
  item.userName = records.front().text;
  DBITEM_WxFriend* contact = ConversationOf(account, item.userName);
  if (contact == nullptr) return;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const SessionRecord& record = records[i];
    if (record.tag == kSessionDisplayNameTag && i <= kLastDisplayNameRecord) contact->DisplayName() = record.text;
    if (record.tag == kSessionSenderTag) item.senderName = record.text;
    if (record.tag == kSessionTextTag) {
      item.text = record.text;
      break;
    }
  }
  if (!item.text.empty()) AttachSessionItem(account, *contact, item);
}

}  // namespace

WxSessionItem* RegisterSessionFile(CWxLocalUser& account, const std::string& path) {
  if (path.empty() || account.sessionItemsByPath.contains(path) || !backup::ReadyStoredFile(path)) return nullptr;
  auto item = std::make_unique<WxSessionItem>();
  item->path = path;
  WxSessionItem* added = item.get();
  account.sessionItems.push_back(std::move(item));
  account.sessionItemsByPath[path] = added;
  return added;
}

void ReadSessionRow(CWxLocalUser& account, const db::CppSQLite3Query& query) {
  const int timeColumn = query.FieldIndex("CreateTime");
  RegisterRowFile(account, db::FieldText(query, "ConStrRes1"), db::FieldText(query, "UsrName"),
                  static_cast<std::int32_t>(query.GetInt64Field(timeColumn)), false);
}

void LoadSessionSummaries(CWxLocalUser& account) {
  if (!account.sessionDb) return;
  const float share = account.progressShare;
  db::ItemList handedBack;  // stays empty: rows are registered, not handed back
  account.sessionDb->LoadTable(0, handedBack);
  db::ReportProgress(account.progress, true, 0.02f * share);
  db::undark::UndarkRowList rows;
  std::vector<bool> inWal;
  readers::ScanRows(*account.sessionDb, kSessionLayout, db::undark::LayoutColumnCount(kSessionLayout),
                    [&](db::undark::UndarkRow& row, const readers::RowPlace& place) {
                      rows.push_back(std::move(row));
                      inWal.push_back(place.inWal);
                    });
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const db::undark::UndarkRow& row = rows[i];
    if (row.size() > kSessionPathValue) {
      RegisterRowFile(account, db::undark::UndarkValueText(row[kSessionPathValue]),
                      db::undark::UndarkValueText(row[0]),
                      static_cast<std::int32_t>(db::undark::UndarkValueToInt64(row[1])), inWal[i]);
    }
    db::ReportProgress(account.progress, true, 0.1f * share / static_cast<float>(rows.size()));
  }
}

void RegisterSessionFilesWithoutRow(CWxLocalUser& account) {
  for (const std::string& path : account.sessionFilePaths) RegisterSessionFile(account, path);
}

void ReadSessionFiles(CWxLocalUser& account) {
  for (std::size_t i = 0; i < account.sessionItems.size(); ++i) ReadSessionItem(account, *account.sessionItems[i]);
}

std::vector<SessionRecord> ParseSessionRecords(Bytes data) {
  std::vector<SessionRecord> records;
  const std::uint64_t length = data.size();
  // A flag and a plain number rather than the optional itself: g++ 12 warns
  // of an uninitialised optional in this loop where there is none.
  const std::optional<std::uint64_t> found = FindMarker(data);
  bool marker = found.has_value();
  const std::uint64_t markerAt = found.value_or(0);
  const std::uint64_t subBlock = marker ? SubBlockStart(data, markerAt) : 0;
  std::uint64_t pos = StartPosition(data);
  while (pos + 2 < length) {
    const std::uint8_t tag = data[pos];
    if (IsNumberTag(tag)) {
      pos += 2;
      continue;
    }
    if (marker && pos >= subBlock) {
      // The marker block is read once; afterwards pos only moves forward, so
      // the walk ends. A block cut off by the end of the data ends the walk:
      // what follows it cannot be found.
      const std::uint64_t m = markerAt;
      marker = false;
      if (m + kMarkerLengthOffset >= length) break;
      const auto textLength = ReadLength(data, m + kMarkerLengthOffset);
      if (!textLength) break;
      const std::uint64_t textBegin = m + kMarkerLengthOffset + 1 + textLength->extraBytes;
      if (textBegin > length || textLength->value > length - textBegin) break;
      records.push_back({kSessionMarkerBytesTag, RawBytes(data, m + kMarkerBytesOffset, kMarkerBytesCount)});
      records.push_back({kSessionMarkerTextTag, TextBytes(data, textBegin, textLength->value)});
      pos = textBegin + textLength->value;
      continue;
    }
    const std::uint8_t lengthByte = data[pos + 1];
    if (lengthByte == 0) {
      pos += 2;
      continue;
    }
    if (lengthByte == 1) {
      pos += data[pos + 2] != 0 ? 5 : 3;
      continue;
    }
    const auto fieldLength = ReadLength(data, pos + 1);
    const std::uint64_t begin = pos + 2 + (fieldLength ? fieldLength->extraBytes : 0);
    if (!fieldLength || begin > length || fieldLength->value > length - begin) {
      // A field that runs past the end: retry from the marker block's field
      // when the file has one still unread (it lies ahead, since pos is
      // below it here), else stop.
      if (!marker) break;
      pos = subBlock;
      continue;
    }
    records.push_back({tag, TextBytes(data, begin, fieldLength->value)});
    pos = begin + fieldLength->value;
  }
  return records;
}

}  // namespace chat
