#include "testing/sample_reminders.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "testing/sample_backup.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

// The entities in the order Z_PRIMARYKEY numbers them from firstEntity.
constexpr const char* kEntities[] = {"REMCDObject", "REMCDAccount", "REMCDBaseList", "REMCDList", "REMCDReminder"};
constexpr int kAccountOffset = 1;
constexpr int kListOffset = 3;
constexpr int kReminderOffset = 4;

std::string RealOrNull(double value) { return value == 0 ? std::string("NULL") : SqlReal(value); }
std::string Flag(bool value) { return value ? "1" : "0"; }

// A UUID made from a number so the samples are the same on every run: as
// text for ZCKIDENTIFIER, as its 16 bytes for ZIDENTIFIER.
std::string UuidText(std::uint64_t seed) {
  const std::uint64_t mixed = (seed + 1) * 0x9E3779B97F4A7C15ull;
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-A%03X-%012llX", static_cast<unsigned>(mixed >> 32),
                static_cast<unsigned>((mixed >> 16) & 0xFFFF), static_cast<unsigned>(mixed & 0xFFF),
                static_cast<unsigned>(seed & 0xFFF), static_cast<unsigned long long>(mixed & 0xFFFFFFFFFFFFull));
  return text;
}

std::string UuidBlob(std::uint64_t seed) {
  std::string hex;
  for (char c : UuidText(seed)) {
    if (c != '-') hex += c;
  }
  return "X'" + hex + "'";
}

std::string SchemaSql(ReminderStoreShape shape) {
  std::string sql;
  if (shape == ReminderStoreShape::kIos16) {
    sql =
        "CREATE TABLE ZREMCDREMINDER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZALLDAY INTEGER, "
        "ZCOMPLETED INTEGER, ZFLAGGED INTEGER, ZMARKEDFORDELETION INTEGER, ZPRIORITY INTEGER, ZLIST INTEGER, "
        "ZPARENTREMINDER INTEGER, ZCOMPLETIONDATE TIMESTAMP, ZCREATIONDATE TIMESTAMP, ZDISPLAYDATEDATE TIMESTAMP, "
        "ZDUEDATE TIMESTAMP, ZLASTMODIFIEDDATE TIMESTAMP, ZCKIDENTIFIER VARCHAR, ZNOTES VARCHAR, ZTITLE VARCHAR, "
        "ZIDENTIFIER BLOB );\n"
        "CREATE INDEX ZREMCDREMINDER_ZLIST_INDEX ON ZREMCDREMINDER (ZLIST);\n"
        "CREATE TABLE ZREMCDBASELIST ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
        "ZMARKEDFORDELETION INTEGER, ZCKIDENTIFIER VARCHAR, ZNAME VARCHAR, ZIDENTIFIER BLOB );\n";
  } else {
    sql =
        "CREATE TABLE ZREMCDOBJECT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOMPLETED INTEGER, "
        "ZFLAGGED INTEGER, ZMARKEDFORDELETION INTEGER, ZPRIORITY INTEGER, ZACCOUNT INTEGER, ZLIST INTEGER, "
        "ZCOMPLETIONDATE TIMESTAMP, ZCREATIONDATE TIMESTAMP, ZDUEDATE TIMESTAMP, ZLASTMODIFIEDDATE TIMESTAMP, "
        "ZCKIDENTIFIER VARCHAR, ZNAME VARCHAR, ZNOTES VARCHAR, ZTITLE VARCHAR, ZTITLE1 VARCHAR, "
        "ZIDENTIFIER BLOB );\n"
        "CREATE INDEX ZREMCDOBJECT_ZLIST_INDEX ON ZREMCDOBJECT (ZLIST);\n";
  }
  return sql +
         "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
         "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
         "INSERT INTO Z_METADATA VALUES (1, '" +
         UuidText(900) + "', NULL);\n";
}

