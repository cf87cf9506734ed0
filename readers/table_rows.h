#pragma once
// The one scan step of every reader: the deleted rows of a layout found in
// the reader's own database file and in the frames of the write-ahead log
// read with it, the scan's failure kept among the reader's problems; and for
// readers whose rows are read by position, checked against the live table's
// shape first.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "db/db_sqlite.h"
#include "db/undark/layouts.h"
#include "db/undark/undark.h"
#include "readers/live_table.h"

namespace readers {

// A column a reader takes a recovered value from, by its position in the
// live table.
struct RecoveredColumn {
  std::size_t index;
  const char* name;
};

// Where a row was found.
struct RowPlace {
  // The 1-based page of the database the record's header starts in (for
  // the log, the page its frame names).
  std::uint32_t page = 0;
  // Found in a frame of the write-ahead log: an older version of a page,
  // which may hold rows inserted and deleted since the last checkpoint.
  bool inWal = false;
};

// Receives each row found, as db::undark's sinks do, with its place.
using FoundRowSink = std::function<void(db::undark::UndarkRow& row, const RowPlace& place)>;

// Hands sink every row of layout found in reader's database file (its
// DbPath), in the order the scan finds them, then every row found in the
// frames of its write-ahead log (WalPath) that is not the same as a row
// found before (the same row in ten frames, or in the file and a frame, is
// handed over once); expectedColumns as db::undark::UndarkScan takes it. A
// scan that cannot run (the file gone, not a database) is kept among
// reader's problems. Returns whether the scan of the file ran.
bool ScanRows(db::CDbSqlite& reader, int layout, int expectedColumns, const FoundRowSink& sink);
bool ScanRows(db::CDbSqlite& reader, int layout, int expectedColumns, const db::undark::UndarkRowSink& sink);

// The same with a layout the reader built from its table's live shape.
bool ScanRows(db::CDbSqlite& reader, const db::undark::Layout& layout, const FoundRowSink& sink);

// Hands sink every row of layout in reader's database file and log that has
// exactly liveColumns values (the live table's column count, as LoadTable
// gave it). Nothing is scanned when the live table has another column count
// or other names at the positions of columns: a row of another shape could
// not be told from a partial match, nor its values put into the right
// fields. Returns whether the scan ran.
bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const FoundRowSink& sink);
bool ScanTableRows(db::CDbSqlite& reader, const std::string& table, int layout, int liveColumns,
                   std::span<const RecoveredColumn> columns, const db::undark::UndarkRowSink& sink);

// Hands sink the rows of table's deleted-row layout made from its live
// shape (LiveTable::DeletedRowLayout) found in reader's file and log, as
// ScanRows does, keeping only rows that fit the table (LiveTable::Fits) and
// lie on a leaf page of the table itself or on a page no table or index
// holds now (a free page, or one the log alone has); a row of the log's
// frames lies on an older version of its page, which another table may hold
// now, and is kept on any page but an interior one. Each row has one value
// per column of table, at the column's live position. Returns whether the
// scan ran.
bool ScanLiveTable(db::CDbSqlite& reader, const LiveTable& table, const FoundRowSink& sink);

}  // namespace readers
