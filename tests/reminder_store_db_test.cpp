#include "readers/reminder_store_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "base/categories.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "readers/category_readers.h"
#include "testing/sample_backup.h"
#include "testing/sample_calendar.h"
#include "testing/sample_reminders.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::ReminderStoreShape;
using sample::SampleReminder;
using sample::SampleReminderList;

std::string StorePath(const platform::TempFolder& folder, const std::string& sql, const char* name = "Data.sqlite") {
  const fs::path path = folder.Path() / name;
  sample::SqliteFile(sql).WriteTo(path);
  return path.string();
}

std::string CsvOf(const std::vector<db::BaseItem*>& items) {
  exporting::CExportWriter writer(nullptr, base::kCategoryReminders);
  WriteCalendarCsv(writer, items, kCalendarReminder);
  return writer.CsvText();
}

// A record as "title|list|deleted" for short expectations.
std::vector<std::string> Summaries(const std::vector<db::BaseItem*>& items) {
  std::vector<std::string> out;
  for (const db::BaseItem* item : items) {
    const auto& reminder = dynamic_cast<const DBITEM_CalendarFriend&>(*item);
    out.push_back(reminder.summary + "|" + reminder.listName + "|" + (reminder.deleted != 0 ? "deleted" : "live"));
  }
  return out;
}

std::vector<db::BaseItem*> Items(const CReminderStoreDB& store) { return db::ItemPointers(store.Reminders()); }

// The smaller store of an iOS 13-15 phone: a list the user deleted takes
// its reminder with it.
std::vector<SampleReminderList> Ios13Lists() { return {{"Reminders", false}, {"旧清单", true}}; }
std::vector<SampleReminder> Ios13Reminders() {
  return {{"还书", "", 0, 610000000, 609000000, 609000000, 0, false, 5, false, false},
          {"给妈妈打电话", "周日", 0, 0, 609100000, 609200000, 609200000, true, 0, false, false},
          {"旧任务", "", 1, 0, 608000000, 609300000, 0, false, 0, false, false}};
}

