#include "readers/table_rows.h"

#include <vector>

namespace readers {

bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const db::undark::UndarkRowSink& sink) {
  if (liveColumns <= 0) return false;
  const std::vector<std::string> names = reader.ColumnNames(table);
  if (names.size() != static_cast<std::size_t>(liveColumns)) return false;
  for (const RecoveredColumn& column : columns) {
    if (column.index >= names.size() || names[column.index] != column.name) return false;
  }
  const auto expected = static_cast<std::size_t>(liveColumns);
  reader.NoteProblem(db::undark::UndarkScan(reader.DbPath(), layout, liveColumns, [&](db::undark::UndarkRow& row) {
    if (row.size() == expected) sink(row);
  }));
  return true;
}

}  // namespace readers
