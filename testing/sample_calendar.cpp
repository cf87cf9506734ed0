#include "testing/sample_calendar.h"

#include <cstdint>
#include <cstdio>

#include "testing/sample_backup.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

// The calendar the items belong to: an iCloud (CalDAV) calendar, whose
// items carry their server names in external_id, as the layout expects.
constexpr int kCalendarId = 1;

std::string RealOrNull(double value) { return value == 0 ? std::string("NULL") : SqlReal(value); }

// A UUID made from a number so the samples are the same on every run;
// upper case as the phone writes UUID, lower case for unique_identifier.
std::string Uuid(std::uint64_t seed, std::uint32_t variant, bool lowerCase) {
  const std::uint64_t mixed = (seed + 1) * 0x9E3779B97F4A7C15ull ^ variant;
  char text[40];
  std::snprintf(text, sizeof text, lowerCase ? "%08x-%04x-4%03x-a%03x-%012llx" : "%08X-%04X-4%03X-A%03X-%012llX",
                static_cast<unsigned>(mixed >> 32), static_cast<unsigned>((mixed >> 16) & 0xFFFF),
                static_cast<unsigned>(mixed & 0xFFF), static_cast<unsigned>(variant & 0xFFF),
                static_cast<unsigned long long>(mixed & 0xFFFFFFFFFFFFull));
  return text;
}

std::string ItemInsertSql(std::int64_t rowId, std::int64_t locationId, const SampleCalendarItem& item) {
  const auto seed = static_cast<std::uint64_t>(rowId);
  const bool isEvent = item.entityType == kCalendarEventType;
  const std::string uniqueIdentifier = Uuid(seed, 0xCA1, true);
  return "INSERT INTO CalendarItem (ROWID, summary, location_id, description, start_date, start_tz, end_date, "
         "end_tz, all_day, calendar_id, orig_item_id, status, invitation_status, availability, privacy_level, "
         "last_modified, sequence_num, modified_properties, external_tracking_status, external_id, "
         "external_mod_tag, unique_identifier, hidden, has_recurrences, has_attendees, UUID, entity_type, "
         "priority, due_date, due_all_day, completion_date, creation_date, display_order) VALUES (" +
         std::to_string(rowId) + ", " + SqlTextOrNull(item.summary) + ", " +
         (locationId != 0 ? std::to_string(locationId) : std::string("NULL")) + ", " +
         SqlTextOrNull(item.description) + ", " + RealOrNull(item.startDate) + ", " +
         (item.startDate != 0 ? "'Asia/Shanghai'" : "NULL") + ", " + RealOrNull(item.endDate) + ", " +
         (item.endDate != 0 ? "'Asia/Shanghai'" : "NULL") + ", 0, " + std::to_string(kCalendarId) + ", 0, 0, 0, " +
         (isEvent ? "0" : "NULL") + ", 0, " + SqlReal(item.lastModified) + ", 1, 0, 0, '" + uniqueIdentifier +
         ".ics', '\"" + Uuid(seed, 0xE7A, true).substr(0, 8) + "\"', '" + uniqueIdentifier + "', 0, 0, 0, '" +
         Uuid(seed, 0x1D5, false) + "', " + std::to_string(item.entityType) + ", " + std::to_string(item.priority) +
         ", " + (isEvent ? std::string("NULL") : RealOrNull(item.startDate)) + ", " + (isEvent ? "NULL" : "0") +
         ", " + RealOrNull(item.completionDate) + ", " + RealOrNull(item.creationDate) + ", 0);\n";
}

}  // namespace

std::string CalendarSchemaSql() {
  return "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, location_id INTEGER, "
         "client_location_id INTEGER, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, end_tz TEXT, "
         "all_day INTEGER, calendar_id INTEGER, orig_item_id INTEGER, orig_date REAL, organizer_id INTEGER, "
         "self_attendee_id INTEGER, status INTEGER, invitation_status INTEGER, availability INTEGER, "
         "privacy_level INTEGER, url TEXT, last_modified REAL, sequence_num INTEGER, birthday_id INTEGER, "
         "modified_properties INTEGER, external_tracking_status INTEGER, external_id TEXT, external_mod_tag TEXT, "
         "unique_identifier TEXT, external_schedule_id TEXT, external_rep BLOB, response_comment TEXT, "
         "last_synced_response_comment TEXT, hidden INTEGER, has_recurrences INTEGER, has_attendees INTEGER, "
         "UUID TEXT, entity_type INTEGER, priority INTEGER, due_date REAL, due_tz TEXT, due_all_day INTEGER, "
         "completion_date REAL, creation_date REAL, action TEXT, app_link BLOB, display_order INTEGER, "
         "created_by_id INTEGER, modified_by_id INTEGER, shared_item_created_date REAL, "
         "shared_item_created_tz TEXT, shared_item_modified_date REAL, shared_item_modified_tz TEXT, "
         "invitation_changed_properties INTEGER, default_alarm_removed INTEGER, phantom_master INTEGER, "
         "participation_status_modified_date REAL, calendar_scale TEXT, travel_time INTEGER, "
         "travel_advisory_behavior INTEGER, start_location_id INTEGER, end_location_id INTEGER, "
         "suggested_event_info_id INTEGER, first_alert_date REAL, proposed_start_date REAL, can_forward INTEGER, "
         "location_prediction_state INTEGER, fired_ttl INTEGER);\n"
         "CREATE INDEX EventStatus on CalendarItem(status);\n"
         "CREATE INDEX EventHiddenEndDateStartDate on CalendarItem(hidden, end_date, start_date);\n"
         "CREATE INDEX EventExternalIdCalId on CalendarItem(external_id, calendar_id);\n"
         "CREATE INDEX EventUUID on CalendarItem(UUID);\n"
         "CREATE INDEX CalendarItemEntityTypeCompletionDate on CalendarItem(entity_type, completion_date);\n"
         "CREATE TABLE Location (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, address TEXT, "
         "latitude INTEGER, longitude INTEGER, address_book_id TEXT, radius INTEGER, item_owner_id INTEGER, "
         "alarm_owner_id INTEGER);\n"
         "CREATE TABLE Calendar (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, store_id INTEGER, title TEXT, "
         "flags INTEGER, color TEXT, symbolic_color_name TEXT, color_is_display INTEGER, type TEXT, "
         "supported_entity_types INTEGER, external_id TEXT, external_mod_tag TEXT, external_id_tag TEXT, "
         "external_rep BLOB, display_order INTEGER, UUID TEXT, shared_owner_name TEXT, shared_owner_email TEXT, "
         "sharing_status INTEGER, sharing_invitation_response INTEGER, published_URL TEXT, is_published INTEGER, "
         "invitation_status INTEGER, sync_token TEXT, self_identity_id INTEGER, self_identity_email TEXT, "
         "owner_identity_id INTEGER, owner_identity_email TEXT, notes TEXT, bulk_requests BLOB, "
         "subcal_account_id TEXT, push_key TEXT, digest BLOB);\n";
}

