#include "readers/call_history_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "base/categories.h"
#include "db/item_time.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "readers/address_book_db.h"
#include "readers/category_readers.h"
#include "testing/sample_backup.h"
#include "testing/sample_calls.h"
#include "testing/sample_contacts.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::CallStoreShape;
using sample::SampleCall;

// Writes a sample database into folder under name and returns its path.
std::string WriteDatabase(const platform::TempFolder& folder, const std::string& name,
                          const sample::SqliteFile& database) {
  const fs::path path = folder.Path() / name;
  database.WriteTo(path);
  return path.string();
}

std::string StorePath(const platform::TempFolder& folder, CallStoreShape shape, const std::vector<SampleCall>& calls) {
  const sample::SqliteFile database(sample::CallHistorySql(shape, calls));
  return WriteDatabase(folder, "CallHistory.storedata", database);
}

// A stored ZDATE as the Unix seconds a call's time holds.
double UnixOf(double appleSeconds) { return appleSeconds + static_cast<double>(db::kAppleEpochOffsetSeconds); }

std::string CsvOf(const std::vector<db::BaseItem*>& calls) {
  exporting::CExportWriter writer(nullptr, 3);
  WriteCallsCsv(writer, calls);
  return writer.CsvText();
}

struct ShapeCase {
  const char* name;
  CallStoreShape shape;
  int columns;
};
void PrintTo(const ShapeCase& shapeCase, std::ostream* out) { *out << shapeCase.name; }

class CallStoreShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CallStoreShapes, ListsDeletedCallsFirstEachOnceThenLiveCallsInTableOrder) {
  const platform::TempFolder folder("velmora-calls");
  const std::vector<SampleCall> log = sample::SampleCallLog();
  const std::string path = StorePath(folder, GetParam().shape, log);

  CCallHistoryDB reader(nullptr, nullptr);
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  reader.Close();
  EXPECT_EQ(reader.CallColumnCount(), GetParam().columns);

  // The scanner meets every live record too; those repeats are dropped.
  std::vector<const SampleCall*> deleted;
  std::vector<const SampleCall*> live;
  for (const SampleCall& call : log) (call.deleted ? deleted : live).push_back(&call);
  const auto& calls = reader.Calls();
  ASSERT_EQ(calls.size(), log.size());
  const std::size_t recoveredCount = deleted.size();

  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    const DBITEM_CallHistory& call = *calls[i];
    const bool isRecovered = i < recoveredCount;
    EXPECT_EQ(call.deleted, isRecovered ? 1 : 0);
    if (isRecovered) {
      // Found among the deleted sample calls by its date and number.
      const auto match = std::find_if(deleted.begin(), deleted.end(), [&](const SampleCall* wanted) {
        return UnixOf(wanted->appleSeconds) == call.time && wanted->address == call.address;
      });
      ASSERT_NE(match, deleted.end()) << call.address;
      EXPECT_EQ(call.duration, (*match)->durationSeconds);
      EXPECT_EQ(call.Outgoing(), (*match)->outgoing);
      EXPECT_EQ(call.location, (*match)->location);
      EXPECT_EQ(call.intFields[kCallPkField], -1);  // a freed record keeps no key
      deleted.erase(match);
    } else {
      const SampleCall& wanted = *live[i - recoveredCount];
      EXPECT_EQ(call.time, UnixOf(wanted.appleSeconds));
      EXPECT_EQ(call.address, wanted.address);
      EXPECT_EQ(call.duration, wanted.durationSeconds);
      EXPECT_EQ(call.Outgoing(), wanted.outgoing);
      EXPECT_GT(call.intFields[kCallPkField], 0);
    }
    EXPECT_EQ(call.countryCode, "cn");
    EXPECT_EQ(call.serviceProvider, "com.apple.Telephony");
    EXPECT_EQ(call.uniqueId.size(), 36u);
    EXPECT_EQ(call.name, (call.address == "13700002222" ? "王芳" : kUnknownContactName));
  }

  // Opening again starts afresh.
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  EXPECT_EQ(reader.Calls().size(), log.size());
}

