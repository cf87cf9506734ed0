#include "readers/calendar_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"
#include "testing/sample_calendar.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::SampleCalendarItem;

// Writes a store made of sql into folder and returns its path.
std::string StorePath(const platform::TempFolder& folder, const std::string& sql) {
  const fs::path path = folder.Path() / "Calendar.sqlitedb";
  sample::SqliteFile(sql).WriteTo(path);
  return path.string();
}

std::string CsvOf(const std::vector<db::BaseItem*>& items, int wantedEntityType) {
  exporting::CExportWriter writer(nullptr, wantedEntityType == kCalendarReminder ? 9 : 6);
  WriteCalendarCsv(writer, items, wantedEntityType);
  return writer.CsvText();
}

// The items the browser shows: those of the wanted type.
std::vector<db::BaseItem*> Shown(const CCalendarDB& reader) {
  std::vector<db::BaseItem*> shown;
  for (const auto& item : reader.Entries()) {
    if (item->listMark != -1) shown.push_back(item.get());
  }
  return shown;
}

std::vector<std::string> Summaries(const CCalendarDB& reader) {
  std::vector<std::string> summaries;
  for (const auto& item : reader.Entries()) summaries.push_back(item->summary);
  return summaries;
}

TEST(CCalendarDB, ListsRecoveredItemsOnceAndFirstThenLiveItemsWithTheirLocations) {
  const platform::TempFolder folder("velmora-calendar");
  const std::string path = StorePath(folder, sample::CalendarSql(sample::SampleCalendarItems()));

  CCalendarDB reader(nullptr);
  reader.wantedEntityType = kCalendarEvent;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  reader.Close();
  EXPECT_EQ(reader.ColumnCount(), sample::kCalendarItemColumns);

  // The scan meets every live record as well; those repeats are dropped.
  // SQLite fills a page from its end, so the later a row was written, the
  // earlier the scan finds it.
  EXPECT_EQ(Summaries(reader), (std::vector<std::string>{"取快递", "面试", "项目周会", "妈妈生日", "牙医, 复诊",
                                                         "看电影", "买牛奶", "交水电费"}));
  const auto& entries = reader.Entries();
  const std::vector<int> rowIds = {-1, -1, 1, 2, 3, 4, 6, 7};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i]->summary);
    EXPECT_EQ(entries[i]->deleted, i < 2 ? 1 : 0);
    EXPECT_EQ(entries[i]->rowId, rowIds[i]);
    EXPECT_EQ(entries[i]->listMark, entries[i]->entityType == kCalendarEvent ? 0 : -1);
  }
  const DBITEM_CalendarFriend& recoveredReminder = *entries[0];
  EXPECT_EQ(recoveredReminder.entityType, kCalendarReminder);
  EXPECT_EQ(recoveredReminder.priority, 1);
  // Every date as Unix seconds, a rebuilt item's as a live one's.
  EXPECT_EQ(recoveredReminder.completionDate, 1604832000);  // stored 626524800
  EXPECT_EQ(recoveredReminder.time, 1604797200);
  EXPECT_EQ(entries[2]->locationTitle, "公司3楼会议室");
  EXPECT_EQ(entries[2]->endDate, 1604287800);
  EXPECT_EQ(entries[5]->endDate, 1604494800);  // no end_date: last_modified
  EXPECT_EQ(entries[6]->time, 1604320200);     // no start_date: creation_date
  EXPECT_EQ(entries[6]->completionDate, 1604405700);
  EXPECT_EQ(entries[7]->completionDate, 0);  // open

  // The location title of a deleted event went with its Location row.
  EXPECT_EQ(CsvOf(Shown(reader), kCalendarEvent),
            "标题,开始日期,结束日期,位置,备注\r\n"
            "面试,2020-11-10 15:00:00 ,2020-11-10 16:00:00 ,,\"带简历\"\r\n"
            "项目周会,2020-11-02 10:00:00 ,2020-11-02 11:30:00 ,公司3楼会议室,\"讨论第四季度计划\"\r\n"
            "妈妈生日,2020-11-06 00:00:00 ,2020-11-06 23:59:59 ,,\"\"\r\n"
            "\"牙医， 复诊\",2020-11-05 14:00:00 ,2020-11-05 15:00:00 ,华山医院,\"带上病历\n记得空腹\"\r\n"
            "看电影,2020-11-04 19:00:00 ,2020-11-04 21:00:00 ,,\"\"\r\n");

  // Opening again for reminders starts afresh and marks the events.
  reader.wantedEntityType = kCalendarReminder;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  EXPECT_EQ(reader.Entries().size(), 8u);
  EXPECT_EQ(CsvOf(Shown(reader), kCalendarReminder),
            "标题,列表,状态,日期,位置,优先级,备注\r\n"
            "取快递,提醒,已完成,2020-11-08 09:00:00 ,,高,\"\"\r\n"
            "买牛奶,提醒,已完成,2020-11-02 20:30:00 ,,普通,\"\"\r\n"
            "交水电费,提醒,未完成,2020-11-09 18:00:00 ,,高,\"国家电网APP\"\r\n");
}

