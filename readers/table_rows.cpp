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

bool ScanLiveTable(db::CDbSqlite& reader, const LiveTable& table, const FoundRowSink& sink) {
  std::set<std::uint32_t> interiorPages;
  const std::map<std::uint32_t, std::string> owners = reader.PageOwners(&interiorPages);
  return ScanRows(reader, table.DeletedRowLayout(), [&](UndarkRow& row, const RowPlace& place) {
    // An interior page holds child pointers (shaped like a row often
    // enough); another table's or index's page holds its own rows. A frame
    // of the log is an older version of its page, which may have belonged
    // to this table then and been reused by another since: the owners are
    // today's, so they decide for the file's pages alone.
    if (interiorPages.contains(place.page)) return;
    const auto owner = owners.find(place.page);
    if (!place.inWal && owner != owners.end() && owner->second != table.Name()) return;
    if (table.Fits(row)) sink(row, place);
  });
}

}  // namespace readers
