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
// ZLASTMODIFIEDDATE. Rows freed from the file are not rebuilt: no deleted-row
// layout is known for these tables.
//
// Threads: Open runs on the analysis worker; afterwards the reminders are
// only read (by the browser and the recovery run) until the reader is
// destroyed.

#include <cstdint>
#include <map>
#include <memory>
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
  // Loads the lists, then the reminders in Z_PK order. Returns the base's
  // status (and no reminders) when the database cannot be opened, else ok; a
  // store of neither shape opens with none.
  base::Status Open(const std::string& path, int param) override;

  // Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_CalendarFriend>>& Reminders() const { return reminders_; }

 private:
  struct ReminderList {
    std::string name;
    bool markedForDeletion = false;
  };

  [[maybe_unused]] backup::CFileListDB* index_;
  std::string listTable_;
  std::string reminderTable_;
  std::map<std::int64_t, ReminderList> lists_;  // by Z_PK
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
