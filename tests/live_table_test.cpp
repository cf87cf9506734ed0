// Deleted rows of a table found with the layout made from its live shape,
// in the main file and in the frames of its write-ahead log, on real SQLite
// files.
#include "readers/live_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/undark/undark.h"
#include "platform/fs.h"
#include "readers/table_rows.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using db::undark::UndarkRow;
using readers::LiveTable;
using readers::RowPlace;
using sample::SqliteFile;

// A reader of any file: the scan needs the base alone.
class PlainReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int) override { return "item"; }
};

// A phone-like table: the row id, a note that may run long (its serial
// type then takes two bytes) before the UUID guid, a date in nanoseconds, a
// flag and an amount.
constexpr const char* kSchema =
    "PRAGMA secure_delete=OFF;"
    "CREATE TABLE item (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, note TEXT, guid TEXT UNIQUE NOT NULL, "
    "date INTEGER, flag INTEGER DEFAULT 0, amount REAL);";

std::string Guid(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-1111-4222-8333-%012d", n, n);
  return text;
}

std::string Insert(int n, const std::string& note) {
  return "INSERT INTO item (note, guid, date, flag, amount) VALUES ('" + note + "', '" + Guid(n) + "', " +
         std::to_string(700000000000000000LL + n) + ", " + std::to_string(n % 2) + ", " + std::to_string(n) +
         " * 0.5);";
}

std::string Note(int n) { return "note " + std::to_string(n) + std::string(static_cast<std::size_t>(n % 3) * 40, 'x'); }

// Whether a row's guid is still in the file's bytes: SQLite moves the
// cells of a page that merges with its sibling, and clears a root page, so
// not every deleted row leaves its bytes behind.
bool StillInFile(const fs::path& path, int n) {
  const auto bytes = platform::ReadFileStart(path, 1u << 24);
  if (!bytes) return false;
  const std::string image(bytes->begin(), bytes->end());
  return image.find(Guid(n)) != std::string::npos;
}

// The rows the scan handed over, by note, with where they were found.
struct Found {
  std::map<std::string, std::vector<RowPlace>> byNote;
  std::size_t rows = 0;
};

Found ScanItems(PlainReader& reader) {
  const auto table = LiveTable::Read(reader, "item");
  EXPECT_TRUE(table.has_value());
  Found found;
  if (!table) return found;
  const int note = table->Index("note");
  readers::ScanLiveTable(reader, *table, [&](UndarkRow& row, const RowPlace& place) {
    ++found.rows;
    found.byNote[row[static_cast<std::size_t>(note)].text].push_back(place);
  });
  return found;
}

class LiveTableTest : public ::testing::Test {
 protected:
  fs::path Place(const SqliteFile& file, const std::string& name = "item.db") {
    const fs::path path = folder_.Path() / name;
    file.WriteTo(path);
    return path;
  }
  platform::TempFolder folder_;
};

