#pragma once
// CReminderStoreDB: a reminders store of iOS 13 and later, the Core Data
// store Container_v1/Stores/Data-<UUID>.sqlite (or Data-local.sqlite) that
// replaced the reminders of Calendar.sqlitedb, one per account. Its
// reminders become DBITEM_CalendarFriend items of kCalendarReminder, so they
// list and export as the reminders of the calendar store do, with the name
// of their list. The store is laid out in docs/formats/reminders_store.md.
//
// Shapes (columns read by name; a column a store lacks reads empty or 0):
//   iOS 16 on   the rows of ZREMCDREMINDER; ZLIST names a row of
//               ZREMCDBASELIST, whose ZNAME is the list's name
//   iOS 13-15   the rows of ZREMCDOBJECT whose Z_ENT is the entity number
//               Z_PRIMARYKEY gives "REMCDReminder", the title in ZTITLE1
//               (else ZTITLE); ZLIST names a row of the same table
// A reminder marked for deletion (ZMARKEDFORDELETION), or whose list is, is
// in the phone's Recently Deleted: deleted, kRecentlyDeleted, deletedAt its
// ZLASTMODIFIEDDATE. Reminders whose rows were removed are rebuilt from the
// reminder table's deleted rows, found with the layout made from the
// table's live shape (readers/live_table.h) and read by name as live rows
// are: deleted, kFreeSpace, or kWal when the row is found only in the
// write-ahead log; listed before the live ones. A rebuilt row that is a
// live row or an older version of one (its Z_PK, ZCKIDENTIFIER or
// ZIDENTIFIER is a live row's), or that is no reminder (another entity, no
// title, a date no phone writes), is passed over; of the versions of one
// deleted reminder the last found is kept.
//
// Threads: Open runs on the analysis worker; afterwards the reminders are
// only read (by the browser and the recovery run) until the reader is
// destroyed.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/db_sqlite.h"
#include "readers/calendar_db.h"

namespace backup {
class CFileListDB;
}

namespace readers {

class CReminderStoreDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index (not owned; may be null); the
  // store holds everything its reminders need, so it is only kept.
  explicit CReminderStoreDB(backup::CFileListDB* index);
  ~CReminderStoreDB() override;

  // Kind 0: the list table, kind 1: the reminder table of the shape Open
  // found; "" before.
  std::string GetTableName(int tableKind) override;
  // Kind 0: one list row, kept by its Z_PK (nothing handed back); kind 1:
  // one reminder row into a DBITEM_CalendarFriend.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the lists, then the reminders in Z_PK order, then rebuilds the
  // deleted ones in front of them. Returns the base's status (and no
  // reminders) when the database cannot be opened, else ok; a store of
  // neither shape opens with none.
  base::Status Open(const std::string& path, int param) override;

  // The rebuilt reminders (in the order the scan found them), then the live
  // ones. Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_CalendarFriend>>& Reminders() const { return reminders_; }

 private:
  struct ReminderList {
    std::string name;
    bool markedForDeletion = false;
  };

  // Gives item the name of the list of that Z_PK; returns whether the list
  // is marked for deletion.
  bool FillList(std::int64_t listPk, DBITEM_CalendarFriend& item) const;
  void RecoverReminders();

  [[maybe_unused]] backup::CFileListDB* index_;
  std::string listTable_;
  std::string reminderTable_;
  std::map<std::int64_t, ReminderList> lists_;  // by Z_PK
  // The entity number Z_PRIMARYKEY gives "REMCDReminder", when it names one.
  std::optional<std::int64_t> reminderEntity_;
  // Z_PK and identity keys of every live reminder row.
  std::set<std::int64_t> livePks_;
  std::set<std::string> liveKeys_;
  std::vector<std::unique_ptr<DBITEM_CalendarFriend>> reminders_;
};

// Appends to paths the stored paths of every reminders store the backup
// holds: Data-*.sqlite under Container_v1/Stores/ in the app group
// AppDomainGroup-group.com.apple.reminders (iOS 17 on) and under
// Library/Reminders/ in HomeDomain (iOS 13-16); in a plain folder every
// such file below it. Returns ok (also when there is none), or unreadable
// naming the manifest when it could not be searched.
base::Status FindReminderStores(backup::CFileListDB& index, std::vector<std::string>& paths);

// The reminders of a phone as one list: those of the stores (store after
// store, each in its order), then the reminders of calendar's list (entity
// type kCalendarReminder and shown, in its order) whose CalendarKey no store
// reminder has: a phone moving to iOS 13 copied its reminders into the new
// store and may have left them in Calendar.sqlitedb too. calendar may be
// null. The items stay owned by their readers.
std::vector<db::BaseItem*> ListReminders(const std::vector<std::unique_ptr<CReminderStoreDB>>& stores,
                                         const CCalendarDB* calendar);

}  // namespace readers