TEST(CReminderStoreDB, ReadsBothStoreShapesWithListsStatesAndRecentlyDeleted) {
  struct Case {
    const char* name;
    ReminderStoreShape shape;
    int firstEntity;  // where Z_PRIMARYKEY starts numbering; the reader must look it up
    std::vector<SampleReminderList> lists;
    std::vector<SampleReminder> reminders;
    std::vector<std::string> summaries;
    std::string csv;
  };
  const Case cases[] = {
      {"Ios16", ReminderStoreShape::kIos16, 20, sample::SampleReminderLists(), sample::SampleReminders(),
       {"预约体检|提醒事项|live", "买鸡蛋|购物清单|live", "交物业费|提醒事项|live", "退快递|购物清单|deleted",
        "交水电费|提醒事项|live"},
       "标题,列表,状态,日期,位置,优先级,备注\r\n"
       "预约体检,提醒事项,未完成,2023-11-21 09:00:00 ,,高,\"空腹， 带身份证\"\r\n"
       "买鸡蛋,购物清单,已完成,2023-11-18 16:46:40 ,,普通,\"\"\r\n"
       "交物业费,提醒事项,未完成,2023-11-24 09:00:00 ,,普通,\"\"\r\n"
       "退快递,购物清单,未完成,2023-11-20 09:00:00 ,,普通,\"\"\r\n"
       "交水电费,提醒事项,未完成,2020-11-09 18:00:00 ,,高,\"国家电网APP\"\r\n"},
      {"Ios13", ReminderStoreShape::kIos13, 7, Ios13Lists(), Ios13Reminders(),
       {"还书|Reminders|live", "给妈妈打电话|Reminders|live", "旧任务|旧清单|deleted"},
       "标题,列表,状态,日期,位置,优先级,备注\r\n"
       "还书,Reminders,未完成,2020-05-01 12:26:40 ,,普通,\"\"\r\n"
       "给妈妈打电话,Reminders,已完成,2020-04-21 02:26:40 ,,普通,\"周日\"\r\n"
       "旧任务,旧清单,未完成,2020-04-08 08:53:20 ,,普通,\"\"\r\n"},
      {"Ios13OtherEntityNumbers", ReminderStoreShape::kIos13, 1, Ios13Lists(), Ios13Reminders(),
       {"还书|Reminders|live", "给妈妈打电话|Reminders|live", "旧任务|旧清单|deleted"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::TempFolder folder("velmora-reminders");
    CReminderStoreDB store(nullptr);
    ASSERT_TRUE(store.Open(StorePath(folder, sample::ReminderStoreSql(c.shape, c.lists, c.reminders, c.firstEntity)),
                           0)
                    .Ok());
    store.Close();
    EXPECT_EQ(Summaries(Items(store)), c.summaries);
    if (!c.csv.empty()) {
      EXPECT_EQ(CsvOf(Items(store)), c.csv);
    }
    ASSERT_EQ(store.Reminders().size(), c.reminders.size());
    for (std::size_t i = 0; i < c.reminders.size(); ++i) {
      const SampleReminder& given = c.reminders[i];
      const DBITEM_CalendarFriend& read = *store.Reminders()[i];
      SCOPED_TRACE(given.title);
      EXPECT_EQ(read.entityType, kCalendarReminder);
      EXPECT_EQ(read.flagged, given.flagged);
      EXPECT_EQ(read.completed, given.completed);
      const double lastModified = given.lastModifiedDate > 0 ? given.lastModifiedDate + 978307200 : 0;
      EXPECT_EQ(read.endDate, lastModified);
      if (read.deleted != 0) {
        // In Recently Deleted since its last change.
        EXPECT_EQ(read.deletedFrom, db::BaseItem::DeletedFrom::kRecentlyDeleted);
        EXPECT_EQ(read.deletedAt, lastModified);
      }
    }
  }
}

// Reminders removed from the table come back, once each: one whose row the
// main file keeps, and one written and deleted after the last checkpoint,
// whose row only older frames of the log keep. A live reminder renamed
// after the checkpoint leaves its older version in the file and the log;
// it is no deleted reminder.
TEST(CReminderStoreDB, DeletedRemindersComeBackOnceFromTheFileAndTheLog) {
  struct Rebuilt {
    std::string summary;  // as Summaries gives it
    db::BaseItem::DeletedFrom from;
  };
  struct Case {
    const char* name;
    ReminderStoreShape shape;
    std::vector<SampleReminderList> lists;
    std::vector<SampleReminder> reminders;
    std::string rename;  // the SQL that renames a live reminder
    std::vector<Rebuilt> rebuilt;
    std::vector<std::string> live;
  };
  const SampleReminder cleaning = {"取干洗衣物", "西装", 1, 722300000, 722200000, 722200000.5, 0, false, 0,
                                   false,        false,  true, true};
  // The layout allows what the live rows hold: those left have due dates
  // and none, completion dates and none, dates with fractions and without,
  // as the deleted ones do.
  std::vector<SampleReminder> ios16 = sample::SampleReminders();
  ios16[2].deleted = true;  // 交物业费
  ios16.push_back(cleaning);
  std::vector<SampleReminder> ios13 = Ios13Reminders();
  ios13[0].deleted = true;  // 还书
  ios13.push_back({"买牙膏", "", 0, 610500000, 609500000, 609500000.75, 0, false, 0, false, false});
  ios13.push_back(cleaning);
  const Case cases[] = {
      {"Ios16", ReminderStoreShape::kIos16, sample::SampleReminderLists(), ios16,
       "UPDATE ZREMCDREMINDER SET ZTITLE = '预约体检（已约）', Z_OPT = 2 WHERE Z_PK = 1;",
       {{"交物业费|提醒事项|deleted", db::BaseItem::DeletedFrom::kFreeSpace},
        {"取干洗衣物|购物清单|deleted", db::BaseItem::DeletedFrom::kWal}},
       {"预约体检（已约）|提醒事项|live", "买鸡蛋|购物清单|live", "退快递|购物清单|deleted",
        "交水电费|提醒事项|live"}},
      // The lists and the account share the table; the first reminder's
      // Z_PK is 4.
      {"Ios13", ReminderStoreShape::kIos13, Ios13Lists(), ios13,
       "UPDATE ZREMCDOBJECT SET ZTITLE1 = '给妈妈打电话（已打）', Z_OPT = 2 WHERE Z_PK = 5;",
       {{"还书|Reminders|deleted", db::BaseItem::DeletedFrom::kFreeSpace},
        {"取干洗衣物|旧清单|deleted", db::BaseItem::DeletedFrom::kWal}},
       {"给妈妈打电话（已打）|Reminders|live", "旧任务|旧清单|deleted", "买牙膏|Reminders|live"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::TempFolder folder("velmora-reminders");
    const fs::path path = folder.Path() / "Data-local.sqlite";
    sample::ReminderStoreDatabase(c.shape, c.lists, c.reminders, c.rename)->WriteTo(path);
    CReminderStoreDB store(nullptr);
    ASSERT_TRUE(store.Open(path.string(), 0).Ok());
    store.Close();
    const std::vector<std::string> summaries = Summaries(Items(store));
    ASSERT_EQ(summaries.size(), c.rebuilt.size() + c.live.size()) << ::testing::PrintToString(summaries);
    // The rebuilt reminders lead, in the order the scan found them.
    for (const Rebuilt& rebuilt : c.rebuilt) {
      SCOPED_TRACE(rebuilt.summary);
      const auto at = std::find(summaries.begin(), summaries.end(), rebuilt.summary);
      ASSERT_NE(at, summaries.end());
      const auto index = static_cast<std::size_t>(at - summaries.begin());
      ASSERT_LT(index, c.rebuilt.size());
      const DBITEM_CalendarFriend& reminder = *store.Reminders()[index];
      EXPECT_EQ(reminder.deletedFrom, rebuilt.from);
      EXPECT_EQ(reminder.deletedAt, 0);
    }
    EXPECT_EQ(std::vector<std::string>(summaries.begin() + static_cast<std::ptrdiff_t>(c.rebuilt.size()), summaries.end()),
              c.live);
    // A rebuilt reminder reads as its live row read.
    const auto cleaned = std::find_if(store.Reminders().begin(), store.Reminders().end(),
                                      [](const auto& item) { return item->summary == "取干洗衣物"; });
    ASSERT_NE(cleaned, store.Reminders().end());
    EXPECT_EQ((*cleaned)->description, "西装");
    EXPECT_EQ((*cleaned)->time, 722300000 + 978307200);
    EXPECT_EQ((*cleaned)->endDate, 722200000.5 + 978307200);
    EXPECT_GT((*cleaned)->rowId, 0);
  }
}

TEST(CReminderStoreDB, OtherStoresGiveTheRemindersTheirColumnsHoldAndDamagedOnesNone) {
  struct Case {
    const char* name;
    std::string sql;
    std::vector<std::string> summaries;
  };
  const Case cases[] = {
      // Only some columns, no list table: what is there is read.
      {"FewColumnsNoLists",
       "CREATE TABLE ZREMCDREMINDER (Z_PK INTEGER PRIMARY KEY, ZTITLE VARCHAR, ZLIST INTEGER);"
       "INSERT INTO ZREMCDREMINDER VALUES (1, '浇花', 3);",
       {"浇花||live"}},
      // ZREMCDOBJECT, but Z_PRIMARYKEY names no reminder entity.
      {"NoReminderEntity",
       "CREATE TABLE ZREMCDOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZTITLE1 VARCHAR);"
       "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);"
       "INSERT INTO Z_PRIMARYKEY VALUES (1, 'REMCDAccount', 0, 1);"
       "INSERT INTO ZREMCDOBJECT VALUES (1, 1, 'iCloud');",
       {}},
      {"NeitherTable", "CREATE TABLE ZOTHER (Z_PK INTEGER PRIMARY KEY);", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::TempFolder folder("velmora-reminders");
    CReminderStoreDB store(nullptr);
    ASSERT_TRUE(store.Open(StorePath(folder, c.sql), 0).Ok());
    EXPECT_EQ(Summaries(Items(store)), c.summaries);
    EXPECT_TRUE(store.Problems().empty());
  }

  const platform::TempFolder folder("velmora-reminders");
  CReminderStoreDB missing(nullptr);
  EXPECT_FALSE(missing.Open((folder.Path() / "Data-local.sqlite").string(), 0).Ok());
  EXPECT_TRUE(missing.Reminders().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "Data-local.sqlite"));

  const std::string path = StorePath(folder, sample::ReminderStoreSql(ReminderStoreShape::kIos16,
                                                                      sample::SampleReminderLists(),
                                                                      sample::SampleReminders()));
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::string junk(4096, '\x07');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  CReminderStoreDB damaged(nullptr);
  EXPECT_FALSE(damaged.Open(path, 0).Ok());
  EXPECT_TRUE(damaged.Reminders().empty());
}

TEST(ListReminders, ListsTheStoresThenTheCalendarRemindersTheyDoNotRepeat) {
  const platform::TempFolder folder("velmora-reminders");
  std::vector<std::unique_ptr<CReminderStoreDB>> stores;
  for (const auto& [name, sql] :
       {std::pair{"Data-1.sqlite", sample::ReminderStoreSql(ReminderStoreShape::kIos16, sample::SampleReminderLists(),
                                                             sample::SampleReminders())},
        std::pair{"Data-2.sqlite", sample::ReminderStoreSql(ReminderStoreShape::kIos13, Ios13Lists(),
                                                             Ios13Reminders())}}) {
    stores.push_back(std::make_unique<CReminderStoreDB>(nullptr));
    ASSERT_TRUE(stores.back()->Open(StorePath(folder, sql, name), 0).Ok());
  }
  CCalendarDB calendar(nullptr);
  calendar.wantedEntityType = kCalendarReminder;
  const fs::path calendarPath = folder.Path() / "Calendar.sqlitedb";
  sample::SqliteFile(sample::CalendarSql(sample::SampleCalendarItems())).WriteTo(calendarPath);
  ASSERT_TRUE(calendar.Open(calendarPath.string(), 0).Ok());

  // "交水电费" came over into the store with its due date: listed once. The
  // calendar's events are not reminders.
  EXPECT_EQ(Summaries(ListReminders(stores, &calendar)),
            (std::vector<std::string>{"预约体检|提醒事项|live", "买鸡蛋|购物清单|live", "交物业费|提醒事项|live",
                                      "退快递|购物清单|deleted", "交水电费|提醒事项|live", "还书|Reminders|live",
                                      "给妈妈打电话|Reminders|live", "旧任务|旧清单|deleted", "取快递||deleted",
                                      "买牛奶||live"}));
  EXPECT_EQ(ListReminders({}, nullptr).size(), 0u);
}

// The reminders category on the files a phone of each age leaves, in every
// backup form.
TEST(RemindersCategory, FindsEveryStoreAndTheCalendarRemindersInEveryBackupForm) {
  using Build = void (*)(sample::SampleBackupBuilder&);
  struct Case {
    const char* name;
    Build build;
    std::vector<std::string> summaries;
  };
  const auto ios13Store = [](sample::SampleBackupBuilder& builder) {
    builder.AddDatabase(sample::kRemindersHomeDomain, sample::kRemindersHomeStorePath,
                        sample::SqliteFile(sample::ReminderStoreSql(ReminderStoreShape::kIos13, Ios13Lists(),
                                                                    Ios13Reminders())));
    builder.AddDatabase(sample::kRemindersHomeDomain, "Library/Reminders/Container_v1/Stores/Data-local.sqlite",
                        sample::SqliteFile(sample::ReminderStoreSql(
                            ReminderStoreShape::kIos13, {{"本机", false}},
                            {{"充电", "", 0, 0, 609000000, 0, 0, false, 0, false, false}})));
    // Not stores: the store's shared-memory file, a file in a folder of a
    // store's name, and another app's file.
    builder.AddText(sample::kRemindersHomeDomain, "Library/Reminders/Container_v1/Stores/Data-local.sqlite-shm", "x");
    builder.AddText(sample::kRemindersHomeDomain, "Library/Reminders/Container_v1/Stores/Data-x/a.sqlite", "x");
    builder.AddText(sample::kRemindersHomeDomain, "Library/Other/Data-y.sqlite", "x");
  };
  const std::vector<std::string> ios17 = {"预约体检|提醒事项|live", "买鸡蛋|购物清单|live", "交物业费|提醒事项|live",
                                          "退快递|购物清单|deleted", "交水电费|提醒事项|live"};
  const Case cases[] = {
      {"Ios17GroupStore", sample::AddRemindersApp, ios17},
      {"Ios13TwoHomeStores", ios13Store,
       {"还书|Reminders|live", "给妈妈打电话|Reminders|live", "旧任务|旧清单|deleted", "充电|本机|live"}},
      // An older phone: the reminders of Calendar.sqlitedb as before.
      {"CalendarOnly", sample::AddCalendarApp, {"取快递||deleted", "买牛奶||live", "交水电费||live"}},
      {"CalendarAndStore",
       [](sample::SampleBackupBuilder& builder) {
         sample::AddCalendarApp(builder);
         sample::AddRemindersApp(builder);
       },
       {"预约体检|提醒事项|live", "买鸡蛋|购物清单|live", "交物业费|提醒事项|live", "退快递|购物清单|deleted",
        "交水电费|提醒事项|live", "取快递||deleted", "买牛奶||live"}},
  };
  const platform::TempFolder root("velmora-reminders");
  int n = 0;
  for (const Case& c : cases) {
    sample::SampleBackupBuilder builder;
    c.build(builder);
    for (const auto mode : {sample::BackupMode::kManifestDb, sample::BackupMode::kManifestMbdb,
                            sample::BackupMode::kFolder}) {
      SCOPED_TRACE(std::string(c.name) + " in form " + std::to_string(static_cast<int>(mode)));
      const fs::path folder = root.Path() / std::to_string(n++);
      builder.Write(folder, mode);
      backup::CFileListDB index;
      ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
      const std::unique_ptr<ICategoryReader> reader =
          MakeCalendarReader(*base::FindCategory(base::kCategoryReminders));
      ASSERT_TRUE(reader->Open(index).Ok());
      reader->Load({});
      EXPECT_EQ(Summaries(reader->ResultList()), c.summaries);
      EXPECT_TRUE(reader->Problems().empty());
    }
  }
}

TEST(RemindersCategory, ABackupWithoutRemindersIsNotFoundAndADeletedOneSaysWhere) {
  const platform::TempFolder root("velmora-reminders");
  sample::SampleBackupBuilder empty;
  empty.AddText("HomeDomain", "Library/Preferences/a.plist", "x");
  empty.Write(root.Path() / "empty", sample::BackupMode::kManifestDb);
  backup::CFileListDB emptyIndex;
  ASSERT_TRUE(emptyIndex.Open((root.Path() / "empty").string(), -1).Ok());
  const auto nothing = MakeCalendarReader(*base::FindCategory(base::kCategoryReminders));
  EXPECT_EQ(nothing->Open(emptyIndex).Kind(), base::Status::Code::kNotFound);
  EXPECT_TRUE(nothing->Problems().empty());

  sample::SampleBackupBuilder builder;
  sample::AddRemindersApp(builder);
  builder.Write(root.Path() / "ios17", sample::BackupMode::kManifestDb);
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open((root.Path() / "ios17").string(), -1).Ok());
  const auto reader = MakeCalendarReader(*base::FindCategory(base::kCategoryReminders));
  ASSERT_TRUE(reader->Open(index).Ok());
  reader->Load({});
  const auto list = reader->ResultList();
  ASSERT_EQ(list.size(), 5u);
  const nlohmann::ordered_json deleted = reader->RecordJson(*list[3]);
  EXPECT_EQ(deleted["title"], "退快递");
  EXPECT_EQ(deleted["deletedFrom"], "recently-deleted");
  EXPECT_EQ(deleted["deletedAt"], 1700407200.5);
  EXPECT_EQ(deleted["listName"], "购物清单");
  const nlohmann::ordered_json flagged = reader->RecordJson(*list[0]);
  EXPECT_EQ(flagged["flagged"], true);
  EXPECT_EQ(flagged["completed"], false);
  EXPECT_EQ(flagged["description"], "空腹, 带身份证");
  EXPECT_EQ(reader->RecordJson(*list[1])["completed"], true);
}

}  // namespace
}  // namespace readers
