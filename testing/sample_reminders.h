#pragma once
// Sample reminders stores: the Core Data stores in which iOS 13 and later
// keep reminders (Container_v1/Stores/Data-<UUID>.sqlite), with lists, open
// and done reminders and reminders marked for deletion, in two shapes:
//   kIos16  ZREMCDREMINDER (Z_PK, Z_ENT, Z_OPT, ZALLDAY, ZCOMPLETED,
//           ZFLAGGED, ZMARKEDFORDELETION, ZPRIORITY, ZLIST,
//           ZPARENTREMINDER, ZCOMPLETIONDATE, ZCREATIONDATE,
//           ZDISPLAYDATEDATE, ZDUEDATE, ZLASTMODIFIEDDATE, ZCKIDENTIFIER,
//           ZNOTES, ZTITLE, ZIDENTIFIER) and ZREMCDBASELIST (Z_PK, Z_ENT,
//           Z_OPT, ZMARKEDFORDELETION, ZCKIDENTIFIER, ZNAME, ZIDENTIFIER)
//   kIos13  one table ZREMCDOBJECT for the account, the lists and the
//           reminders, told apart by Z_ENT; a reminder's title in ZTITLE1
// Both with Z_PRIMARYKEY, whose entities are numbered from the firstEntity
// given in the order REMCDObject, REMCDAccount, REMCDBaseList, REMCDList,
// REMCDReminder, and Z_METADATA. No real CREATE statement of these stores was
// at hand: the columns are those public descriptions name, in Core Data's
// order (integers, keys, dates, texts, BLOBs).
//
// Dates are seconds since 2001-01-01 UTC. The functions return SQL text for
// sample::SqliteFile. Thread-safe.

#include <memory>
#include <string>
#include <vector>

#include "testing/sample_backup.h"

namespace sample {

class SampleBackupBuilder;

enum class ReminderStoreShape { kIos16, kIos13 };

// iOS 17 keeps the stores in the reminders app group, iOS 13-16 in
// HomeDomain under Library/Reminders/.
inline constexpr char kRemindersGroupDomain[] = "AppDomainGroup-group.com.apple.reminders";
inline constexpr char kRemindersStorePath[] = "Container_v1/Stores/Data-3F2C9A71-6B0E-4D58-9C1A-7E4B2D8F0A63.sqlite";
inline constexpr char kRemindersHomeDomain[] = "HomeDomain";
inline constexpr char kRemindersHomeStorePath[] =
    "Library/Reminders/Container_v1/Stores/Data-8D41B6E2-0C7F-4A93-B5E8-21F6C9D3A704.sqlite";

struct SampleReminderList {
  std::string name;
  bool markedForDeletion = false;
};

struct SampleReminder {
  std::string title;
  std::string notes;          // NULL when empty
  int list = 0;               // index into the lists
  double dueDate = 0;         // 0: NULL
  double creationDate = 0;
  double lastModifiedDate = 0;  // 0: NULL
  double completionDate = 0;  // 0: NULL
  bool completed = false;
  int priority = 0;           // 1 high, 5 medium, 9 low, 0 none
  bool flagged = false;
  bool markedForDeletion = false;
  bool deleted = false;  // inserted, then its row deleted with its bytes left in the file
  bool recent = false;   // written after the last checkpoint (the -wal file)
};

// A whole store: the schema, the Core Data tables, the lists (Z_PK 1, 2,
// ... in order), then the reminders (their Z_PK after the lists' in the
// iOS 13 shape, where lists and reminders share a table; from 1 otherwise),
// then the deletion of the deleted reminders.
std::string ReminderStoreSql(ReminderStoreShape shape, const std::vector<SampleReminderList>& lists,
                             const std::vector<SampleReminder>& reminders, int firstEntity = 20);
// The same store in WAL mode with the recent reminders (and the deletion of
// those deleted) after the checkpoint, left in the -wal file: a deleted
// recent reminder's row is only in older frames of the log. laterSql runs
// last, in the log too.
std::unique_ptr<SqliteFile> ReminderStoreDatabase(ReminderStoreShape shape, const std::vector<SampleReminderList>& lists,
                                                  const std::vector<SampleReminder>& reminders,
                                                  const std::string& laterSql = "", int firstEntity = 20);

// The lists of the sample store: "提醒事项" and "购物清单".
std::vector<SampleReminderList> SampleReminderLists();
// A phone in China in November 2023: an open, high-priority, flagged
// reminder with notes holding a comma; a done one without a due date; an
// open one; one marked for deletion; and "交水电费", which came over from the
// reminders of Calendar.sqlitedb (sample_calendar.h) with its due date.
std::vector<SampleReminder> SampleReminders();

// Adds the iOS 16 shape store of SampleReminderLists and SampleReminders at
// kRemindersGroupDomain kRemindersStorePath (with its folders).
void AddRemindersApp(SampleBackupBuilder& builder);

}  // namespace sample