TEST_F(LiveTableTest, ShapeAndRulesComeFromTheLiveRows) {
  std::string sql = kSchema;
  for (int n = 1; n <= 6; ++n) sql += Insert(n, Note(n));
  sql += "UPDATE item SET note = NULL WHERE ROWID = 2;";
  PlainReader reader;
  ASSERT_TRUE(reader.Open(Place(SqliteFile(sql)).string(), 0).Ok());
  const auto table = LiveTable::Read(reader, "item");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->ColumnCount(), 6u);
  EXPECT_EQ(table->SampledRows(), 6);
  EXPECT_TRUE(table->Columns()[0].primaryKey);
  EXPECT_EQ(table->Index("date"), 3);
  EXPECT_EQ(table->Index("missing"), -1);
  EXPECT_TRUE(table->HasShape(6, {{2, "guid"}, {3, "date"}}));
  EXPECT_FALSE(table->HasShape(6, {{2, "date"}}));
  // The guid is never NULL, always a UUID: the rarest start byte.
  EXPECT_EQ(table->AnchorColumn(), 2);
  using db::undark::Allows;
  const db::undark::Layout layout = table->DeletedRowLayout();
  EXPECT_TRUE(Allows(layout.rules[1], 0));                      // note: NULL seen
  EXPECT_TRUE(Allows(layout.rules[1], 13 + 2 * 90));            // and any text
  EXPECT_FALSE(Allows(layout.rules[1], 4));                     // but no integer
  EXPECT_TRUE(Allows(layout.rules[2], 85));                     // guid: the UUID's text only
  EXPECT_FALSE(Allows(layout.rules[2], 13 + 2 * 35));
  EXPECT_TRUE(Allows(layout.rules[3], 6) && Allows(layout.rules[3], 1));  // date: integers of any size
  EXPECT_FALSE(Allows(layout.rules[3], 0));                     // never NULL
  EXPECT_TRUE(Allows(layout.rules[5], 7) && Allows(layout.rules[5], 1));  // a REAL column stores 2.0 as 2
  EXPECT_TRUE(layout.trigger[85]);
  EXPECT_EQ(std::count(layout.trigger.begin(), layout.trigger.end(), true), 1);
}

TEST_F(LiveTableTest, DeletedRowsComeBackAndLiveRowsOfOtherTablesDoNot) {
  std::string sql = kSchema;
  // A second table of the same shape: its rows fit the layout, but lie on
  // its own pages.
  sql += "CREATE TABLE other (ROWID INTEGER PRIMARY KEY, note TEXT, guid TEXT, date INTEGER, flag INTEGER, "
         "amount REAL);";
  for (int n = 1; n <= 200; ++n) sql += Insert(n, Note(n));
  for (int n = 300; n < 310; ++n) {
    sql += "INSERT INTO other (note, guid, date, flag, amount) VALUES ('other " + std::to_string(n) + "', '" +
           Guid(n) + "', 700000000000000000, 0, 1.5);";
  }
  sql += "DELETE FROM item WHERE ROWID IN (5, 6, 7, 20, 38, 150);";
  PlainReader reader;
  const fs::path path = Place(SqliteFile(sql));
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  const Found found = ScanItems(reader);
  for (int n : {5, 6, 7, 20, 38, 150}) {
    ASSERT_TRUE(StillInFile(path, n)) << n;
    ASSERT_EQ(found.byNote.count(Note(n)), 1u) << Note(n);
    EXPECT_FALSE(found.byNote.at(Note(n))[0].inWal);
  }
  // Live rows are found too (the reader tells them apart by their keys).
  EXPECT_EQ(found.byNote.count(Note(8)), 1u);
  for (const auto& [note, places] : found.byNote) EXPECT_EQ(note.rfind("other", 0), std::string::npos) << note;
}

TEST_F(LiveTableTest, RowsOnlyInOldLogFramesComeBackOnceMarkedAsTheLogs) {
  std::string setup = kSchema;
  for (int n = 1; n <= 10; ++n) setup += Insert(n, Note(n));
  // After the checkpoint: a row inserted and deleted again, and a live row
  // rewritten in several transactions (its page lands in several frames).
  std::string recent = Insert(50, "only in the log");
  for (int i = 0; i < 4; ++i) recent += "UPDATE item SET flag = flag WHERE ROWID = 1; UPDATE item SET amount = 7.5 WHERE ROWID = 2;";
  recent += "DELETE FROM item WHERE guid = '" + Guid(50) + "';";
  recent += "DELETE FROM item WHERE ROWID = 3;";
  const SqliteFile file(setup, recent, SqliteFile::Journal::kWalPending);
  ASSERT_FALSE(file.WalBytes().empty());
  PlainReader reader;
  ASSERT_TRUE(reader.Open(Place(file).string(), 0).Ok());
  ASSERT_FALSE(reader.WalPath().empty());
  const Found found = ScanItems(reader);
  ASSERT_EQ(found.byNote.count("only in the log"), 1u);
  ASSERT_EQ(found.byNote.at("only in the log").size(), 1u);
  EXPECT_TRUE(found.byNote.at("only in the log")[0].inWal);
  EXPECT_GE(found.byNote.at("only in the log")[0].page, 2u);
  // Row 3 was deleted in the log only: the main file still holds it live.
  ASSERT_EQ(found.byNote.count(Note(3)), 1u);
  EXPECT_FALSE(found.byNote.at(Note(3))[0].inWal);
  // The same row in many frames is handed over once.
  for (const auto& [note, places] : found.byNote) {
    if (note != Note(2)) {
      EXPECT_EQ(places.size(), 1u) << note;
    }
  }
}