TEST(CCalendarDB, RecoveredItemRepeatingALiveOneByItsFirstTwelveCharactersAndStartIsDropped) {
  // 12 UTF-16 units: "2020年度部门总结大会".
  const std::string live = "2020年度部门总结大会（上午场）";
  struct Case {
    const char* name;
    std::string summary;
    double start;
    bool kept;
  };
  const Case cases[] = {
      {"SameItem", live, 626684400, false},
      {"DiffersInThe13thCharacter", "2020年度部门总结大会（下午场）", 626684400, false},
      {"DiffersInThe12thCharacter", "2020年度部门总结大合（上午场）", 626684400, true},
      {"StartsAnotherSecond", live, 626684401, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::TempFolder folder("velmora-calendar");
    const std::string path = StorePath(
        folder, sample::CalendarSql({
                    {sample::kCalendarEventType, live, "", "", 626684400, 626688000, 626098500, 0, 0, 0, false},
                    {sample::kCalendarEventType, c.summary, "", "", c.start, 626688000, 626098500, 0, 0, 0, true},
                }));
    CCalendarDB reader(nullptr);
    ASSERT_TRUE(reader.Open(path, 0).Ok());
    if (c.kept) {
      EXPECT_EQ(Summaries(reader), (std::vector<std::string>{c.summary, live}));
      EXPECT_EQ(reader.Entries()[0]->deleted, 1);
    } else {
      EXPECT_EQ(Summaries(reader), std::vector<std::string>{live});
    }
  }
}

TEST(CCalendarDB, RecoveredEventWithoutEndTakesItsLastModification) {
  const platform::TempFolder folder("velmora-calendar");
  const std::string path = StorePath(
      folder, sample::CalendarSql({
                  {sample::kCalendarEventType, "看电影", "", "", 626180400, 0, 626187600.5, 0, 0, 0, true},
                  {sample::kCalendarEventType, "吃饭", "", "", 626180400, 0, 626187600, 0, 0, 0, true},
              }));
  CCalendarDB reader(nullptr);
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  ASSERT_EQ(Summaries(reader), (std::vector<std::string>{"吃饭", "看电影"}));
  // last_modified stored as an integer and as a double.
  EXPECT_EQ(reader.Entries()[0]->endDate, 1604494800);
  EXPECT_EQ(reader.Entries()[1]->endDate, 1604494800.5);
  EXPECT_EQ(reader.Entries()[1]->completionDate, 0);
  EXPECT_EQ(reader.Entries()[1]->priority, 0);
  EXPECT_EQ(reader.Entries()[1]->locationId, 0);
}

TEST(WriteCalendarCsv, WritesExactLinesKeepingTheColumnsOfTextsWithCommas) {
  DBITEM_CalendarFriend event;
  event.summary = "Lunch, with \"Li\"";
  event.locationTitle = "Beijing, Chaoyang";
  event.description = "a, b";
  event.time = 1478307200;  // 2016-11-05 00:53:20 UTC
  event.endDate = 1478307200;
  event.deleted = 1;
  DBITEM_CalendarFriend reminder;
  reminder.summary = "买牛奶";
  reminder.time = 1478307200;
  reminder.completionDate = 1;
  reminder.priority = 5;
  db::DBITEM_TbNameList notAnItem;
  const std::vector<db::BaseItem*> items = {&event, &notAnItem, &reminder};

  EXPECT_EQ(CsvOf(items, kCalendarEvent),
            "标题,开始日期,结束日期,位置,备注\r\n"
            "\"Lunch， with \"\"Li\"\"\",2016-11-05 08:53:20 ,2016-11-05 08:53:20 ,\"Beijing， Chaoyang\",\"a， b\"\r\n"
            "买牛奶,2016-11-05 08:53:20 ,2001-01-01 08:00:00 ,,\"\"\r\n");
  EXPECT_EQ(CsvOf(items, kCalendarReminder),
            "标题,列表,状态,日期,位置,优先级,备注\r\n"
            "\"Lunch， with \"\"Li\"\"\",提醒,未完成,2016-11-05 08:53:20 ,\"Beijing， Chaoyang\",普通,\"a， b\"\r\n"
            "买牛奶,提醒,已完成,2016-11-05 08:53:20 ,,普通,\"\"\r\n");
  EXPECT_EQ(CsvOf(items, 4), "");
}

// The 76 columns of iOS 14: the sample's 67 and nine more at the end.
std::string Ios14Shape(std::string sql) {
  const std::string last = "fired_ttl INTEGER";
  sql.replace(sql.find(last), last.size(),
              last + ", disallow_propose_new_time INTEGER, structured_data BLOB, local_structured_data BLOB, "
                     "junk_status INTEGER, conference_url TEXT, contact_identifier TEXT, recurrence_set TEXT, "
                     "flags INTEGER, contact_name TEXT");
  return sql;
}

std::string Ios14Store(const std::vector<SampleCalendarItem>& items) { return Ios14Shape(sample::CalendarSql(items)); }

// The CalendarItem of iOS 7.1.2 (52 columns, description at 3, start_date
// at 4) and its Location table, with one deleted event whose values are of
// the types the live rows hold.
const char kIos7Store[] =
    "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, location_id INTEGER, "
    "description TEXT, start_date REAL, start_tz TEXT, end_date REAL, all_day INTEGER, calendar_id INTEGER, "
    "orig_item_id INTEGER, orig_date REAL, organizer_id INTEGER, self_attendee_id INTEGER, status INTEGER, "
    "invitation_status INTEGER, availability INTEGER, privacy_level INTEGER, url TEXT, last_modified REAL, "
    "sequence_num INTEGER, birthday_id INTEGER, modified_properties INTEGER, external_tracking_status INTEGER, "
    "external_id TEXT, external_mod_tag TEXT, unique_identifier TEXT, external_schedule_id TEXT, external_rep BLOB, "
    "response_comment TEXT, hidden INTEGER, has_recurrences INTEGER, has_attendees INTEGER, UUID TEXT, "
    "entity_type INTEGER, priority INTEGER, due_date REAL, due_tz TEXT, due_all_day INTEGER, completion_date REAL, "
    "creation_date REAL, conference TEXT, display_order INTEGER, created_by_id INTEGER, modified_by_id INTEGER, "
    "shared_item_created_date REAL, shared_item_created_tz TEXT, shared_item_modified_date REAL, "
    "shared_item_modified_tz TEXT, invitation_changed_properties INTEGER, default_alarm_removed INTEGER, "
    "phantom_master INTEGER, participation_status_modified_date REAL);\n"
    "CREATE TABLE Location (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, address TEXT, latitude INTEGER, "
    "longitude INTEGER, address_book_id TEXT, radius INTEGER, item_owner_id INTEGER, alarm_owner_id INTEGER);\n"
    "INSERT INTO Location (ROWID, title) VALUES (7, '国家大剧院');\n"
    "INSERT INTO CalendarItem (ROWID, summary, location_id, description, start_date, end_date, last_modified, "
    "entity_type, priority) VALUES (1, '音乐会', 7, '二楼', 626180400, 626187600, 626098500, 2, 0);\n"
    "INSERT INTO CalendarItem (ROWID, summary, location_id, description, start_date, end_date, last_modified, "
    "entity_type, priority) VALUES (2, '话剧', 9, NULL, 626284800, NULL, 626098500, 2, 0);\n"
    "INSERT INTO CalendarItem (ROWID, summary, location_id, start_date, last_modified, entity_type, priority) "
    "VALUES (3, '旧事', 8, 626000000, 626000000, 2, 0);\n"
    "DELETE FROM CalendarItem WHERE ROWID = 3;\n";

TEST(CCalendarDB, OtherStoreShapesGiveTheirLiveItemsByColumnName) {
  const platform::TempFolder folder("velmora-calendar");
  CCalendarDB ios7(nullptr);
  ASSERT_TRUE(ios7.Open(StorePath(folder, kIos7Store), 0).Ok());
  EXPECT_EQ(ios7.ColumnCount(), 52);
  // The deleted one is rebuilt by the layout made from this shape, by name.
  ASSERT_EQ(ios7.Entries().size(), 3u);
  EXPECT_EQ(ios7.Entries()[0]->summary, "旧事");
  EXPECT_EQ(ios7.Entries()[0]->deleted, 1);
  EXPECT_EQ(ios7.Entries()[0]->time, 1604307200);
  EXPECT_EQ(ios7.Entries()[0]->locationId, 8);
  EXPECT_EQ(ios7.Entries()[1]->description, "二楼");
  EXPECT_EQ(ios7.Entries()[1]->locationTitle, "国家大剧院");
  EXPECT_EQ(ios7.Entries()[1]->time, 1604487600);
  EXPECT_EQ(ios7.Entries()[2]->locationTitle, "");  // its Location row is missing
  EXPECT_EQ(ios7.Entries()[2]->endDate, 1604405700);

  // iOS 14 keeps its columns at the same places and adds nine: its deleted
  // items are rebuilt by the layout made from its shape.
  const platform::TempFolder folder14("velmora-calendar");
  CCalendarDB ios14(nullptr);
  ASSERT_TRUE(ios14.Open(StorePath(folder14, Ios14Store(sample::SampleCalendarItems())), 0).Ok());
  EXPECT_EQ(ios14.ColumnCount(), 76);
  EXPECT_EQ(Summaries(ios14), (std::vector<std::string>{"取快递", "面试", "项目周会", "妈妈生日", "牙医, 复诊",
                                                        "看电影", "买牛奶", "交水电费"}));
}

// Items of the iOS 14 table deleted before the last checkpoint, and one
// written and deleted after it, whose row only older frames of the log
// keep; a live event renamed after the checkpoint leaves its older version
// in the file and the log, and is no deleted item.
TEST(CCalendarDB, Ios14DeletedItemsComeBackOnceFromTheFileAndTheLog) {
  std::vector<SampleCalendarItem> items = sample::SampleCalendarItems();
  items.push_back({sample::kCalendarEventType, "部门聚餐", "海底捞", "", 626770800, 626778000, 626700000.5, 626700000,
                   0, 0, true, true});
  const sample::CalendarSqlParts sql = sample::CalendarSqlInParts(items);
  const sample::SqliteFile database(
      Ios14Shape(sql.setup),
      sql.recent + "UPDATE CalendarItem SET summary = '项目周会（改期）', sequence_num = 2 WHERE ROWID = 1;\n",
      sample::SqliteFile::Journal::kWalPending);
  const platform::TempFolder folder("velmora-calendar");
  const fs::path path = folder.Path() / "Calendar.sqlitedb";
  database.WriteTo(path);
  CCalendarDB reader(nullptr);
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  reader.Close();
  EXPECT_EQ(reader.ColumnCount(), 76);

  struct Expected {
    const char* summary;
    bool deleted;
    db::BaseItem::DeletedFrom from;
  };
  const Expected expected[] = {
      {"面试", true, db::BaseItem::DeletedFrom::kFreeSpace},
      {"取快递", true, db::BaseItem::DeletedFrom::kFreeSpace},
      {"部门聚餐", true, db::BaseItem::DeletedFrom::kWal},
      {"项目周会（改期）", false, db::BaseItem::DeletedFrom::kFreeSpace},
      {"妈妈生日", false, db::BaseItem::DeletedFrom::kFreeSpace},
      {"牙医, 复诊", false, db::BaseItem::DeletedFrom::kFreeSpace},
      {"看电影", false, db::BaseItem::DeletedFrom::kFreeSpace},
      {"买牛奶", false, db::BaseItem::DeletedFrom::kFreeSpace},
      {"交水电费", false, db::BaseItem::DeletedFrom::kFreeSpace},
  };
  // Each once; the rebuilt ones first.
  ASSERT_EQ(reader.Entries().size(), std::size(expected)) << ::testing::PrintToString(Summaries(reader));
  for (const Expected& item : expected) {
    SCOPED_TRACE(item.summary);
    const auto found = std::find_if(reader.Entries().begin(), reader.Entries().end(),
                                    [&](const auto& entry) { return entry->summary == item.summary; });
    ASSERT_NE(found, reader.Entries().end());
    EXPECT_EQ((*found)->deleted, item.deleted ? 1 : 0);
    EXPECT_EQ(found - reader.Entries().begin() < 3, item.deleted);
    if (item.deleted) EXPECT_EQ((*found)->deletedFrom, item.from);
  }
  // The rebuilt event reads as its live row did.
  const DBITEM_CalendarFriend& dinner = **std::find_if(reader.Entries().begin(), reader.Entries().end(),
                                                       [](const auto& entry) { return entry->summary == "部门聚餐"; });
  EXPECT_EQ(dinner.description, "海底捞");
  EXPECT_EQ(dinner.time, 626770800 + 978307200);
  EXPECT_EQ(dinner.endDate, 626778000 + 978307200);
  EXPECT_EQ(dinner.entityType, kCalendarEvent);
}

TEST(CCalendarDB, MissingOrDamagedStoresGiveNoItems) {
  const platform::TempFolder folder("velmora-calendar");
  CCalendarDB missing(nullptr);
  EXPECT_FALSE(missing.Open((folder.Path() / "Calendar.sqlitedb").string(), 0).Ok());
  EXPECT_TRUE(missing.Entries().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "Calendar.sqlitedb"));

  // A store whose first page is torn off: SQL reads nothing, and the scan
  // of what remains must not crash.
  const std::string path = StorePath(folder, sample::CalendarSql(sample::SampleCalendarItems()));
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::string junk(4096, '\x04');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  CCalendarDB damaged(nullptr);
  damaged.Open(path, 0);
  EXPECT_EQ(damaged.ColumnCount(), 0);
  EXPECT_TRUE(damaged.Entries().empty());
}

