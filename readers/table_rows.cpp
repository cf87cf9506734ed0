#include "readers/table_rows.h"

#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace readers {
namespace {

using db::undark::UndarkPlacedRowSink;
using db::undark::UndarkRow;

// A row's values as one number, to tell the same row found twice. The row
// id is left out: a copy whose cell start a free block overwrote has lost
// it, and is the same row still.
std::uint64_t RowHash(const UndarkRow& row) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const db::undark::UndarkValue& value : row) {
    if (value.type == db::undark::kTypeRowId) continue;
    hash = (hash ^ value.type) * 1099511628211ull;
    hash = (hash ^ std::hash<std::string_view>{}(value.text)) * 1099511628211ull;
  }
  return hash;
}

// Runs scanFile over reader's database file and scanWal over its log, as
// ScanRows describes.
bool ScanFileAndWal(db::CDbSqlite& reader,
                    const std::function<base::Status(const UndarkPlacedRowSink&)>& scanFile,
                    const std::function<base::Status(const UndarkPlacedRowSink&)>& scanWal,
                    const FoundRowSink& sink) {
  const bool hasWal = !reader.WalPath().empty();
  std::unordered_set<std::uint64_t> seen;
  const base::Status scanned = scanFile([&](UndarkRow& row, std::uint32_t page) {
    if (hasWal) seen.insert(RowHash(row));
    sink(row, RowPlace{page, false});
  });
  reader.NoteProblem(scanned);
  if (hasWal) {
    reader.NoteProblem(scanWal([&](UndarkRow& row, std::uint32_t page) {
      if (seen.insert(RowHash(row)).second) sink(row, RowPlace{page, true});
    }));
  }
  return scanned.Ok();
}

FoundRowSink Unplaced(const db::undark::UndarkRowSink& sink) {
  return [&sink](UndarkRow& row, const RowPlace&) { sink(row); };
}

}  // namespace

PageTables::PageTables(db::CDbSqlite& reader)
    : inFile_(reader.FilePageOwners(&interiorInFile_)), withLog_(reader.PageOwners(&interiorWithLog_)) {}

PageTables::Owner PageTables::OwnerOf(const RowPlace& place) const {
  const std::set<std::uint32_t>& interior = place.inWal ? interiorWithLog_ : interiorInFile_;
  if (interior.contains(place.page)) return {true, nullptr};
  const std::map<std::uint32_t, std::string>& owners = place.inWal ? withLog_ : inFile_;
  const auto owner = owners.find(place.page);
  if (owner == owners.end()) return {};
  if (place.inWal) {
    const auto before = inFile_.find(place.page);
    if (before != inFile_.end() && before->second != owner->second) return {};
  }
  return {false, &owner->second};
}

bool ScanRows(db::CDbSqlite& reader, int layout, int expectedColumns, const FoundRowSink& sink) {
  return ScanFileAndWal(
      reader,
      [&](const UndarkPlacedRowSink& placed) {
        return db::undark::UndarkScan(reader.DbPath(), layout, expectedColumns, placed);
      },
      [&](const UndarkPlacedRowSink& placed) {
        return db::undark::UndarkScanWal(reader.DbPath(), reader.WalPath(), layout, expectedColumns, placed);
      },
      sink);
}

bool ScanRows(db::CDbSqlite& reader, int layout, int expectedColumns, const db::undark::UndarkRowSink& sink) {
  return ScanRows(reader, layout, expectedColumns, Unplaced(sink));
}

bool ScanRows(db::CDbSqlite& reader, const db::undark::Layout& layout, const FoundRowSink& sink) {
  return ScanFileAndWal(
      reader, [&](const UndarkPlacedRowSink& placed) { return db::undark::UndarkScan(reader.DbPath(), layout, placed); },
      [&](const UndarkPlacedRowSink& placed) {
        return db::undark::UndarkScanWal(reader.DbPath(), reader.WalPath(), layout, placed);
      },
      sink);
}

bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const FoundRowSink& sink) {
  if (liveColumns <= 0) return false;
  const std::vector<std::string> names = reader.ColumnNames(table);
  if (names.size() != static_cast<std::size_t>(liveColumns)) return false;
  for (const RecoveredColumn& column : columns) {
    if (column.index >= names.size() || names[column.index] != column.name) return false;
  }
  const auto expected = static_cast<std::size_t>(liveColumns);
  return ScanRows(reader, layout, liveColumns, [&](UndarkRow& row, const RowPlace& place) {
    if (row.size() == expected) sink(row, place);
  });
}

bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const db::undark::UndarkRowSink& sink) {
  return ScanTableRows(reader, table, layout, liveColumns, columns, Unplaced(sink));
}

namespace {

// Runs scan with a sink that hands sink only the rows that fit table and
// lie on its own leaf pages or on pages no table or index held where the
// row was found (PageTables).
bool ScanOnTablePages(db::CDbSqlite& reader, const LiveTable& table,
                      const std::function<bool(const FoundRowSink&)>& scan, const FoundRowSink& sink) {
  const PageTables pages(reader);
  return scan([&](UndarkRow& row, const RowPlace& place) {
    // An interior page holds child pointers (shaped like a row often
    // enough); another table's or index's page holds its own rows.
    // A frame of the log is an older version of its page, which may have
    // been this table's then and another's since (more than once within the
    // log): only the file's pages are judged by their table. An interior
    // page of the table keeps, past its child pointers, the cells it held
    // as a leaf before it split: copies of the table's rows, which the
    // checks of the layout tell from the pointers.
    const PageTables::Owner owner = pages.OwnerOf(place);
    if (!place.inWal && owner.table != nullptr && *owner.table != table.Name()) return;
    if (table.Fits(row)) sink(row, place);
  });
}

}  // namespace

bool ScanLiveTable(db::CDbSqlite& reader, const LiveTable& table, const FoundRowSink& sink) {
  return ScanOnTablePages(
      reader, table, [&](const FoundRowSink& onPages) { return ScanRows(reader, table.DeletedRowLayout(), onPages); },
      sink);
}

bool ScanLiveTable(db::CDbSqlite& reader, const LiveTable& table, int layout, const FoundRowSink& sink) {
  const int columns = static_cast<int>(table.ColumnCount());
  return ScanOnTablePages(
      reader, table, [&](const FoundRowSink& onPages) { return ScanRows(reader, layout, columns, onPages); }, sink);
}

}  // namespace readers