INSTANTIATE_TEST_SUITE_P(Shapes, CallStoreShapes,
                         ::testing::Values(ShapeCase{"WithDeviceColumn", CallStoreShape::k21Columns, 21},
                                           ShapeCase{"WithoutDeviceColumn", CallStoreShape::k23Columns, 23}),
                         [](const auto& shapeCase) { return std::string(shapeCase.param.name); });

TEST(CCallHistoryDB, RecoveredCallRepeatingALiveOneIsDroppedAndOneWithAnotherNumberListedFirst) {
  const platform::TempFolder folder("velmora-calls");
  const std::string path = StorePath(folder, CallStoreShape::k21Columns,
                                     {
                                         {500000000.5, 64, "13800138000", "", "北京", false, true, false},
                                         {500000000.5, 64, "13800138000", "", "北京", false, true, true},
                                         {500000000.5, 47.5, "13900001111", "", "上海", true, true, true},
                                     });
  CCallHistoryDB reader(nullptr, nullptr);
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  ASSERT_EQ(reader.Calls().size(), 2u);
  EXPECT_EQ(reader.Calls()[0]->address, "13900001111");
  EXPECT_EQ(reader.Calls()[0]->deleted, 1);
  EXPECT_EQ(reader.Calls()[1]->address, "13800138000");
  EXPECT_EQ(reader.Calls()[1]->deleted, 0);
  // Live and recovered rows of one moment give one Unix time, which is what
  // lets the repeat of the live call be dropped.
  EXPECT_EQ(reader.Calls()[0]->time, 1478307200.5);
  EXPECT_EQ(reader.Calls()[1]->time, 1478307200.5);
  // A recovered duration keeps its fraction, as the live row would show it.
  EXPECT_EQ(CsvOf(reader.CallItems()),
            "名字,手机,日期,类型,持续时间\r\n"
            "未知联系人,13900001111,2016-11-05 08:53:20 ,呼出电话,47.500000秒\r\n"
            "未知联系人,13800138000,2016-11-05 08:53:20 ,呼入电话,64.000000秒\r\n");
}

TEST(WriteCallsCsv, WritesOneExactLinePerCall) {
  DBITEM_CallHistory cancelled;
  cancelled.name = "王芳";
  cancelled.address = "13700002222";
  cancelled.time = 1478307200.5;  // 2016-11-05 00:53:20 UTC
  DBITEM_CallHistory outgoing;
  outgoing.name = "未知联系人";
  outgoing.address = "+14155550123";
  outgoing.time = 1478307200;
  outgoing.duration = 421;
  outgoing.intFields[kCallOutgoingField] = 1;
  outgoing.deleted = 1;
  DBITEM_CallHistory commaName;
  commaName.name = "Doe, \"JJ\"";
  commaName.address = "10086";
  commaName.time = 1478307200.5;
  commaName.duration = 0.25;
  db::DBITEM_TbNameList notACall;

  EXPECT_EQ(CsvOf({&cancelled, &outgoing, &notACall, &commaName}),
            "名字,手机,日期,类型,持续时间\r\n"
            "王芳,13700002222,2016-11-05 08:53:20 ,呼入电话,已取消的电话\r\n"
            "未知联系人,+14155550123,2016-11-05 08:53:20 ,呼出电话,421.000000秒\r\n"
            "\"Doe， \"\"JJ\"\"\",10086,2016-11-05 08:53:20 ,呼入电话,0.250000秒\r\n");
}

TEST(CCallHistoryDB, NamesCallsThroughContactsDroppingTheChinaPrefix) {
  const platform::TempFolder folder("velmora-calls");
  const sample::SqliteFile contactsFile = sample::ContactsDatabase();
  CAddressBookDB contacts;
  ASSERT_TRUE(contacts.Open(WriteDatabase(folder, "AddressBook.sqlitedb", contactsFile), 0).Ok());
  contacts.Close();

  const std::string path = StorePath(folder, CallStoreShape::k23Columns,
                                     {
                                         {626000000.5, 30, "13912345678", "", "", false, true, false},
                                         {626000100.5, 30, "+8613912345678", "", "", false, true, false},
                                         {626000200.5, 30, "+8613912345678", "", "", true, true, true},
                                         {626000300.5, 30, "13912345678", "小李", "", false, true, false},
                                         {626000400.5, 30, "13600003333", "", "", false, true, false},
                                         {626000500.5, 0, "", "", "", false, false, false},
                                     });
  CCallHistoryDB reader(nullptr, &contacts);
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  std::vector<std::string> names;
  for (const auto& call : reader.Calls()) names.push_back(call->name);
  EXPECT_EQ(names, (std::vector<std::string>{"李娜", "李娜", "李娜", "小李", kUnknownContactName,
                                             kUnknownContactName}));
}

