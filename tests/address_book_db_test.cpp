#include "readers/address_book_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/item_time.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/sample_contacts.h"

namespace {

namespace fs = std::filesystem;
using readers::CAddressBookDB;
using readers::DBITEM_AdrBFriend;

constexpr int kContactsCategory = 4;
const std::string kHeader =
    "名称,手机号码,iPhone号码,住宅号码,工作号码,主要号码,其他号码,住宅邮箱,工作邮箱,其他邮箱,主页,公司,部门,职位,地址,备注\r\n";

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  sample::WriteBytes(path, bytes);
}

// The database as AddressBook.sqlitedb in folder.
fs::path WriteDatabase(const platform::TempFolder& folder, const sample::SqliteFile& database) {
  const fs::path path = folder.Path() / "AddressBook.sqlitedb";
  database.WriteTo(path);
  return path;
}

std::string ContactsCsv(const CAddressBookDB& reader) {
  std::vector<db::BaseItem*> items;
  for (const auto& contact : reader.Contacts()) items.push_back(contact.get());
  exporting::CExportWriter writer(nullptr, kContactsCategory);
  readers::WriteContactsCsv(writer, items);
  return writer.CsvText();
}

// An ABPerson row with what the phone always fills (sort key, dates, guid).
std::string PersonSql(int rowId, const std::string& first, const std::string& last,
                      const std::string& nickname = "NULL", const std::string& extra = "NULL") {
  const std::string id = std::to_string(rowId);
  return "INSERT INTO ABPerson (ROWID, First, Last, Nickname, LastSort, CreationDate, ModificationDate, "
         "ExternalIdentifier, guid) VALUES (" + id + ", " + first + ", " + last + ", " + nickname +
         ", 'sort" + id + "', 690000000, 690000000, " + extra + ", 'GUID-" + id + "');\n";
}

std::string PhoneSql(int uid, int rowId, const std::string& number, int identifier) {
  return "INSERT INTO ABMultiValue (UID, record_id, property, identifier, label, value, guid) VALUES (" +
         std::to_string(uid) + ", " + std::to_string(rowId) + ", 3, " + std::to_string(identifier) +
         ", 1, '" + number + "', 'MV-" + std::to_string(uid) + "');\n";
}

// A text long enough that a row holding it cannot go back into the room of
// smaller freed rows.
std::string LongSyncId() { return "'/carddav/v1/principals/user%40icloud.com/lists/default/" + std::string(400, 'a') + ".vcf'"; }

// Rows the deleted-person layout finds in the file, with ROWID and First.
std::vector<std::pair<std::string, std::string>> PersonRowsInFile(const fs::path& path) {
  std::vector<std::pair<std::string, std::string>> found;
  db::undark::UndarkScan(path.string(), 22, -1, [&](db::undark::UndarkRow& row) {
    if (row.size() == 47) found.emplace_back(row[0].text, row[1].text);
  });
  return found;
}

class AddressBookSample : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(reader_.Open(WriteDatabase(folder_, database_).string(), 0).Ok()); }

  platform::TempFolder folder_{"velmora-contacts-test"};
  sample::SqliteFile database_ = sample::ContactsDatabase();
  CAddressBookDB reader_;
};