std::string EntitiesSql(int firstEntity) {
  std::string sql;
  for (int i = 0; i < static_cast<int>(std::size(kEntities)); ++i) {
    const int super = i == 0 ? 0 : (i == kListOffset ? firstEntity + 2 : firstEntity);
    sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(firstEntity + i) + ", '" + kEntities[i] + "', " +
           std::to_string(super) + ", 0);\n";
  }
  return sql;
}

std::string ReminderInsertSql(ReminderStoreShape shape, std::int64_t pk, std::int64_t listPk, int entity,
                              const SampleReminder& reminder) {
  const auto seed = static_cast<std::uint64_t>(pk) + 100;
  const std::string common = std::to_string(pk) + ", " + std::to_string(entity) + ", 1, ";
  if (shape == ReminderStoreShape::kIos16) {
    return "INSERT INTO ZREMCDREMINDER VALUES (" + common + "0, " + Flag(reminder.completed) + ", " +
           Flag(reminder.flagged) + ", " + Flag(reminder.markedForDeletion) + ", " +
           std::to_string(reminder.priority) + ", " + std::to_string(listPk) + ", NULL, " +
           RealOrNull(reminder.completionDate) + ", " + SqlReal(reminder.creationDate) + ", " +
           RealOrNull(reminder.dueDate) + ", " + RealOrNull(reminder.dueDate) + ", " +
           RealOrNull(reminder.lastModifiedDate) + ", '" + UuidText(seed) + "', " + SqlTextOrNull(reminder.notes) +
           ", " + SqlText(reminder.title) + ", " + UuidBlob(seed) + ");\n";
  }
  return "INSERT INTO ZREMCDOBJECT VALUES (" + common + Flag(reminder.completed) + ", " + Flag(reminder.flagged) +
         ", " + Flag(reminder.markedForDeletion) + ", " + std::to_string(reminder.priority) + ", 1, " +
         std::to_string(listPk) + ", " + RealOrNull(reminder.completionDate) + ", " +
         SqlReal(reminder.creationDate) + ", " + RealOrNull(reminder.dueDate) + ", " +
         RealOrNull(reminder.lastModifiedDate) + ", '" + UuidText(seed) + "', NULL, " +
         SqlTextOrNull(reminder.notes) + ", NULL, " + SqlText(reminder.title) + ", " + UuidBlob(seed) + ");\n";
}

// The store's SQL: setup the schema, the lists and the older reminders,
// recent the recent ones; each part's deletions after it.
struct StoreSql {
  std::string setup;
  std::string setupDeletions;
  std::string recent;
  std::string recentDeletions;
};