// The iOS 8 store: 18 columns, ZDATE at 10, no ZHANDLE_TYPE or
// ZSERVICE_PROVIDER, ZADDRESS a BLOB at the end.
const char kIos8Store[] =
    "CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZANSWERED INTEGER, "
    "ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, ZNUMBER_AVAILABILITY INTEGER, "
    "ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZDEVICE_ID VARCHAR, "
    "ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, ZUNIQUE_ID VARCHAR, ZADDRESS BLOB );\n"
    "INSERT INTO ZCALLRECORD VALUES (1, 2, 1, 1, 1, 0, NULL, 0, 1, 1, 626000000.418, 64, NULL, 'cn', '北京', "
    "NULL, '0F9A3C7E-2B44-4D0B-9E1A-6C3F8D2B7A51', CAST('+8613812345678' AS BLOB));\n"
    "INSERT INTO ZCALLRECORD VALUES (2, 2, 1, 1, 1, 0, NULL, 0, 0, 1, 626090002.733, 5, NULL, 'cn', '北京', "
    "NULL, '1F9A3C7E-2B44-4D0B-9E1A-6C3F8D2B7A51', CAST('13800138000' AS BLOB));\n"
    "DELETE FROM ZCALLRECORD WHERE Z_PK = 2;\n";

// A store of 21 columns whose ZORIGINATED is not at 10: the numbered
// layout would read the direction from ZREAD. One live call has a name, as
// some calls of a real log do (a column no live row fills takes no deleted
// value either).
std::vector<SampleCall> SwappedColumnsLog() {
  std::vector<SampleCall> log = sample::SampleCallLog();
  log[0].name = "张伟";
  return log;
}
std::string SwappedColumnsStore() {
  std::string sql = sample::CallHistorySql(CallStoreShape::k21Columns, SwappedColumnsLog());
  const std::string columns = "ZORIGINATED INTEGER, ZREAD INTEGER";
  sql.replace(sql.find(columns), columns.size(), "ZREAD INTEGER, ZORIGINATED INTEGER");
  return sql;
}

struct OtherStoreCase {
  const char* name;
  std::string sql;
  int columns;
  std::size_t liveCalls;
  std::vector<SampleCall> deleted;  // in the order the scan finds them
};
void PrintTo(const OtherStoreCase& storeCase, std::ostream* out) { *out << storeCase.name; }

std::vector<SampleCall> DeletedOf(const std::vector<SampleCall>& log) {
  std::vector<SampleCall> deleted;
  for (const SampleCall& call : log) {
    if (call.deleted) deleted.insert(deleted.begin(), call);
  }
  return deleted;
}

// The sample writes its values by position: the column named ZORIGINATED
// holds the 1 written for ZREAD, and every call reads as outgoing.
std::vector<SampleCall> SwappedColumnsDeleted() {
  std::vector<SampleCall> deleted = DeletedOf(SwappedColumnsLog());
  for (SampleCall& call : deleted) call.outgoing = true;
  return deleted;
}

class OtherCallStores : public ::testing::TestWithParam<OtherStoreCase> {};