// Rows deleted in the file on pages that the log freed and gave to another
// table since: the file still holds them on the table's own pages, and the
// scan keeps every one of them the layout finds.
TEST_F(LiveTableTest, RowsOfTheFileOnPagesTheLogGaveAwayComeBack) {
  std::string setup = std::string(kSchema) + "CREATE TABLE other (note TEXT); BEGIN;";
  for (int n = 1; n <= 300; ++n) setup += Insert(n, Note(n));
  setup += "COMMIT; DELETE FROM item WHERE ROWID % 4 = 0;";
  std::string recent = "DELETE FROM item WHERE ROWID BETWEEN 20 AND 280; BEGIN;";
  for (int n = 0; n < 600; ++n) recent += "INSERT INTO other VALUES ('a row of the table that takes the pages, " + std::to_string(n) + "');";
  recent += "COMMIT;";
  PlainReader reader;
  ASSERT_TRUE(reader.Open(Place(SqliteFile(setup, recent, SqliteFile::Journal::kWalPending)).string(), 0).Ok());
  const std::map<std::uint32_t, std::string> withLog = reader.PageOwners();
  const std::map<std::uint32_t, std::string> inFile = reader.FilePageOwners();
  const auto table = LiveTable::Read(reader, "item");
  ASSERT_TRUE(table.has_value());
  // What the layout finds in the file on the item pages the log gave away.
  std::set<std::string> onGivenPages;
  readers::ScanRows(reader, table->DeletedRowLayout(), [&](UndarkRow& row, const RowPlace& place) {
    const auto before = inFile.find(place.page);
    const auto now = withLog.find(place.page);
    if (!place.inWal && before != inFile.end() && before->second == "item" && now != withLog.end() &&
        now->second == "other" && table->Fits(row)) {
      onGivenPages.insert(row[1].text);
    }
  });
  ASSERT_GT(onGivenPages.size(), 10u);
  const Found found = ScanItems(reader);
  for (const std::string& note : onGivenPages) EXPECT_EQ(found.byNote.count(note), 1u) << note;
}

// Rows written and deleted after the checkpoint whose emptied pages another
// table took over since: the frames holding them are older versions of
// pages that table holds now, and the rows come back all the same.
TEST_F(LiveTableTest, LogRowsOnPagesAnotherTableTookOverSinceComeBack) {
  std::string setup = kSchema;
  setup += "CREATE TABLE other (a INTEGER, b TEXT);";
  for (int n = 1; n <= 4; ++n) setup += Insert(n, Note(n));
  std::string recent = "BEGIN;";
  for (int n = 100; n < 140; ++n) recent += Insert(n, "gone " + std::to_string(n) + std::string(300, 'g'));
  recent += "COMMIT;DELETE FROM item WHERE ROWID > 4;BEGIN;";
  for (int n = 0; n < 200; ++n) recent += "INSERT INTO other VALUES (" + std::to_string(n) + ", '" + std::string(150, 'o') + "');";
  recent += "COMMIT;";
  const SqliteFile file(setup, recent, SqliteFile::Journal::kWalPending);
  PlainReader reader;
  ASSERT_TRUE(reader.Open(Place(file).string(), 0).Ok());
  // The precondition: the pages the deleted rows filled belong to the other
  // table now.
  const auto owners = reader.PageOwners(nullptr);
  std::size_t otherPages = 0;
  for (const auto& [page, owner] : owners) otherPages += owner == "other" ? 1 : 0;
  ASSERT_GE(otherPages, 6u);
  const Found found = ScanItems(reader);
  for (int n = 100; n < 140; ++n) {
    const std::string note = "gone " + std::to_string(n) + std::string(300, 'g');
    ASSERT_EQ(found.byNote.count(note), 1u) << n;
    EXPECT_TRUE(found.byNote.at(note)[0].inWal) << n;
  }
}