CalendarSqlParts CalendarSqlInParts(const std::vector<SampleCalendarItem>& items) {
  CalendarSqlParts parts;
  parts.setup = CalendarSchemaSql();
  parts.setup += "INSERT INTO Calendar (ROWID, store_id, title, flags, color, type, supported_entity_types, "
                 "external_id, UUID) VALUES (" +
                 std::to_string(kCalendarId) + ", 1, '日历', 0, '#1BADF8', NULL, 6, '/calendars/home/', '" +
                 Uuid(0, 0xCA7, false) + "');\n";
  std::vector<std::int64_t> locationIds(items.size(), 0);
  std::int64_t nextLocation = 1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::string& sql = items[i].recent ? parts.recent : parts.setup;
    const auto rowId = static_cast<std::int64_t>(i + 1);
    if (!items[i].location.empty()) {
      locationIds[i] = nextLocation++;
      sql += "INSERT INTO Location (ROWID, title, address, item_owner_id) VALUES (" + std::to_string(locationIds[i]) +
             ", " + SqlTextOrNull(items[i].location) + ", NULL, " + std::to_string(rowId) + ");\n";
    }
    sql += ItemInsertSql(rowId, locationIds[i], items[i]);
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!items[i].deleted) continue;
    std::string& sql = items[i].recent ? parts.recent : parts.setup;
    sql += "DELETE FROM CalendarItem WHERE ROWID = " + std::to_string(i + 1) + ";\n";
    if (locationIds[i] != 0) sql += "DELETE FROM Location WHERE ROWID = " + std::to_string(locationIds[i]) + ";\n";
  }
  return parts;
}

std::string CalendarSql(const std::vector<SampleCalendarItem>& items) {
  const CalendarSqlParts parts = CalendarSqlInParts(items);
  return parts.setup + parts.recent;
}

std::vector<SampleCalendarItem> SampleCalendarItems() {
  // 625975200 is 2020-11-02 10:00 in Beijing (UTC+8).
  std::vector<SampleCalendarItem> items(8);
  items[0] = {kCalendarEventType, "项目周会", "讨论第四季度计划", "公司3楼会议室", 625975200, 625980600,
              625885950.5, 625885950, 0, 0, false};
  items[1] = {kCalendarEventType, "妈妈生日", "", "", 626284800, 626371199, 625885950, 625885950, 0, 0, false};
  items[2] = {kCalendarEventType, "牙医, 复诊", "带上病历\n记得空腹", "华山医院", 626248800, 626252400,
              625885950, 625885950, 0, 0, false};
  // Saved without an end: its end is shown as the time it was last changed.
  items[3] = {kCalendarEventType, "看电影", "", "", 626180400, 0, 626187600, 626098500, 0, 0, false};
  items[4] = {kCalendarEventType, "面试", "带简历", "望京SOHO", 626684400, 626688000, 626098500.25, 626098500,
              0, 0, true};
  // A reminder without a due date is listed at its creation.
  items[5] = {kCalendarReminderType, "买牛奶", "", "", 0, 0, 626098500, 626013000, 626098500, 0, false};
  items[6] = {kCalendarReminderType, "交水电费", "国家电网APP", "", 626608800, 0, 626013000, 626013000, 0, 1, false};
  items[7] = {kCalendarReminderType, "取快递", "", "", 626490000, 0, 626524800, 626013000, 626524800, 1, true};
  return items;
}

void AddCalendarApp(SampleBackupBuilder& builder) {
  builder.AddFolder(kCalendarDomain, "Library/Calendar");
  builder.AddDatabase(kCalendarDomain, kCalendarRelativePath, SqliteFile(CalendarSql(SampleCalendarItems())));
}

}  // namespace sample
