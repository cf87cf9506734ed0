#pragma once
// The one scan step of every reader: the deleted rows of a layout found in
// the reader's own database file, the scan's failure kept among the reader's
// problems; and for readers whose rows are read by position, checked against
// the live table's shape first.

#include <cstddef>
#include <span>
#include <string>

#include "db/db_sqlite.h"
#include "db/undark/layouts.h"
#include "db/undark/undark.h"

namespace readers {

// A column a reader takes a recovered value from, by its position in the
// live table.
struct RecoveredColumn {
  std::size_t index;
  const char* name;
};

// Hands sink every row of layout found in reader's database file (its
// DbPath), in the order the scan finds them; expectedColumns as
// db::undark::UndarkScan takes it. A scan that cannot run (the file gone,
// not a database) is kept among reader's problems. Returns whether it ran.
bool ScanRows(db::CDbSqlite& reader, int layout, int expectedColumns, const db::undark::UndarkRowSink& sink);

// The same with a layout the reader built from its table's live shape; sink
// also learns the page each row was found in.
bool ScanRows(db::CDbSqlite& reader, const db::undark::Layout& layout, const db::undark::UndarkPlacedRowSink& sink);

// Hands sink every row of layout in reader's database file that has exactly
// liveColumns values (the live table's column count, as LoadTable gave it),
// in the order the scan finds them. Nothing is scanned when the live table
// has another column count or other names at the positions of columns: a
// row of another shape could not be told from a partial match, nor its
// values put into the right fields. A scan that cannot run is kept among
// reader's problems. Returns whether the scan ran.
bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const db::undark::UndarkRowSink& sink);

}  // namespace readers