TEST_F(LiveTableTest, ALogWithADamagedHeaderIsCutByTheDatabasesPageSize) {
  std::string setup = kSchema;
  for (int n = 1; n <= 4; ++n) setup += Insert(n, Note(n));
  const SqliteFile file(setup, Insert(60, "in a damaged log") + "DELETE FROM item WHERE ROWID > 4;",
                        SqliteFile::Journal::kWalPending);
  PlainReader reader;
  ASSERT_TRUE(reader.Open(Place(file).string(), 0).Ok());
  const auto table = LiveTable::Read(reader, "item");
  ASSERT_TRUE(table.has_value());
  const int note = table->Index("note");
  struct Case {
    const char* what;
    bool zeroHeader;
    std::size_t keepBytes;  // 0: all
    std::size_t databasePageSize;
    bool found;
  };
  const std::vector<std::uint8_t> wal = file.WalBytes();
  for (const Case& c : {Case{"intact", false, 0, 0, true}, Case{"header zeroed", true, 0, 4096, true},
                        Case{"header zeroed, page size unknown", true, 0, 0, true},
                        Case{"cut inside the first frame", false, 100, 4096, false}}) {
    std::vector<std::uint8_t> bytes = wal;
    if (c.keepBytes != 0) bytes.resize(c.keepBytes);
    if (c.zeroHeader) std::fill(bytes.begin(), bytes.begin() + 32, 0);
    bool found = false;
    const base::Status status = db::undark::UndarkScanWalBytes(
        bytes, c.databasePageSize, table->DeletedRowLayout(), [&](UndarkRow& row, std::uint32_t) {
          if (row[static_cast<std::size_t>(note)].text == "in a damaged log") found = true;
        });
    EXPECT_TRUE(status.Ok()) << c.what;
    EXPECT_EQ(found, c.found) << c.what;
  }
}

TEST_F(LiveTableTest, AnEmptiedTableIsScannedByItsDeclaredTypes) {
  std::string sql = kSchema;
  for (int n = 1; n <= 120; ++n) sql += Insert(n, Note(n));
  sql += "DELETE FROM item;";
  PlainReader reader;
  const fs::path path = Place(SqliteFile(sql));
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  const auto table = LiveTable::Read(reader, "item");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->SampledRows(), 0);
  EXPECT_EQ(table->AnchorColumn(), 2);  // the one column declared NOT NULL
  const Found found = ScanItems(reader);
  int stillInFile = 0;
  for (int n = 1; n <= 120; ++n) {
    if (!StillInFile(path, n)) continue;
    ++stillInFile;
    EXPECT_EQ(found.byNote.count(Note(n)), 1u) << n;
  }
  EXPECT_GT(stillInFile, 60);
}