// Stores of other shapes than the numbered layout's are scanned with the
// layout made from their live table; live and deleted rows are read by
// column name.
TEST_P(OtherCallStores, GiveTheirLiveAndDeletedCallsByColumnName) {
  const platform::TempFolder folder("velmora-calls");
  const sample::SqliteFile database(GetParam().sql);
  CCallHistoryDB reader(nullptr, nullptr);
  ASSERT_TRUE(reader.Open(WriteDatabase(folder, "CallHistory.storedata", database), 0).Ok());
  EXPECT_EQ(reader.CallColumnCount(), GetParam().columns);
  const std::vector<SampleCall>& deleted = GetParam().deleted;
  ASSERT_EQ(reader.Calls().size(), GetParam().liveCalls + deleted.size());
  for (std::size_t i = 0; i < reader.Calls().size(); ++i) {
    const DBITEM_CallHistory& call = *reader.Calls()[i];
    EXPECT_EQ(call.deleted, i < deleted.size() ? 1 : 0) << i;
    if (i >= deleted.size()) continue;
    EXPECT_EQ(call.deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
    EXPECT_EQ(call.address, deleted[i].address);
    EXPECT_EQ(call.time, UnixOf(deleted[i].appleSeconds));
    EXPECT_EQ(call.duration, deleted[i].durationSeconds);
    EXPECT_EQ(call.Outgoing(), deleted[i].outgoing) << call.address;
    EXPECT_EQ(call.location, deleted[i].location);
    EXPECT_EQ(call.name, deleted[i].name.empty() ? kUnknownContactName : deleted[i].name);
    EXPECT_EQ(call.uniqueId.size(), 36u);
  }
  // Live rows are read by column name whatever the shape.
  const DBITEM_CallHistory& first = *reader.Calls()[deleted.size()];
  EXPECT_EQ(first.address, "+8613812345678");
  EXPECT_DOUBLE_EQ(first.time, 1604307200.418);
  EXPECT_EQ(first.duration, 64);
  EXPECT_EQ(first.location, "北京");
}

INSTANTIATE_TEST_SUITE_P(
    Stores, OtherCallStores,
    ::testing::Values(OtherStoreCase{"Ios8", kIos8Store, 18, 1, {{626090002.733, 5, "13800138000", "", "北京"}}},
                      OtherStoreCase{"SwappedColumns", SwappedColumnsStore(), 21, 9, SwappedColumnsDeleted()}),
    [](const auto& storeCase) { return std::string(storeCase.param.name); });

// A call of the iOS 8 store (18 columns), its number stored as a BLOB.
std::string Ios8CallSql(int pk, bool outgoing) {
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "%08X-2B44-4D0B-9E1A-6C3F8D2B7A51", pk);
  return "INSERT INTO ZCALLRECORD VALUES (" + std::to_string(pk) + ", 2, 1, 1, 1, 0, NULL, 0, " +
         (outgoing ? "1" : "0") + ", 0, " + std::to_string(626000000 + pk * 3600) + ".25, " + std::to_string(pk * 10) +
         ", NULL, 'cn', '北京', " + (pk % 4 == 0 ? "'李娜'" : "NULL") + ", '" + uuid + "', CAST('13800" +
         std::to_string(100000 + pk) + "' AS BLOB));\n";
}