// The whole table: deleted contacts first (full-text rows, then ABPerson
// rows, each in the order the scan found them), the live ones in ROWID
// order. A deleted person is listed once: its own full-text row adds what
// the person row lacks, found by the ROWID or, where 王芳's row lost it, by
// the names; its deleted numbers come back with it where its ROWID did
// (Tom's whole number, not the first blank-separated part of the full-text
// row's). Shows the display-name fallbacks
// (last + first, the nickname, 未知联系人), FirstPhonetic kept in the mobile
// column (李娜), non-breaking spaces gone from numbers, the second number in
// the next column, and the live contacts' own full-text rows dropped: by the
// ContactKey (张伟, 陈静) and by their whole first number where the key
// differs (Emily's number holds blanks, 李娜 has a FirstPhonetic, David too).
TEST_F(AddressBookSample, WritesDeletedThenLiveContacts) {
  EXPECT_EQ(ContactsCsv(reader_),
            kHeader +
                "王芳,15988886666,,,,,,,,,,,,,,\r\n"
                "BakerTom,+1 (212) 555-0199,,,,,,tom.baker@example.com,,,,,,,,\r\n"
                "刘洋,18610102020,,,,,,,,,,,,,,\r\n"
                "张伟,+8613800138000,01065529988,,,,,zhangwei@163.com,,,http://weibo.com/zhangwei,,,,,\r\n"
                "ChenEmily,+1 (415) 555-0132,,,,,,emily.chen@example.com,,,,,,,,\r\n"
                "李娜,Na,,,,,,,,,,,,,,\r\n"
                "老妈,13500001111,,,,,,,,,,,,,,\r\n"
                "未知联系人,10086,,,,,,,,,,,,,,\r\n"
                "陈静,13724681357,,,,,,,,,,,,,,\r\n"
                "WangDavid,+1 (650) 555-0101,+1 (650) 555-0177,,,,,,,,,,,,,\r\n");
  std::vector<int> deleted;
  for (const auto& contact : reader_.Contacts()) deleted.push_back(contact->deleted);
  EXPECT_EQ(deleted, (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(AddressBookSample, KeepsPersonFields) {
  const auto& contacts = reader_.Contacts();
  ASSERT_EQ(contacts.size(), 10u);
  const DBITEM_AdrBFriend& zhang = *contacts[3];
  EXPECT_EQ(zhang.rowId, 1);
  EXPECT_EQ(zhang.firstName, "伟");
  EXPECT_EQ(zhang.lastName, "张");
  EXPECT_EQ(zhang.note, "大学同学");
  EXPECT_EQ(zhang.creationDate, 690000000);
  EXPECT_EQ(zhang.time, 1668307200.0);  // stored 690000000: 2022-11-13 02:40:00 UTC
  EXPECT_EQ(zhang.phones, (std::vector<std::string>{"+8613800138000", "01065529988"}));
  // The address parts are kept by entry key.
  ASSERT_EQ(zhang.propertyValues.count(5), 1u);
  EXPECT_EQ(zhang.propertyValues.at(5)[3], "北京");

  const DBITEM_AdrBFriend& li = *contacts[5];
  EXPECT_EQ(li.mobile, "Na");
  EXPECT_EQ(li.phones, (std::vector<std::string>{"13912345678"}));

  const DBITEM_AdrBFriend& chen = *contacts[8];
  EXPECT_EQ(chen.time, 1668407200.0);
  EXPECT_EQ(chen.imageUri, "https://p52-contacts.icloud.com/17193901029/wbs/0146a3c5e8f1d2b4a6c8e0f2d4b6a8c0e2f4");

  // 刘洋 rebuilt from his ABPerson row keeps its ROWID and dates, its time
  // in the unit of a live contact's.
  const DBITEM_AdrBFriend& liu = *contacts[2];
  EXPECT_EQ(liu.rowId, 7);
  EXPECT_EQ(liu.creationDate, 690000600);
  EXPECT_EQ(liu.time, 1668307800.0);
  EXPECT_EQ(liu.phones, (std::vector<std::string>{"18610102020"}));
  EXPECT_EQ(liu.deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
}

TEST_F(AddressBookSample, FindsLiveContactsByNumber) {
  struct Case {
    const char* name;
    std::string number;
    const char* displayName;  // nullptr: no contact
  };
  const Case cases[] = {
      {"eleven digits of a number saved with +86", "13800138000", "张伟"},
      {"+86 and the digits", "+8613800138000", "张伟"},
      {"0086 is not dropped", "008613800138000", nullptr},
      {"a number saved without +86, asked with it", "+8613912345678", "李娜"},
      {"the number behind a FirstPhonetic", "13912345678", "李娜"},
      {"non-breaking spaces are not in the key", "139\xC2\xA0" "1234\xC2\xA0" "5678", nullptr},
      {"a number with blanks, exactly", "+1 (415) 555-0132", "ChenEmily"},
      {"a second number", "+1 (650) 555-0177", "WangDavid"},
      {"a short service number", "10086", "未知联系人"},
      {"a deleted contact's number", "18610102020", nullptr},
      {"empty", "", nullptr},
  };
  for (const Case& c : cases) {
    const DBITEM_AdrBFriend* found = reader_.FindContactByNumber(c.number);
    if (c.displayName == nullptr) {
      EXPECT_EQ(found, nullptr) << c.name;
    } else {
      ASSERT_NE(found, nullptr) << c.name;
      EXPECT_EQ(found->displayName, c.displayName) << c.name;
      EXPECT_EQ(found->deleted, 0) << c.name;
    }
  }
}

TEST_F(AddressBookSample, MarksDeletedLinesInThePage) {
  std::vector<db::BaseItem*> items;
  for (const auto& contact : reader_.Contacts()) items.push_back(contact.get());
  exporting::CExportWriter writer(nullptr, kContactsCategory);
  const platform::TempFolder out("velmora-contacts-export");
  writer.BeginCategory(out.Path(), "iPhone");
  writer.BeginList(static_cast<int>(items.size()));
  readers::WriteContactsCsv(writer, items);
  writer.Finish();
  const auto page = platform::ReadWholeFile(writer.Folder() / "网页格式" / "联系人.html");
  ASSERT_TRUE(page.has_value());
  const std::string html(page->begin(), page->end());
  std::size_t marks = 0;
  for (std::size_t at = html.find("DeleteFlag.png"); at != std::string::npos; at = html.find("DeleteFlag.png", at + 1)) {
    ++marks;
  }
  EXPECT_EQ(marks, 3u);
}

// One contact with seven numbers, no nickname and the names 王 小明; one
// with no names at all; one whose nickname holds a comma and a quote.
TEST(AddressBookCsv, PrintsSecondToSixthNumberAndKeepsColumns) {
  std::string sql = sample::AddressBookSchema();
  sql += PersonSql(1, "'小明'", "'王'");
  for (int i = 0; i < 7; ++i) sql += PhoneSql(i + 1, 1, "1380000000" + std::to_string(i), i);
  sql += PersonSql(2, "NULL", "NULL");
  sql += PersonSql(3, "'Lei'", "'Li'", "'Li, \"Lei\"'");
  sql += PhoneSql(20, 3, "131 0000 0000", 0);
  sample::SqliteFile database(sql);
  platform::TempFolder folder("velmora-contacts-test");
  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open(WriteDatabase(folder, database).string(), 0).Ok());
  EXPECT_EQ(ContactsCsv(reader),
            kHeader +
                "王小明,13800000000,13800000001,13800000002,13800000003,13800000004,13800000005,,,,,,,,,\r\n"
                "未知联系人,,,,,,,,,,,,,,,\r\n"
                // A comma would split the name into two columns.
                "\"Li， \"\"Lei\"\"\",131 0000 0000,,,,,,,,,,,,,,\r\n");
}

// The scan finds the old copy of a person whose row grew and moved; its ROWID
// is live, so it is that contact and not a deleted one.
TEST(AddressBookRecovery, OldCopyOfALivePersonIsNotAdded) {
  std::string sql = sample::AddressBookSchema();
  for (int id = 1; id <= 4; ++id) sql += PersonSql(id, "'First" + std::to_string(id) + "'", "'Last'");
  // Row 3 goes first, so row 2's old copy joins its free block and keeps its
  // cell start; the grown row 2 does not fit back into that block.
  sql += "DELETE FROM ABPerson WHERE ROWID = 3;\n";
  sql += "UPDATE ABPerson SET First = 'Renamed', ExternalIdentifier = " + LongSyncId() + " WHERE ROWID = 2;\n";
  sample::SqliteFile database(sql);
  platform::TempFolder folder("velmora-contacts-test");
  const fs::path path = WriteDatabase(folder, database);
  const auto rows = PersonRowsInFile(path);
  ASSERT_NE(std::find(rows.begin(), rows.end(), std::make_pair(std::string("2"), std::string("First2"))), rows.end())
      << "the old copy of row 2 should be in the file";

  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  for (const auto& contact : reader.Contacts()) {
    EXPECT_NE(contact->firstName, "First2") << "row " << contact->rowId;
  }
}

// ABPerson of iOS 15 has 51 columns: the 47-column layout would read every
// value of a deleted row from the wrong place. The layout made from the
// live table reads them by name.
TEST(AddressBookRecovery, WiderPersonTableGivesItsDeletedPersonsByName) {
  std::string sql = sample::AddressBookSchema();
  sql.replace(sql.find(sample::kAbPersonTable), std::string(sample::kAbPersonTable).size(),
              sample::kAbPersonTableIos15);
  for (int id = 1; id <= 4; ++id) sql += PersonSql(id, "'Person" + std::to_string(id) + "'", "'Deleted'");
  sql += "DELETE FROM ABPerson WHERE ROWID = 3;\nDELETE FROM ABPerson WHERE ROWID = 2;\n";
  sample::SqliteFile database(sql);
  platform::TempFolder folder("velmora-contacts-test");
  const fs::path path = WriteDatabase(folder, database);
  // The precondition: the scan does find row 2, with its texts shifted.
  bool misread = false;
  for (const auto& [rowId, first] : PersonRowsInFile(path)) misread |= rowId == "2" && first != "Person2";
  ASSERT_TRUE(misread);

  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  std::vector<std::string> names;
  for (const auto& contact : reader.Contacts()) names.push_back(contact->displayName);
  EXPECT_EQ(names, (std::vector<std::string>{"DeletedPerson3", "DeletedPerson2", "DeletedPerson1", "DeletedPerson4"}));
}

// iOS 15's shape (51 columns), as the phone writes a person: its row with a
// UUID guid, its number and its full-text row, each in its own transaction.
std::string Ios15PersonSql(int n) {
  char guid[40];
  std::snprintf(guid, sizeof guid, "%08X-5C1D-4E2F-9A0B-%012d", n * 7919, n);
  const std::string id = std::to_string(n);
  const std::string number = "139" + std::to_string(10000000 + n);
  return "BEGIN;INSERT INTO ABPerson (ROWID, First, Last, FirstSort, CreationDate, ModificationDate, guid) VALUES (" +
         id + ", 'Given" + id + "', '王', 'Given" + id + " 王', " + std::to_string(690000000 + n) + ", " +
         std::to_string(690000000 + n) + ", '" + guid + "');\n" + PhoneSql(n, n, number, 0) +
         "INSERT INTO ABPersonFullTextSearch_content (docid, c0First, c1Last, c16Phone) VALUES (" + id + ", 'Given" +
         id + "', '王', '" + number + " +86" + number + " ');COMMIT;\n";
}

std::string DeletePersonSql(int n) {
  const std::string id = std::to_string(n);
  return "BEGIN;DELETE FROM ABPerson WHERE ROWID = " + id + ";DELETE FROM ABMultiValue WHERE record_id = " + id +
         ";DELETE FROM ABPersonFullTextSearch_content WHERE docid = " + id + ";COMMIT;\n";
}

// Persons deleted from the main file come back marked free space, one
// inserted and deleted after the last checkpoint (only in older frames of
// the -wal) marked as the log's, each once with its number; a live person
// whose older version the log holds, and every other live person, once and
// live.
TEST(AddressBookRecovery, Ios15PersonsDeletedInTheFileAndInTheLog) {
  std::string setup = sample::AddressBookSchema();
  setup.replace(setup.find(sample::kAbPersonTable), std::string(sample::kAbPersonTable).size(),
                sample::kAbPersonTableIos15);
  for (int n = 1; n <= 12; ++n) setup += Ios15PersonSql(n);
  setup += DeletePersonSql(3) + DeletePersonSql(4);
  std::string recent = Ios15PersonSql(20);
  recent += "UPDATE ABPerson SET ModificationDate = 700000000, Note = 'edited' WHERE ROWID = 1;\n";
  recent += DeletePersonSql(20) + DeletePersonSql(5);
  const sample::SqliteFile database(setup, recent, sample::SqliteFile::Journal::kWalPending);
  ASSERT_FALSE(database.WalBytes().empty());
  platform::TempFolder folder("velmora-contacts-test");
  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open(WriteDatabase(folder, database).string(), 0).Ok());
  std::map<std::string, std::vector<const DBITEM_AdrBFriend*>> byName;
  for (const auto& contact : reader.Contacts()) byName[contact->firstName].push_back(contact.get());
  struct Expected {
    int person;
    bool deleted;
    db::BaseItem::DeletedFrom from;
    // The cell's start is whole (a row of the log's frames, or one the main
    // file still holds): the row id comes back, and with it the numbers.
    bool whole;
  };
  std::vector<Expected> expected;
  for (int n : {1, 2, 6, 7, 8, 9, 10, 11, 12}) expected.push_back({n, false, {}, true});
  // The rows freed in the main file lost their first bytes to the free
  // block's header.
  for (int n : {3, 4}) expected.push_back({n, true, db::BaseItem::DeletedFrom::kFreeSpace, false});
  // Person 5 was deleted in the log only: the main file holds its row.
  expected.push_back({5, true, db::BaseItem::DeletedFrom::kFreeSpace, true});
  expected.push_back({20, true, db::BaseItem::DeletedFrom::kWal, true});
  for (const Expected& e : expected) {
    const std::string first = "Given" + std::to_string(e.person);
    ASSERT_EQ(byName[first].size(), 1u) << first;
    const DBITEM_AdrBFriend& contact = *byName[first][0];
    EXPECT_EQ(contact.deleted, e.deleted ? 1 : 0) << first;
    EXPECT_EQ(contact.lastName, "王") << first;
    // Person 1's newest version was edited after the checkpoint.
    EXPECT_EQ(contact.time, e.person == 1 ? 1678307200.0 : 1668307200.0 + e.person) << first;
    if (!e.whole) continue;
    EXPECT_EQ(contact.rowId, e.person) << first;
    EXPECT_EQ(contact.phones, (std::vector<std::string>{"139" + std::to_string(10000000 + e.person)})) << first;
    if (e.deleted) EXPECT_EQ(contact.deletedFrom, e.from) << first;
  }
  for (int n : {3, 4}) EXPECT_EQ(byName["Given" + std::to_string(n)][0]->deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
  EXPECT_EQ(byName.size(), expected.size());
  EXPECT_EQ(byName["Given1"][0]->note, "edited");
}

TEST(AddressBookOpen, MissingOrUnreadableDatabaseGivesZero) {
  platform::TempFolder folder("velmora-contacts-test");
  const fs::path junk = folder.Path() / "junk.sqlitedb";
  WriteFile(junk, std::vector<std::uint8_t>(4096, 'x'));
  const fs::path noTables = folder.Path() / "empty.sqlitedb";
  {
    sample::SqliteFile other("CREATE TABLE unrelated (a);");
    WriteFile(noTables, other.DatabaseBytes());
  }
  struct Case {
    const char* name;
    std::string path;
  } const cases[] = {
      {"missing", (folder.Path() / "AddressBook.sqlitedb").string()},
      {"empty path", ""},
      {"a folder", folder.Path().string()},
      {"not a database", junk.string()},
      {"no ABPerson", noTables.string()},
  };
  for (const Case& c : cases) {
    CAddressBookDB reader;
    EXPECT_FALSE(reader.Open(c.path, 0).Ok()) << c.name;
    EXPECT_TRUE(reader.Contacts().empty()) << c.name;
    EXPECT_EQ(reader.FindContactByNumber("10086"), nullptr) << c.name;
  }
}

TEST(AddressBookOpen, SecondOpenStartsAfresh) {
  sample::SqliteFile database = sample::ContactsDatabase();
  platform::TempFolder folder("velmora-contacts-test");
  const std::string path = WriteDatabase(folder, database).string();
  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  const std::string first = ContactsCsv(reader);
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  EXPECT_EQ(ContactsCsv(reader), first);
  ASSERT_FALSE(reader.Open((folder.Path() / "gone.sqlitedb").string(), 0).Ok());
  EXPECT_TRUE(reader.Contacts().empty());
  EXPECT_EQ(reader.FindContactByNumber("10086"), nullptr);
}

// Real address books, on copies. Skipped where the samples are absent.
const fs::path kSamples = "/work/shared/samples";

TEST(AddressBookRealFiles, Ios7AddressBookWithoutPersons) {
  const fs::path source = kSamples / "OTAPKI-iphone" / "HomeDomain_Library_AddressBook_AddressBook.sqlitedb";
  if (!fs::exists(source)) GTEST_SKIP() << source << " is absent";
  platform::TempFolder folder("velmora-contacts-real");
  const fs::path copy = folder.Path() / "AddressBook.sqlitedb";
  fs::copy_file(source, copy);
  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open(copy.string(), 0).Ok());
  // The phone had no persons left, and the iOS 7 tables are narrower than
  // the layouts (36 and 24 columns): nothing to list.
  EXPECT_TRUE(reader.Contacts().empty());
  EXPECT_EQ(ContactsCsv(reader), kHeader);
}

TEST(AddressBookRealFiles, Ios15AddressBookWithItsLog) {
  const fs::path sourceFolder = kSamples / "iLEAPP-testdata" / "josh_ios15_AddressBook";
  if (!fs::exists(sourceFolder / "AddressBook.sqlitedb")) GTEST_SKIP() << sourceFolder << " is absent";
  platform::TempFolder folder("velmora-contacts-real");
  for (const char* name : {"AddressBook.sqlitedb", "AddressBook.sqlitedb-wal"}) {
    fs::copy_file(sourceFolder / name, folder.Path() / name);
  }
  CAddressBookDB reader;
  ASSERT_TRUE(reader.Open((folder.Path() / "AddressBook.sqlitedb").string(), 0).Ok());
  // Nine live persons (some only in the log); the scan finds their own
  // full-text rows, which all repeat a live contact.
  EXPECT_EQ(ContactsCsv(reader),
            kHeader +
                "DFIR TwoThis Is,(919) 888-7386,,,,,,thisisdfirtwo@gmail.com,,,,,,,,\r\n"
                "未知联系人,1-800-MY-APPLE,,,,,,,,,http://www.apple.com,,,,,\r\n"
                "DFIRThis Is,,,,,,,,,,,,,,,\r\n"
                "DFIRThis,,,,,,,,,,,,,,,\r\n"
                "Liz,+1 (919) 208-4530,,,,,,,,,,,,,,\r\n"
                "DFIRThreeThisIs,,,,,,,thisisdfirthree@gmail.com,,,,,,,,\r\n"
                "HickmanJosh,(919) 579-0479,(919) 391-2507,,,,,joshuahickman957@gmail.com,,,,,,,,\r\n"
                "De'FerThom,(919) 802-7080,,,,,,,,,,,,,,\r\n"
                "DFIR TwoThis Is,(919) 888-7386,,,,,,thisisdfirtwo@gmail.com,,,,,,,,\r\n");
  const DBITEM_AdrBFriend* josh = reader.FindContactByNumber("(919) 391-2507");
  ASSERT_NE(josh, nullptr);
  EXPECT_EQ(josh->displayName, "HickmanJosh");
}

// The guids of the live persons, read with SQLite itself from a copy of
// the folder's address book and its log.
std::set<std::string> LiveGuids(const fs::path& sourceFolder) {
  platform::TempFolder folder("velmora-contacts-real");
  for (const char* name : {"AddressBook.sqlitedb", "AddressBook.sqlitedb-wal"}) {
    fs::copy_file(sourceFolder / name, folder.Path() / name);
  }
  std::set<std::string> guids;
  sqlite3* db = nullptr;
  if (sqlite3_open((folder.Path() / "AddressBook.sqlitedb").c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT guid FROM ABPerson", -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        guids.insert(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return guids;
}

// Real address books of iOS 15 and 16 with their logs (the iOS 16 ones hold
// everything in the log), on copies: every live person is listed once and
// live, and a deleted record is no copy of a live one, its texts decode and
// its date lies in the phone's years.
TEST(AddressBookRealFiles, CurrentAddressBooksGiveEveryLivePersonAndNoFalseDeletedOne) {
  struct Case {
    const char* folder;
    std::size_t livePersons;
  };
  for (const Case& c : {Case{"josh_ios15_AddressBook", 9}, Case{"mvs_ios2023_AddressBook", 0},
                        Case{"belkactf6_AddressBook", 1}}) {
    const fs::path sourceFolder = kSamples / "iLEAPP-testdata" / c.folder;
    if (!fs::exists(sourceFolder / "AddressBook.sqlitedb")) GTEST_SKIP() << sourceFolder << " is absent";
    const std::set<std::string> liveGuids = LiveGuids(sourceFolder);
    ASSERT_EQ(liveGuids.size(), c.livePersons) << c.folder;
    platform::TempFolder folder("velmora-contacts-real");
    for (const char* name : {"AddressBook.sqlitedb", "AddressBook.sqlitedb-wal"}) {
      fs::copy_file(sourceFolder / name, folder.Path() / name);
    }
    CAddressBookDB reader;
    ASSERT_TRUE(reader.Open((folder.Path() / "AddressBook.sqlitedb").string(), 0).Ok()) << c.folder;
    std::set<std::string> listed;
    std::set<std::string> liveKeys;
    for (const auto& contact : reader.Contacts()) {
      if (contact->deleted != 0) continue;
      EXPECT_TRUE(listed.insert(contact->guid).second) << c.folder << ": " << contact->guid;
      liveKeys.insert(readers::ContactKey(*contact));
    }
    EXPECT_EQ(listed, liveGuids) << c.folder;
    for (const auto& contact : reader.Contacts()) {
      if (contact->deleted == 0) continue;
      EXPECT_EQ(liveGuids.count(contact->guid), 0u) << c.folder << ": " << contact->displayName;
      EXPECT_EQ(liveKeys.count(readers::ContactKey(*contact)), 0u) << c.folder << ": " << contact->displayName;
      for (const std::string* text : {&contact->firstName, &contact->lastName, &contact->mobile, &contact->email}) {
        EXPECT_TRUE(db::IsValidUtf8(*text)) << c.folder;
      }
      EXPECT_TRUE(contact->time == 0 || (contact->time >= db::kAppleEpochOffsetSeconds && contact->time < 4102444800))
          << c.folder << ": " << contact->displayName;
    }
  }
}

}  // namespace
