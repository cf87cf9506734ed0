#pragma once
// The one scan step of every reader: the deleted rows of a layout found in
// the reader's own database file and in the frames of the write-ahead log
// read with it, the scan's failure kept among the reader's problems; and for
// readers whose rows are read by position, checked against the live table's
// shape first.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
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

// The tables that held the pages rows were found on, for a reader that
// scans several tables of one shape at once (an app that keeps one table per
// conversation). The scan of the database file meets the pages as its last
// checkpoint left them, the scan of the log older versions of pages the log
// rewrote, maybe for another table.
class PageTables {
 public:
  // Reads both page maps of reader's database (CDbSqlite::FilePageOwners,
  // PageOwners); both are empty when the database has no dbstat.
  explicit PageTables(db::CDbSqlite& reader);

  struct Owner {
    bool interior = false;               // an interior page: its cells are child pointers, no rows
    const std::string* table = nullptr;  // null: a free page, or one whose table is not known
  };
  // A row of the file lay on a page of the table the file's own map names;
  // a row of the log on one of the table the map with the log names, unless
  // the file's map names another there: that page changed tables in the
  // log, and its older frames hold rows of either, so its table is not
  // known. The string lives as long as this object.
  Owner OwnerOf(const RowPlace& place) const;
  // The tables and indexes of the database with its log applied, by page.
  const std::map<std::uint32_t, std::string>& WithLog() const { return withLog_; }

 private:
  std::set<std::uint32_t> interiorInFile_, interiorWithLog_;
  std::map<std::uint32_t, std::string> inFile_, withLog_;
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
// ScanRows does, keeping only rows that fit the table (LiveTable::Fits); a
// row of the file must also lie on a page of the table itself (an interior
// one keeps the cells it held as a leaf before it split) or on a page of no
// table (a free page), as the file's own page map tells. A row of the log's
// frames lies on an older version of its page, which may have been this
// table's then and another's since. Each row has one value per column of table, at the column's live
// position. Returns whether the scan ran.
bool ScanLiveTable(db::CDbSqlite& reader, const LiveTable& table, const FoundRowSink& sink);
// The same with the numbered layout made for the table's shape (the reader
// checked it with LiveTable::HasShape); rows of another value count are
// passed over.
bool ScanLiveTable(db::CDbSqlite& reader, const LiveTable& table, int layout, const FoundRowSink& sink);

}  // namespace readers