TEST(CCalendarDB, IsFoundInEveryBackupFormWhereTheCategoryLooksForIt) {
  sample::SampleBackupBuilder builder;
  sample::AddCalendarApp(builder);
  const platform::TempFolder root("velmora-calendar");
  for (const auto mode : {sample::BackupMode::kManifestDb, sample::BackupMode::kManifestMbdb,
                          sample::BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const fs::path folder = root.Path() / std::to_string(static_cast<int>(mode));
    builder.Write(folder, mode);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::vector<std::string> paths;
    const bool folderMode = index.Mode() == backup::SourceFolder;
    index.FindFilePaths(folderMode ? "Library/Calendar/Calendar.sqlitedb" : "/Calendar.sqlitedb", "HomeDomain",
                        paths, false, backup::kNoLimit);
    ASSERT_FALSE(paths.empty());
    CCalendarDB reader(&index);
    reader.wantedEntityType = kCalendarReminder;
    ASSERT_TRUE(reader.Open(paths[0], 0).Ok());
    EXPECT_EQ(Shown(reader).size(), 3u);
  }
}

TEST(CCalendarDB, ReadsTheRealIos7Calendar) {
  const fs::path source =
      fs::path(VELMORA_SHARED_DIR) / "samples/OTAPKI-iphone/HomeDomain_Library_Calendar_Calendar.sqlitedb";
  if (!fs::exists(source)) GTEST_SKIP() << "no " << source;
  const platform::TempFolder folder("velmora-calendar");
  const fs::path copy = folder.Path() / "Calendar.sqlitedb";
  fs::copy_file(source, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);

  // 130 holidays of the "US Holidays" subscription, no reminders, no
  // Location rows (counted with sqlite3).
  CCalendarDB events(nullptr);
  ASSERT_TRUE(events.Open(copy.string(), 0).Ok());
  EXPECT_EQ(events.ColumnCount(), 52);
  ASSERT_EQ(events.Entries().size(), 130u);
  EXPECT_EQ(Shown(events).size(), 130u);
  const DBITEM_CalendarFriend& first = *events.Entries()[0];
  EXPECT_EQ(first.rowId, 1);
  EXPECT_EQ(first.summary, "Tax Day");
  EXPECT_EQ(first.time, 1460678400);
  EXPECT_EQ(first.endDate, 1460764799);
  EXPECT_EQ(first.deleted, 0);
  const std::string csv = CsvOf(Shown(events), kCalendarEvent);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 131);
  EXPECT_NE(csv.find("Tax Day,2016-04-15 08:00:00 ,2016-04-16 07:59:59 ,,\"\"\r\n"), std::string::npos);
  // The one summary with a comma keeps its line's five columns.
  EXPECT_NE(csv.find("\r\n\"Martin Luther King， Jr. Day\",2005-01-17 08:00:00 ,2005-01-18 07:59:59 ,,\"\"\r\n"),
            std::string::npos);

  CCalendarDB reminders(nullptr);
  reminders.wantedEntityType = kCalendarReminder;
  ASSERT_TRUE(reminders.Open(copy.string(), 0).Ok());
  EXPECT_EQ(reminders.Entries().size(), 130u);
  EXPECT_TRUE(Shown(reminders).empty());
}

}  // namespace
}  // namespace readers
