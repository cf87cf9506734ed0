#pragma once
// CCalendarDB: the phone's calendar store (Calendar.sqlitedb), whose table
// CalendarItem holds both calendar events (entity_type 2, data category 6)
// and reminders (entity_type 3, category 9). Live items come through SQL
// with the title of their Location row; items rebuilt from deleted rows (in
// the file and in every frame of its write-ahead log) are listed first,
// without those that repeat a live item.
//
// Deleted rows of the 67 columns layout 12 was made for (recovered values
// by position):
//   0 ROWID, 1 summary, 2 location_id, 4 description, 5 start_date (a
//   4-byte integer), 7 end_date (NULL or a 4-byte integer), 20
//   last_modified, 35 UUID, 36 entity_type, 37 priority, 41 completion_date
// Any other shape (52 columns on iOS 7, 76 on iOS 14) is scanned with the
// layout made from the table's live shape (readers/live_table.h) and its
// rows read by name as live rows are; only events and reminders whose dates
// fall between 1970 and 2100 are kept. A rebuilt row whose UUID, or ROWID
// where it reads back, is a live item's is an older version of it and
// passed over. Items rebuilt from rows found only in the log are
// deletedFrom wal.
//
// Threads: Open runs on the analysis worker; afterwards the items are only
// read (by the browser and the recovery run) until the reader is destroyed.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/db_sqlite.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class CExportWriter;
}

namespace readers {

// entity_type of CalendarItem, and the kind of list a reader is set up for.
inline constexpr int kCalendarEvent = 2;
inline constexpr int kCalendarReminder = 3;

// One event or reminder (despite the name, a single item). Texts are UTF-8.
class DBITEM_CalendarFriend : public db::BaseItem {
 public:
  const std::string& Title() const override { return summary; }
  const std::string& SearchText() const override { return summary; }

  std::int32_t listMark = 0;  // -1 when the entity type is not the one the reader wants: not shown
  std::int32_t rowId = -1;    // ROWID; -1 for a rebuilt item whose key is lost with its cell's start
  std::int32_t locationId = 0;
  std::int32_t entityType = 0;  // kCalendarEvent or kCalendarReminder
  std::int32_t priority = 0;    // 1 is high
  std::string summary;
  std::string description;
  std::string locationTitle;    // empty when the item has no Location row
  double completionDate = 0;    // completion_date as Unix seconds; 0 while a reminder is open
  // Reminders of a reminders store (reminder_store_db.h) only:
  std::string listName;  // the name of the reminder's list; empty in Calendar.sqlitedb
  bool completed = false;  // ZCOMPLETED: done even when the store kept no completion date
  bool flagged = false;    // ZFLAGGED
  double endDate = 0;           // end_date, or last_modified when end_date is not above 0; Unix seconds
  // time: start_date, or creation_date when start_date is not above 0; Unix
  // seconds.
};

class CCalendarDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index (not owned; may be null). The
  // store holds everything the items need, so it is only kept.
  explicit CCalendarDB(backup::CFileListDB* index);
  ~CCalendarDB() override;

  // kCalendarEvent or kCalendarReminder; set before Open. Items of the other
  // type are kept but marked listMark -1.
  int wantedEntityType = kCalendarEvent;

  // Kind 0: "CalendarItem", kind 1: "Location" while opened with param 0,
  // else "".
  std::string GetTableName(int tableKind) override;
  // Kind 0: one CalendarItem row into a DBITEM_CalendarFriend; kind 1: one
  // Location row, whose title goes to the item being read (nothing handed
  // back).
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the live items (param 0) with their locations, rebuilds the
  // deleted ones and merges them. Returns the base's status (and no items) when
  // the database cannot be opened, else ok; a store without CalendarItem
  // opens with none.
  base::Status Open(const std::string& path, int param) override;

  // Rebuilt items first (in the order the scan found them; of two with one
  // CalendarKey the later found, see db/merge_recovered.h), then the live
  // items in table order; other-type items stay, marked -1. Owned here;
  // they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_CalendarFriend>>& Entries() const { return entries_; }
  // The same items as plain pointers, for the browser and the export.
  std::vector<db::BaseItem*> EntryItems() const;
  // The live table's column count as LoadTable reported it; 0 when it could
  // not be read.
  int ColumnCount() const { return columnCount_; }

 private:
  void AttachLocations();
  void RecoverCalendarItems();
  void MergeRecoveredItems();

  // The analysis's index, kept for lookups of the files a record names.
  [[maybe_unused]] backup::CFileListDB* index_;
  std::vector<std::unique_ptr<DBITEM_CalendarFriend>> entries_;
  std::vector<std::unique_ptr<DBITEM_CalendarFriend>> recoveredItems_;
  // ROWID and UUID of every live item: a rebuilt row with one of them is an
  // older version of a live row.
  std::set<std::int64_t> liveRowIds_;
  std::set<std::string> liveUuids_;
  int columnCount_ = 0;
  DBITEM_CalendarFriend* currentItem_ = nullptr;  // whose Location row is being read
};

// The key under which a rebuilt item repeats a live one: the first 12
// UTF-16 units of the summary followed by the time with six decimals
// ("%s%f"). Two items whose summaries differ only after the twelfth
// character and that start at the same second share a key.
std::string CalendarKey(const DBITEM_CalendarFriend& item);

// Writes the category's CSV header and one line per item (in the order
// given; records of other types are passed over), each with the item's
// deleted flag, for wantedEntityType:
//   kCalendarEvent     "标题,开始日期,结束日期,位置,备注"
//   kCalendarReminder  "标题,列表,状态,日期,位置,优先级,备注" (列表 the
//                      listName, "提醒" when it is empty; 状态 "已完成" when
//                      completed or completionDate is above 0, else "未完成";
//                      优先级 "高" for priority 1, else "普通")
// Any other type writes nothing. The notes go through db::CsvQuoteField; a
// summary, list name or location holding a comma, a quote or a line break
// does too, so the line keeps its columns. Runs on the recovery worker.
void WriteCalendarCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& items, int wantedEntityType);

}  // namespace readers
