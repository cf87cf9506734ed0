// Rebuilt rows read by column name, on a real SQLite file: values as SQL
// reads the live ones, the row id only where it reads back, and dates no
// phone writes told from those it does.
#include "readers/recovered_row.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "platform/fs.h"
#include "readers/table_rows.h"
#include "testing/sample_backup.h"

namespace readers {
namespace {

class PlainReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int) override { return "ZITEM"; }
};

struct Read {
  bool plausible;
  std::int64_t integer;
  double real;
  std::string data;
  std::optional<std::int64_t> rowId;
  std::int64_t pk;  // ZPK, the Z_PK it was written with
};

TEST(RecoveredRow, ReadsValuesByNameAndTellsDatesNoPhoneWrites) {
  // The live rows hold dates as doubles, whole numbers and NULL, as a Core
  // Data date column does; the deleted ones hold what the scan must judge.
  std::string sql =
      "PRAGMA secure_delete=OFF;"
      "CREATE TABLE ZITEM (Z_PK INTEGER PRIMARY KEY, ZPK INTEGER, ZTITLE VARCHAR NOT NULL, ZDATE TIMESTAMP, "
      "ZDATA BLOB);";
  for (int i = 1; i <= 30; ++i) {
    sql += "INSERT INTO ZITEM VALUES (" + std::to_string(i) + ", " + std::to_string(i) + ", 'live " +
           std::to_string(i) + "', " + (i % 3 == 0 ? std::string("NULL") : i % 3 == 1 ? "700000000.5" : "700000001") +
           ", X'0102');";
  }
  struct Case {
    const char* title;
    const char* date;
    bool plausible;
    std::int64_t integer;
    double real;
  };
  const Case cases[] = {
      {"no date", "NULL", true, 0, 0},
      {"a double", "722134800.75", true, 722134800, 722134800.75},
      {"a whole date", "722134800", true, 722134800, 722134800},
      {"before 2001", "-31536000.5", true, -31536000, -31536000.5},
      {"nanoseconds", "722134800000000000", false, 722134800000000000, 722134800000000000.0},
      {"before 1970", "-1000000000", false, -1000000000, -1000000000},
      {"after 2100", "3200000000.5", false, 3200000000, 3200000000.5},
  };
  std::int64_t pk = 100;
  for (const Case& c : cases) {
    sql += "INSERT INTO ZITEM VALUES (" + std::to_string(++pk) + ", " + std::to_string(pk) + ", '" + c.title + "', " +
           c.date + ", X'CAFE');";
  }
  sql += "DELETE FROM ZITEM WHERE Z_PK > 100;";
  const platform::TempFolder folder("velmora-recovered-row");
  sample::SqliteFile(sql).WriteTo(folder.Path() / "item.db");
  PlainReader reader;
  ASSERT_TRUE(reader.Open((folder.Path() / "item.db").string(), 0).Ok());
  const auto table = LiveTable::Read(reader, "ZITEM");
  ASSERT_TRUE(table.has_value());

  std::map<std::string, Read> found;
  ScanLiveTable(reader, *table, [&](db::undark::UndarkRow& values, const RowPlace&) {
    const RecoveredRow row(*table, values);
    const auto data = row.Blob("ZDATA");
    found[row.Text("ZTITLE")] = {row.HoldsPlausibleAppleDate("ZDATE"), row.Int("ZDATE"), row.Real("ZDATE"),
                                 std::string(data.begin(), data.end()), row.RowId(), row.Int("ZPK")};
    // A column the table lacks reads as NULL.
    EXPECT_TRUE(row.IsNull("ZMISSING"));
    EXPECT_EQ(row.Text("ZMISSING"), "");
    EXPECT_EQ(row.Int("ZMISSING"), 0);
    EXPECT_FALSE(row.IsNumber("ZTITLE"));
    EXPECT_EQ(row.Int("ZTITLE"), 0);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ASSERT_EQ(found.count(c.title), 1u);
    const Read& read = found.at(c.title);
    EXPECT_EQ(read.plausible, c.plausible);
    EXPECT_EQ(read.integer, c.integer);
    EXPECT_EQ(read.real, c.real);
    EXPECT_EQ(read.data, "\xCA\xFE");
    // Where the cell's start is still there, the row id is the row's own.
    if (read.rowId) EXPECT_EQ(*read.rowId, read.pk);
  }
  std::size_t rowIds = 0;
  for (const auto& [title, read] : found) rowIds += read.rowId ? 1 : 0;
  EXPECT_GT(rowIds, 0u);
}

}  // namespace
}  // namespace readers
