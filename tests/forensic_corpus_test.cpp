// The deleted-row scan with layouts made from the live tables, over the
// public SQLite forensic corpus (crafted databases with deleted and
// overwritten records, and an extension that breaks the file format on
// purpose). Each database comes with an XML file listing every row it ever
// held, live or deleted: every live row must be found, and every row found
// must be one of the listed ones (an overwritten record must not come back
// as a made-up row). Skipped where ../shared is absent.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "readers/live_table.h"
#include "readers/table_rows.h"

namespace {

namespace fs = std::filesystem;
using db::undark::UndarkRow;

class PlainReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int) override { return "sqlite_master"; }
};

// Rows of more bytes than this may spill onto overflow pages of the
// corpus's 4096-byte pages.
constexpr std::size_t kLongestRowWithinAPage = 3000;

struct ListedRow {
  bool deleted = false;
  std::vector<std::string> values;  // by column, as the XML writes them ("NULL" for NULL)
};

struct ListedTable {
  std::string name;
  std::vector<ListedRow> rows;
};

std::vector<ListedTable> ListedTables(const fs::path& xml) {
  std::vector<ListedTable> tables;
  pugi::xml_document document;
  if (!document.load_file(xml.c_str())) return tables;
  for (pugi::xml_node element : document.child("database").children("element")) {
    const pugi::xml_node meta = element.child("meta");
    if (std::string(meta.child_value("type")) != "table") continue;
    // A dropped table's rows are all deleted ones.
    const bool dropped = std::string(meta.child_value("deleted")) != "False";
    ListedTable table{meta.child_value("name"), {}};
    for (pugi::xml_node row : element.child("entries").children("row")) {
      ListedRow listed;
      listed.deleted = dropped || std::string(row.attribute("deleted").value()) == "1";
      for (pugi::xml_node column : row.children("column")) listed.values.emplace_back(column.child_value("content"));
      table.rows.push_back(std::move(listed));
    }
    tables.push_back(std::move(table));
  }
  return tables;
}

bool SameValue(const db::undark::UndarkValue& found, const std::string& listed) {
  if (found.type == db::undark::kTypeNull) return listed == "NULL" || listed.empty();
  if (found.type == db::undark::kTypeDouble) {
    char* end = nullptr;
    const double value = std::strtod(listed.c_str(), &end);
    return end != listed.c_str() && std::fabs(value - found.real) <= 1e-6 * std::max(1.0, std::fabs(value));
  }
  return db::undark::UndarkValueText(found) == listed;
}

// Whether row is the listed row: every value the same, but for a row id the
// scan could not read back, and for the last overwrittenValues values (a
// deleted row's end that later writes overwrote).
bool SameRow(const UndarkRow& row, const ListedRow& listed, std::size_t overwrittenValues = 0) {
  if (row.size() != listed.values.size()) return false;
  for (std::size_t i = 0; i + overwrittenValues < row.size(); ++i) {
    if (row[i].type == db::undark::kTypeRowId && row[i].text.empty()) continue;
    if (!SameValue(row[i], listed.values[i])) return false;
  }
  return true;
}

std::string Describe(const ListedRow& row) {
  std::string text;
  for (const auto& value : row.values) text += "|" + value;
  return text;
}

// The table's live rows as SQL reads them, each value as its text ("NULL"
// for NULL), read from the copy at path.
std::vector<ListedRow> LiveRows(const fs::path& path, const readers::LiveTable& table) {
  std::vector<ListedRow> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return rows;
  }
  const std::string sql = "SELECT * FROM " + db::QuoteIdentifier(table.Name()) + ";";
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      ListedRow row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        row.values.emplace_back(text == nullptr ? "NULL" : text);
      }
      rows.push_back(std::move(row));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

std::string Describe(const UndarkRow& row) {
  std::string text;
  for (const auto& value : row) text += "|" + db::undark::UndarkValueText(value);
  return text;
}

TEST(ForensicCorpus, LiveRowsAreFoundAndNoRowIsMadeUp) {
  const fs::path corpus = fs::path(VELMORA_SHARED_DIR) / "samples" / "sqlite-forensic-corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << corpus << " is absent";
  platform::TempFolder work("velmora-corpus");
  int tablesChecked = 0;
  int deletedFound = 0;
  int overwrittenFound = 0;
  for (const auto& folder : fs::directory_iterator(corpus)) {
    if (!folder.is_directory()) continue;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      if (entry.path().extension() != ".db") continue;
      const fs::path xml = fs::path(entry.path()).replace_extension(".xml");
      const std::vector<ListedTable> tables = ListedTables(xml);
      if (tables.empty()) continue;
      const fs::path copy = work.Path() / entry.path().filename();
      fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
      const std::string name = folder.path().filename().string() + "/" + entry.path().filename().string();
      PlainReader reader;
      if (!reader.Open(copy.string(), 0).Ok()) continue;  // a file SQLite itself refuses
      // The phone's databases are UTF-8; the scan reads no other encoding.
      std::int64_t utf8 = 0;
      if (!reader.QueryInt64("SELECT count(*) FROM pragma_encoding WHERE encoding='UTF-8';", utf8) || utf8 == 0) continue;
      for (const ListedTable& listed : tables) {
        const auto table = readers::LiveTable::Read(reader, listed.name);
        if (!table || table->ColumnCount() != (listed.rows.empty() ? 0 : listed.rows[0].values.size())) continue;
        ++tablesChecked;
        // The live rows as SQL reads them (a trigger may have changed a row
        // after the listing was made), and the rows the listing names.
        std::vector<ListedRow> rows = LiveRows(copy, *table);
        const std::size_t liveRows = rows.size();
        // Every listed row that SQL does not read is a deleted one (some
        // listings count rows deleted by their generator as live), and a
        // dropped table's rows may lie on pages the table reuses.
        for (const ListedTable& same : tables) {
          for (ListedRow row : same.rows) {
            row.deleted = true;
            rows.push_back(std::move(row));
          }
        }
        std::vector<bool> found(rows.size(), false);
        readers::ScanLiveTable(reader, *table, [&](UndarkRow& row, const readers::RowPlace&) {
          bool known = false;
          for (std::size_t i = 0; i < rows.size(); ++i) {
            if (SameRow(row, rows[i])) {
              known = true;
              if (!found[i] && rows[i].deleted) ++deletedFound;
              found[i] = true;
            }
          }
          // A deleted row of more than two values whose last two values
          // later writes overwrote is that row still, with damage.
          for (std::size_t i = 0; !known && i < rows.size(); ++i) {
            if (rows[i].deleted && row.size() > 2 && SameRow(row, rows[i], 2)) {
              known = true;
              ++overwrittenFound;
            }
          }
          EXPECT_TRUE(known) << name << " " << listed.name << ": a row never listed: " << Describe(row);
        });
        for (std::size_t i = 0; i < liveRows; ++i) {
          // A row too long for its page continues on overflow pages, which
          // the scan does not follow.
          std::size_t bytes = 0;
          for (const std::string& value : rows[i].values) bytes += value.size();
          if (bytes > kLongestRowWithinAPage) continue;
          EXPECT_TRUE(found[i]) << name << " " << listed.name << ": live row" << Describe(rows[i]);
        }
      }
    }
  }
  std::cout << "[ corpus   ] " << tablesChecked << " tables, " << deletedFound << " deleted rows found, "
            << overwrittenFound << " with their last values overwritten\n";
  EXPECT_GT(tablesChecked, 0);
}

}  // namespace
