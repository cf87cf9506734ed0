#pragma once
// Sample Calendar.sqlitedb files: the phone's calendar store, whose table
// CalendarItem holds events (entity_type 2) and reminders (entity_type 3),
// with live items and items deleted with their bytes left in the file.
//
// CalendarItem has the 67 columns that deleted-row layout 12 reads: the
// iOS 14 table (76 columns) up to fired_ttl, without its last nine columns
// (disallow_propose_new_time to contact_name), so every column has the name
// and position it has in the real table. The positions the calendar reader rebuilds deleted items from:
//   0 ROWID, 1 summary, 2 location_id, 4 description, 5 start_date,
//   7 end_date, 20 last_modified, 25 external_id, 27 unique_identifier,
//   35 UUID, 36 entity_type, 37 priority, 41 completion_date,
//   42 creation_date
// Location is the table as iOS 7.1.2 has it (9 columns; the iOS 14 sample
// file has none).
//
// Dates are seconds since 2001-01-01 UTC. The layout only recognises a row
// whose start_date is stored as a 4-byte integer (SQLite stores a whole
// number of a REAL column so), whose end_date is NULL or such an integer,
// whose last_modified is set and whose external_id is a text: the samples
// keep that for every item that has a start.
//
// The functions return SQL text for sample::SqliteFile. Thread-safe.

#include <string>
#include <vector>

namespace sample {

class SampleBackupBuilder;

inline constexpr char kCalendarDomain[] = "HomeDomain";
inline constexpr char kCalendarRelativePath[] = "Library/Calendar/Calendar.sqlitedb";
inline constexpr int kCalendarItemColumns = 67;
inline constexpr int kCalendarEventType = 2;
inline constexpr int kCalendarReminderType = 3;

struct SampleCalendarItem {
  int entityType = kCalendarEventType;
  std::string summary;      // NULL when empty
  std::string description;  // NULL when empty
  std::string location;     // a Location row is made for it; none when empty
  double startDate = 0;     // 0: NULL (a reminder without a due date)
  double endDate = 0;       // 0: NULL
  double lastModified = 0;
  double creationDate = 0;  // 0: NULL
  double completionDate = 0;  // 0: NULL (a reminder not done)
  int priority = 0;         // 1 is high
  bool deleted = false;     // inserted, then deleted with its Location row
  bool recent = false;      // written (and deleted) after the last checkpoint: in the -wal file
};

// The CREATE statements: CalendarItem (67 columns) with the phone's
// indexes, Location and Calendar.
std::string CalendarSchemaSql();

// A whole store: the schema, one calendar, every item inserted in order
// (ROWID 1, 2, ...; its Location row first, ROWIDs from 1 in item order,
// item_owner_id pointing back), then the deleted items and their Location
// rows deleted.
std::string CalendarSql(const std::vector<SampleCalendarItem>& items);
// The same in two parts for a WAL store (sample::SqliteFile): setup the
// schema and the older items with the deletion of those deleted, recent
// the recent items and then the deletion of those deleted.
struct CalendarSqlParts {
  std::string setup;
  std::string recent;
};
CalendarSqlParts CalendarSqlInParts(const std::vector<SampleCalendarItem>& items);

// A realistic calendar of a phone in China in November 2020: meetings, a
// birthday, an event whose summary holds a comma, one without an end date,
// reminders done and open; one event and one reminder deleted.
std::vector<SampleCalendarItem> SampleCalendarItems();

// Adds Calendar.sqlitedb made from SampleCalendarItems() at
// HomeDomain Library/Calendar/Calendar.sqlitedb (with its folder).
void AddCalendarApp(SampleBackupBuilder& builder);

}  // namespace sample