StoreSql MakeStoreSql(ReminderStoreShape shape, const std::vector<SampleReminderList>& lists,
                      const std::vector<SampleReminder>& reminders, int firstEntity) {
  StoreSql parts;
  std::string& sql = parts.setup;
  sql = SchemaSql(shape) + EntitiesSql(firstEntity);
  const int listEntity = firstEntity + kListOffset;
  const int reminderEntity = firstEntity + kReminderOffset;
  std::int64_t pk = 0;
  for (const SampleReminderList& list : lists) {
    ++pk;
    const std::string values = std::to_string(pk) + ", " + std::to_string(listEntity) + ", 1, ";
    if (shape == ReminderStoreShape::kIos16) {
      sql += "INSERT INTO ZREMCDBASELIST VALUES (" + values + Flag(list.markedForDeletion) + ", '" +
             UuidText(static_cast<std::uint64_t>(pk)) + "', " + SqlText(list.name) + ", " +
             UuidBlob(static_cast<std::uint64_t>(pk)) + ");\n";
    } else {
      sql += "INSERT INTO ZREMCDOBJECT (Z_PK, Z_ENT, Z_OPT, ZMARKEDFORDELETION, ZACCOUNT, ZCKIDENTIFIER, ZNAME, "
             "ZIDENTIFIER) VALUES (" +
             values + Flag(list.markedForDeletion) + ", " + std::to_string(lists.size() + 1) + ", '" +
             UuidText(static_cast<std::uint64_t>(pk)) + "', " + SqlText(list.name) + ", " +
             UuidBlob(static_cast<std::uint64_t>(pk)) + ");\n";
    }
  }
  // The account shares the table with the lists and reminders in the iOS 13
  // shape; it has a name but is neither.
  if (shape == ReminderStoreShape::kIos13) {
    ++pk;
    sql += "INSERT INTO ZREMCDOBJECT (Z_PK, Z_ENT, Z_OPT, ZMARKEDFORDELETION, ZNAME) VALUES (" + std::to_string(pk) +
           ", " + std::to_string(firstEntity + kAccountOffset) + ", 1, 0, 'iCloud');\n";
  }
  const std::int64_t firstReminderPk = shape == ReminderStoreShape::kIos13 ? pk + 1 : 1;
  const char* table = shape == ReminderStoreShape::kIos16 ? "ZREMCDREMINDER" : "ZREMCDOBJECT";
  for (std::size_t i = 0; i < reminders.size(); ++i) {
    const std::int64_t listPk = reminders[i].list + 1;
    const std::int64_t reminderPk = firstReminderPk + static_cast<std::int64_t>(i);
    (reminders[i].recent ? parts.recent : sql) +=
        ReminderInsertSql(shape, reminderPk, listPk, reminderEntity, reminders[i]);
    if (reminders[i].deleted) {
      (reminders[i].recent ? parts.recentDeletions : parts.setupDeletions) +=
          std::string("DELETE FROM ") + table + " WHERE Z_PK = " + std::to_string(reminderPk) + ";\n";
    }
  }
  return parts;
}

}  // namespace

std::string ReminderStoreSql(ReminderStoreShape shape, const std::vector<SampleReminderList>& lists,
                             const std::vector<SampleReminder>& reminders, int firstEntity) {
  const StoreSql parts = MakeStoreSql(shape, lists, reminders, firstEntity);
  return parts.setup + parts.recent + parts.setupDeletions + parts.recentDeletions;
}

std::unique_ptr<SqliteFile> ReminderStoreDatabase(ReminderStoreShape shape, const std::vector<SampleReminderList>& lists,
                                                  const std::vector<SampleReminder>& reminders,
                                                  const std::string& laterSql, int firstEntity) {
  const StoreSql parts = MakeStoreSql(shape, lists, reminders, firstEntity);
  return std::make_unique<SqliteFile>(parts.setup + parts.setupDeletions,
                                      parts.recent + parts.recentDeletions + laterSql, SqliteFile::Journal::kWalPending);
}

std::vector<SampleReminderList> SampleReminderLists() { return {{"提醒事项", false}, {"购物清单", false}}; }

std::vector<SampleReminder> SampleReminders() {
  // 722134800 is 2023-11-20 09:00 in Beijing (UTC+8).
  std::vector<SampleReminder> reminders(5);
  reminders[0] = {"预约体检", "空腹, 带身份证", 0, 722221200, 722000000.25, 722050000.5, 0, false, 1, true, false};
  reminders[1] = {"买鸡蛋", "", 1, 0, 721990000, 722070000, 722070000, true, 0, false, false};
  reminders[2] = {"交物业费", "", 0, 722480400, 722000100, 722000100, 0, false, 0, false, false};
  reminders[3] = {"退快递", "", 1, 722134800, 722010000, 722100000.5, 0, false, 0, false, true};
  reminders[4] = {"交水电费", "国家电网APP", 0, 626608800, 626013000, 626013000, 0, false, 1, false, false};
  return reminders;
}

void AddRemindersApp(SampleBackupBuilder& builder) {
  builder.AddFolder(kRemindersGroupDomain, "Container_v1");
  builder.AddFolder(kRemindersGroupDomain, "Container_v1/Stores");
  builder.AddDatabase(kRemindersGroupDomain, kRemindersStorePath,
                      SqliteFile(ReminderStoreSql(ReminderStoreShape::kIos16, SampleReminderLists(),
                                                  SampleReminders())));
}

}  // namespace sample
