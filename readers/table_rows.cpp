#include "readers/table_rows.h"

#include <vector>

namespace readers {

bool ScanRows(db::CDbSqlite& reader, int layout, int expectedColumns, const db::undark::UndarkRowSink& sink) {
  const base::Status scanned = db::undark::UndarkScan(reader.DbPath(), layout, expectedColumns, sink);
  reader.NoteProblem(scanned);
  return scanned.Ok();
}

bool ScanRows(db::CDbSqlite& reader, const db::undark::Layout& layout, const db::undark::UndarkPlacedRowSink& sink) {
  const base::Status scanned = db::undark::UndarkScan(reader.DbPath(), layout, sink);
  reader.NoteProblem(scanned);
  return scanned.Ok();
}

bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const db::undark::UndarkRowSink& sink) {
  if (liveColumns <= 0) return false;
  const std::vector<std::string> names = reader.ColumnNames(table);
  if (names.size() != static_cast<std::size_t>(liveColumns)) return false;
  for (const RecoveredColumn& column : columns) {
    if (column.index >= names.size() || names[column.index] != column.name) return false;
  }
  const auto expected = static_cast<std::size_t>(liveColumns);
  return ScanRows(reader, layout, liveColumns, [&](db::undark::UndarkRow& row) {
    if (row.size() == expected) sink(row);
  });
}

}  // namespace readers