// Calls deleted from the main file come back marked free space, one
// inserted and deleted after the last checkpoint (only in older frames of
// the -wal) marked as the log's; each once, read by column name; a live
// call marked read in the log (its older version stays in a frame) is
// listed once, live.
TEST(CCallHistoryDB, Ios8StoreGivesCallsDeletedInTheFileAndInTheLog) {
  const std::string schema = std::string(kIos8Store).substr(0, std::string(kIos8Store).find("INSERT"));
  std::string setup = schema + "BEGIN;";
  for (int pk = 1; pk <= 20; ++pk) setup += Ios8CallSql(pk, pk % 2 == 0);
  setup += "COMMIT;DELETE FROM ZCALLRECORD WHERE Z_PK IN (3, 8, 9);";
  const std::string recent = "BEGIN;" + Ios8CallSql(30, true) + Ios8CallSql(31, false) +
                             "COMMIT;UPDATE ZCALLRECORD SET ZREAD = 1, Z_OPT = 2 WHERE Z_PK = 1;"
                             "DELETE FROM ZCALLRECORD WHERE Z_PK = 30;";
  const sample::SqliteFile database(setup, recent, sample::SqliteFile::Journal::kWalPending);
  ASSERT_FALSE(database.WalBytes().empty());
  const platform::TempFolder folder("velmora-calls");
  CCallHistoryDB reader(nullptr, nullptr);
  ASSERT_TRUE(reader.Open(WriteDatabase(folder, "CallHistory.storedata", database), 0).Ok());
  EXPECT_EQ(reader.CallColumnCount(), 18);
  std::map<std::string, std::vector<const DBITEM_CallHistory*>> byAddress;
  for (const auto& call : reader.Calls()) byAddress[call->address].push_back(call.get());
  std::size_t deletedCount = 0;
  for (int pk : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 30, 31}) {
    const std::string address = "13800" + std::to_string(100000 + pk);
    ASSERT_EQ(byAddress[address].size(), 1u) << address;
    const DBITEM_CallHistory& call = *byAddress[address][0];
    const bool deleted = pk == 3 || pk == 8 || pk == 9 || pk == 30;
    EXPECT_EQ(call.deleted, deleted ? 1 : 0) << address;
    EXPECT_EQ(call.time, UnixOf(626000000 + pk * 3600 + 0.25)) << address;
    EXPECT_EQ(call.duration, pk * 10) << address;
    EXPECT_EQ(call.Outgoing(), pk % 2 == 0 || pk == 30) << address;
    EXPECT_EQ(call.location, "北京") << address;
    EXPECT_EQ(call.name, pk % 4 == 0 ? "李娜" : kUnknownContactName) << address;
    // Integers by name: Z_ENT, ZANSWERED, ZCALLTYPE; ZFACE_TIME_DATA is
    // NULL, and the store has no ZCALL_CATEGORY or ZHANDLE_TYPE: 0, as live.
    EXPECT_EQ((std::vector<int>{call.intFields[1], call.intFields[3], call.intFields[5], call.intFields[7],
                                call.intFields[4], call.intFields[8]}),
              (std::vector<int>{2, 1, 1, 0, 0, 0}))
        << address;
    if (!deleted) continue;
    ++deletedCount;
    EXPECT_EQ(call.deletedFrom, pk == 30 ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace)
        << address;
  }
  EXPECT_EQ(deletedCount, 4u);
  EXPECT_EQ(reader.Calls().size(), 22u);
}

TEST(CCallHistoryDB, MissingOrDamagedStoresGiveNoCalls) {
  const platform::TempFolder folder("velmora-calls");
  CCallHistoryDB missing(nullptr, nullptr);
  EXPECT_FALSE(missing.Open((folder.Path() / "CallHistory.storedata").string(), 0).Ok());
  EXPECT_TRUE(missing.Calls().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "CallHistory.storedata"));

  // A store whose first page is torn off: SQL reads nothing, and the scan
  // of what remains must not crash.
  const std::string path = StorePath(folder, CallStoreShape::k21Columns, sample::SampleCallLog());
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::string junk(4096, '\x01');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  CCallHistoryDB damaged(nullptr, nullptr);
  damaged.Open(path, 0);
  EXPECT_EQ(damaged.CallColumnCount(), 0);
  EXPECT_TRUE(damaged.Calls().empty());
}

TEST(CCallHistoryDB, ReadsTheRealIos7CallDatabaseWhichHasNoCallRecordTable) {
  const fs::path source = fs::path(VELMORA_SHARED_DIR) / "samples/OTAPKI-iphone/WirelessDomain_Library_CallHistory_call_history.db";
  if (!fs::exists(source)) GTEST_SKIP() << "no " << source;
  const platform::TempFolder folder("velmora-calls");
  const fs::path copy = folder.Path() / "call_history.db";
  fs::copy_file(source, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);

  // iOS 7 kept its calls in the table "call" (empty in this file), before the
  // Core Data store; the reader finds no ZCALLRECORD and lists nothing.
  CCallHistoryDB reader(nullptr, nullptr);
  EXPECT_TRUE(reader.Open(copy.string(), 0).Ok());
  EXPECT_EQ(reader.CallColumnCount(), 0);
  EXPECT_TRUE(reader.Calls().empty());
}

// A call as "address|deleted" for short expectations.
std::vector<std::string> Summaries(const std::vector<db::BaseItem*>& calls) {
  std::vector<std::string> out;
  for (const db::BaseItem* item : calls) {
    const auto& call = dynamic_cast<const DBITEM_CallHistory&>(*item);
    out.push_back(call.address + "|" + (call.deleted != 0 ? "deleted" : "live"));
  }
  return out;
}