// A table emptied in the log gives its pages to a table made there: a row of
// the file on such a page is the old table's, a row of the log there may be
// either's; a page the log added is the new table's.
TEST_F(LiveTableTest, PageTablesTellTheTableOfARowsPageWhereItWasFound) {
  std::string setup = "CREATE TABLE old (note TEXT); BEGIN;";
  for (int i = 0; i < 300; ++i) setup += "INSERT INTO old VALUES ('a row of the table the log empties, " + std::to_string(i) + "');";
  setup += "COMMIT;";
  std::string recent = "DELETE FROM old; CREATE TABLE late (note TEXT); BEGIN;";
  for (int i = 0; i < 600; ++i) recent += "INSERT INTO late VALUES ('a row that only the log holds, " + std::to_string(i) + "');";
  recent += "COMMIT;";
  PlainReader reader;
  ASSERT_TRUE(reader.Open(Place(SqliteFile(setup, recent, SqliteFile::Journal::kWalPending)).string(), 0).Ok());
  const std::map<std::uint32_t, std::string> inFile = reader.FilePageOwners();
  std::set<std::uint32_t> interiorInFile;
  reader.FilePageOwners(&interiorInFile);
  const readers::PageTables pages(reader);
  int taken = 0, added = 0;
  for (const auto& [page, table] : pages.WithLog()) {
    if (table != "late") continue;
    const auto before = inFile.find(page);
    const readers::PageTables::Owner fromFile = pages.OwnerOf({page, false});
    const readers::PageTables::Owner fromLog = pages.OwnerOf({page, true});
    if (before == inFile.end()) {
      ++added;
      EXPECT_EQ(fromFile.table, nullptr) << page;  // a free page to the file
      ASSERT_NE(fromLog.table, nullptr) << page;
      EXPECT_EQ(*fromLog.table, "late");
    } else if (before->second == "old" && !interiorInFile.contains(page)) {
      ++taken;
      ASSERT_NE(fromFile.table, nullptr) << page;
      EXPECT_EQ(*fromFile.table, "old");
      EXPECT_EQ(fromLog.table, nullptr) << page;
    }
  }
  EXPECT_GT(taken, 1);
  EXPECT_GT(added, 1);
  ASSERT_FALSE(interiorInFile.empty());
  EXPECT_TRUE(pages.OwnerOf({*interiorInFile.begin(), false}).interior);
}

// Only the deleted rows filled a field: every live row leaves it NULL, so
// its declared type decides what a deleted row may hold there.
TEST_F(LiveTableTest, AFieldNoLiveRowFillsStillTakesADeletedRowsValue) {
  std::string sql = kSchema;
  for (int n = 1; n <= 30; ++n) sql += Insert(n, Note(n));
  sql += "UPDATE item SET note = NULL WHERE ROWID % 10 != 0; DELETE FROM item WHERE ROWID % 10 = 0;";
  PlainReader reader;
  const fs::path path = Place(SqliteFile(sql));
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  const auto table = LiveTable::Read(reader, "item");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->Columns()[1].held, db::undark::SerialTypes({0}));
  const Found found = ScanItems(reader);
  for (int n : {10, 20, 30}) {
    if (StillInFile(path, n)) {
      EXPECT_EQ(found.byNote.count(Note(n)), 1u) << n;
    }
  }
  EXPECT_TRUE(StillInFile(path, 20));
}

TEST(LiveTableFits, TextsMustDecodeAndGuidsBeUuids) {
  std::string sql = std::string(kSchema) + Insert(1, "a");
  platform::TempFolder folder;
  SqliteFile(sql).WriteTo(folder.Path() / "item.db");
  PlainReader reader;
  ASSERT_TRUE(reader.Open((folder.Path() / "item.db").string(), 0).Ok());
  const auto table = LiveTable::Read(reader, "item");
  ASSERT_TRUE(table.has_value());
  auto row = [](std::string note, std::string guid) {
    UndarkRow r(6);
    r[1].type = db::undark::kTypeText;
    r[1].text = std::move(note);
    r[2].type = db::undark::kTypeText;
    r[2].text = std::move(guid);
    return r;
  };
  EXPECT_TRUE(table->Fits(row("fine", Guid(1))));
  EXPECT_FALSE(table->Fits(row("bad \xC3", Guid(1))));
  EXPECT_FALSE(table->Fits(row(std::string("zero\0byte", 9), Guid(1))));
  EXPECT_FALSE(table->Fits(row("fine", "not-a-uuid-at-all-not-a-uuid-at-all")));
  EXPECT_FALSE(table->Fits(UndarkRow(5)));
}

}  // namespace
