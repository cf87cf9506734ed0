#pragma once
// The record model: every piece of phone data the system shows or exports is
// a record derived from BaseItem; records that group others derive from
// FriendItem.
//
// Times: every record time (BaseItem::time, and any other time a record type
// exposes, such as a calendar item's endDate) is Unix seconds, with the
// fraction where the phone keeps one; 0 means the record has no time.
// Readers convert what the phone stores as they read a row, live or rebuilt
// (db/item_time.h), so output and comparisons never have to tell units apart.
//
// Ownership: a reader owns the records it made (ItemList holds them); group
// records list their members by plain pointer and do not own them unless a
// derived group type says so. Records are used on the analysis worker while
// it runs, then by the UI thread until the next analysis replaces the reader.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace db {

class FriendItem;

class BaseItem {
 public:
  BaseItem() = default;
  virtual ~BaseItem() = default;
  BaseItem(const BaseItem&) = delete;
  BaseItem& operator=(const BaseItem&) = delete;

  // The text shown as the record's name and used when sorting by name.
  // Empty unless a record type says otherwise.
  virtual const std::string& Title() const;
  // The text the browser's search box matches.
  virtual const std::string& SearchText() const;

  // Where a deleted record was found. Read only when deleted is 1.
  enum class DeletedFrom : std::uint8_t {
    kFreeSpace,        // rebuilt from the bytes of deleted rows
    kRecentlyDeleted,  // still a row, kept by the app for a while after the owner deleted it
    kWal,              // an older version of the row left in the write-ahead log
  };

  void* row = nullptr;           // the browser's list row showing this record; set by the browser
  std::int32_t deleted = 0;      // 1 when the owner deleted it (see deletedFrom)
  DeletedFrom deletedFrom = DeletedFrom::kFreeSpace;
  double deletedAt = 0;          // Unix seconds the app noted the deletion at; 0 when unknown
  std::int32_t checked = 0;      // 1 when ticked for recovery
  double time = 0;               // Unix seconds; 0 for none (see Times above)
  FriendItem* sender = nullptr;  // who authored the record; not owned
  FriendItem* parent = nullptr;  // the group that holds the record; not owned
};

// Deletes every record of a list, last to first, and empties it.
using ItemList = std::vector<std::unique_ptr<BaseItem>>;
void DeleteAll(ItemList& list);

inline constexpr std::size_t kSubListCount = 10;

// A group record: a conversation, a contact with its numbers, an account, an
// album. Destroying it frees its lists but not the members they point to.
class FriendItem : public BaseItem {
 public:
  FriendItem() = default;
  // The group's own display text (keyText).
  const std::string& Title() const override { return keyText; }
  const std::string& SearchText() const override { return keyText; }

  std::int32_t kind = -1;        // class of the group, defined by the reader using it
  std::int32_t deletedCount = 0; // number of deleted members, where a reader keeps it
  std::string keyText;           // the display name, where a reader keeps it here
  std::string keyTextNarrow;     // an identifier or address, e.g. the avatar's
  std::int32_t subListIndex = 0; // which of subLists the browser shows
  std::vector<BaseItem*> items;
  std::array<std::vector<BaseItem*>, kSubListCount> subLists;
};

// One row of a database's schema table (sqlite_master).
class DBITEM_TbNameList : public BaseItem {
 public:
  const std::string& Title() const override { return name; }
  const std::string& SearchText() const override { return name; }

  std::string type;
  std::string name;
  std::string tbl_name;
  std::int32_t rootpage = 0;
  std::string sql;
};

// Puts records in front of a group's items, in the order given, and hands
// their ownership to owned (the group's owning list): one step for all the
// recovered members of a group, where filing them one by one at the front
// would move the whole list each time.
template <class Record>
void PrependOwned(std::vector<BaseItem*>& items, std::vector<std::unique_ptr<Record>>& owned,
                  std::vector<std::unique_ptr<Record>> records) {
  if (records.empty()) return;
  std::vector<BaseItem*> ordered;
  ordered.reserve(records.size() + items.size());
  owned.reserve(owned.size() + records.size());
  for (auto& record : records) {
    ordered.push_back(record.get());
    owned.push_back(std::move(record));
  }
  ordered.insert(ordered.end(), items.begin(), items.end());
  items = std::move(ordered);
}

// The records of an owning list as the plain pointers the browser and the
// export steps take, in order.
template <class Record>
std::vector<BaseItem*> ItemPointers(const std::vector<std::unique_ptr<Record>>& records) {
  std::vector<BaseItem*> items;
  items.reserve(records.size());
  for (const auto& record : records) items.push_back(record.get());
  return items;
}

}  // namespace db
