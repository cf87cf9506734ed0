#pragma once
// The deleted-row scanner ("undark"): finds the records of one known table in
// the raw bytes of a SQLite database file, live and deleted alike, page by
// page and byte by byte, without walking the b-trees. The table is named by
// a layout number (0-22; 6, 11 and 20 are unassigned), which gives its column
// count, the serial-type bytes that start a decoding attempt and the serial
// types each checked column may have. The format details and the layout table
// are in docs/formats/undark.md.
//
// Threads: a scan touches only the row list it is given; two scans with
// different lists may run at once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/undark/layouts.h"

namespace db::undark {

// Type codes of a recovered value: 0-9 as the serial type, 12 any BLOB, 13
// any TEXT, 255 the row id standing in for an integer primary key.
inline constexpr std::uint8_t kTypeNull = 0;
inline constexpr std::uint8_t kTypeDouble = 7;
inline constexpr std::uint8_t kTypeBlob = 12;
inline constexpr std::uint8_t kTypeText = 13;
inline constexpr std::uint8_t kTypeRowId = 255;

struct UndarkValue {
  std::uint8_t type = kTypeNull;
  // Integers in decimal ("%d" for 1-4 bytes, "%lld" for 6 and 8), a double
  // as "%f", "0"/"1" for types 8/9, a TEXT's bytes as stored, a BLOB's bytes,
  // the row id in decimal; empty for NULL. A layout made at run time gives
  // its primary key's row id empty when the cell's start was overwritten
  // (the row id is unknown, not 0).
  std::string text;
  // The integer of types 1-6, 8, 9; type 7 its double truncated toward zero;
  // -1 for NULL, BLOB, TEXT and the row id.
  std::int64_t number = -1;
  // The double of type 7.
  double real = 0;
};

// The values of one record, value i for column i.
using UndarkRow = std::vector<UndarkValue>;
// Rows in the order the scan found them: pages in file order, positions in
// page order.
using UndarkRowList = std::vector<UndarkRow>;

// The column count of a layout, or 0 when the number is not assigned.
int LayoutColumnCount(int layout);

// Receives each row as the scan finds it, so a large file is scanned without
// holding all its rows at once. The scanner reuses the row's storage after
// the call; a sink that keeps the row moves it out.
using UndarkRowSink = std::function<void(UndarkRow&)>;
// The same with the 1-based number of the page the record's header starts
// in (as far as the layout reads it back: the header size for a layout made
// at run time, the first serial type read for a numbered one). A reader
// tells with it which table's b-tree held the row (CDbSqlite::PageOwners in
// db/db_sqlite.h).
using UndarkPlacedRowSink = std::function<void(UndarkRow&, std::uint32_t page)>;

// Scans the database file at path for records of layout and hands every row
// found to sink, in order. expectedColumns, when 1 or more, replaces the
// layout's column count (readers pass the live table's). The file is only
// read. Returns ok (also for an empty file, which holds no rows); not found
// when the file is missing or its size cannot be read; unreadable when it
// cannot be opened or mapped, or layout is not assigned; corrupt when its
// header gives no usable page size (not a database, or its first page is
// damaged). The status names path.
base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, const UndarkRowSink& sink);
// The same, appending every row to rows (which it never empties).
base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, UndarkRowList& rows);
// The same, telling each row's page.
base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, const UndarkPlacedRowSink& sink);

// The same for a layout the reader made (LayoutBuilder); expectedColumns is
// its column count. Unreadable also when the layout does not fit: a column
// count outside 1..kMaxColumns, no trigger, a window below 1, or for
// Start::kAnchorAtTrigger an anchor or primary key outside its columns or a
// primary key whose rule allows more than NULL (a primary key is read by
// that start only). The rules of that start are in docs/formats/undark.md.
base::Status UndarkScan(const std::string& path, const Layout& layout, const UndarkPlacedRowSink& sink);

// The same over a file's bytes already in memory (the status names no file).
base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns,
                             const UndarkRowSink& sink);
base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns,
                             UndarkRowList& rows);
base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns,
                             const UndarkPlacedRowSink& sink);
base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, const Layout& layout,
                             const UndarkPlacedRowSink& sink);

// Scans the write-ahead log at walPath of the database at databasePath:
// every frame's page, in log order, as a page of that database (frames
// after the last commit, frames a checkpoint already copied, and frames of
// an older generation of the log alike). The sink learns the page number
// the frame gives. The log is cut into frames by its header's page size
// when the header reads as a log's and agrees with the database's page
// size, else by the database's (read from databasePath's header), else by
// 4096; salts and checksums are not looked at. Statuses as UndarkScan's,
// naming walPath; a log of 32 bytes or fewer holds no frame and is ok.
// The format is in docs/formats/sqlite_wal.md.
base::Status UndarkScanWal(const std::string& databasePath, const std::string& walPath, int layout,
                           int expectedColumns, const UndarkPlacedRowSink& sink);
base::Status UndarkScanWal(const std::string& databasePath, const std::string& walPath, const Layout& layout,
                           const UndarkPlacedRowSink& sink);
// The same over a log's bytes in memory; databasePageSize 0 when unknown.
base::Status UndarkScanWalBytes(std::span<const std::uint8_t> walBytes, std::size_t databasePageSize, int layout,
                                int expectedColumns, const UndarkPlacedRowSink& sink);
base::Status UndarkScanWalBytes(std::span<const std::uint8_t> walBytes, std::size_t databasePageSize,
                                const Layout& layout, const UndarkPlacedRowSink& sink);

// The integer of a value as the readers take it: types 5 and 6 the 64-bit
// integer, type 7 the double truncated toward zero, every other the low 32
// bits sign-extended (so NULL, TEXT, BLOB and the row id give -1).
std::int64_t UndarkValueToInt64(const UndarkValue& value);

// The text of a value as a live column's text reads: up to its first zero
// byte (a BLOB's text carries one after its bytes, and a text rebuilt from
// junk may hold one), with damaged UTF-8 repaired.
std::string UndarkValueText(const UndarkValue& value);

}  // namespace db::undark