TEST(JoinCalls, ListsAMovedCallOnceAndDeletedCallsOnlyWhereNoStoreHoldsThemLive) {
  const platform::TempFolder folder("velmora-calls");
  const SampleCall a{626000000.5, 30, "13800138000", "", "", false, true, false};
  const SampleCall b{626000100.5, 40, "13900001111", "", "", true, true, false};
  const SampleCall c{626000200.5, 50, "10086", "", "", true, true, true};
  SampleCall bMoved = b;
  bMoved.deleted = true;
  const SampleCall d{626000300.5, 60, "95588", "", "", false, true, false};
  const SampleCall e{626000400.5, 70, "13600003333", "", "", false, true, true};
  std::vector<std::unique_ptr<CCallHistoryDB>> stores;
  for (const auto& [name, calls] : {std::pair{"CallHistory.storedata", std::vector<SampleCall>{a, b, c}},
                                    std::pair{"CallHistoryTemp.storedata", std::vector<SampleCall>{a, d, bMoved, e}}}) {
    stores.push_back(std::make_unique<CCallHistoryDB>(nullptr, nullptr));
    ASSERT_TRUE(stores.back()->Open(WriteDatabase(folder, name, sample::SqliteFile(sample::CallHistorySql(
                                                                    CallStoreShape::k21Columns, calls))),
                                    0)
                    .Ok());
  }
  EXPECT_EQ(Summaries(JoinCalls(stores)),
            (std::vector<std::string>{"10086|deleted", "13600003333|deleted", "13800138000|live", "13900001111|live",
                                      "95588|live"}));
  // One store: its own list.
  stores.pop_back();
  EXPECT_EQ(JoinCalls(stores), stores[0]->CallItems());
  EXPECT_TRUE(JoinCalls({}).empty());
}

// The calls category on the call log alone (as before), with the store of
// the newest calls beside it, and on that store alone, in every backup form.
TEST(CallsCategory, ReadsTheCallLogAndTheNewestCallsInEveryBackupForm) {
  const platform::TempFolder root("velmora-calls");
  // The log's own list, read straight from its store.
  const std::string logSql = sample::CallHistorySql(CallStoreShape::k21Columns, sample::SampleCallLog());
  CCallHistoryDB logStore(nullptr, nullptr);
  ASSERT_TRUE(logStore.Open(WriteDatabase(root, "log.storedata", sample::SqliteFile(logSql)), 0).Ok());
  const std::vector<std::string> log = Summaries(logStore.CallItems());
  ASSERT_EQ(log.size(), 12u);
  std::vector<std::string> logAndNewest = log;
  logAndNewest.push_back("13800138000|live");

  struct Case {
    const char* name;
    bool log;
    bool newest;
    std::vector<std::string> summaries;
  };
  const Case cases[] = {
      {"LogOnly", true, false, log},
      {"LogAndNewest", true, true, logAndNewest},
      {"NewestOnly", false, true, {"10086|live", "13800138000|live"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    sample::SampleBackupBuilder builder;
    if (c.log) builder.AddDatabase(sample::kCallHistoryDomain, sample::kCallHistoryRelativePath, sample::SqliteFile(logSql));
    if (c.newest) {
      builder.AddDatabase(sample::kCallHistoryDomain, sample::kCallHistoryTempRelativePath,
                          sample::SqliteFile(sample::CallHistorySql(CallStoreShape::k21Columns,
                                                                    sample::SampleNewestCalls())));
    }
    for (const auto mode : {sample::BackupMode::kManifestDb, sample::BackupMode::kManifestMbdb,
                            sample::BackupMode::kFolder}) {
      SCOPED_TRACE(std::string(c.name) + " in form " + std::to_string(static_cast<int>(mode)));
      const fs::path folder = root.Path() / std::to_string(n++);
      builder.Write(folder, mode);
      backup::CFileListDB index;
      ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
      const std::unique_ptr<ICategoryReader> reader = MakePeopleReader(*base::FindCategory(base::kCategoryCalls));
      ASSERT_TRUE(reader->Open(index).Ok());
      reader->Load({});
      EXPECT_EQ(Summaries(reader->ResultList()), c.summaries);
      EXPECT_TRUE(reader->Problems().empty());
    }
  }
}

}  // namespace
}  // namespace readers
