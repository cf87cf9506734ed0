#pragma once
// The bytes SQLite writes for one table row: the record of a table b-tree
// cell (header-size varint, one serial type per column, then the body), as
// a database of schema format 4 in UTF-8 holds it. The benchmarks use it as
// ground truth: a deleted row still counts as being in the file when these
// bytes are still there.
//
// What SQLite does before it writes a value, and is done here too:
//   - the column's affinity (AffinityOf its declared type) converts it:
//     INTEGER and NUMERIC store a text that reads whole as a number as that
//     number, and any value with an integral real as an integer; REAL stores
//     an integral value as an integer too (it reads back as a real); TEXT
//     stores an integer as its decimal text;
//   - integers take the smallest serial type (1-6 for 1, 2, 3, 4, 6, 8
//     bytes, big-endian), 0 and 1 the body-less types 8 and 9;
//   - the INTEGER PRIMARY KEY column (the rowid's alias) is stored as NULL,
//     its value being the cell's key.
// Real-to-text conversion (a real into a TEXT column) has SQLite's own
// number formatting and is refused.
//
// Thread-safe: pure functions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sample {

enum class Affinity { kText, kNumeric, kInteger, kReal, kBlob };

// The affinity of a declared column type, by SQLite's rules in their order:
// "INT" anywhere gives INTEGER; "CHAR", "CLOB" or "TEXT" TEXT; "BLOB" or no
// type BLOB; "REAL", "FLOA" or "DOUB" REAL; anything else NUMERIC.
Affinity AffinityOf(std::string_view declaredType);

// One value as given to an INSERT.
struct RecordValue {
  enum class Kind { kNull, kInteger, kReal, kText, kBlob };
  Kind kind = Kind::kNull;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8) or blob

  static RecordValue Null() { return {}; }
  static RecordValue Integer(std::int64_t value) { return {Kind::kInteger, value, 0, {}}; }
  static RecordValue Real(double value) { return {Kind::kReal, 0, value, {}}; }
  static RecordValue Text(std::string value) { return {Kind::kText, 0, 0, std::move(value)}; }
  static RecordValue Blob(std::string value) { return {Kind::kBlob, 0, 0, std::move(value)}; }
};

// The value as an SQL literal that gives SQLite exactly this value: a real
// keeps a decimal point ("3.0", where SqlReal writes "3"), so that a column
// without affinity stores it as a real.
std::string RecordValueSql(const RecordValue& value);

// One column of a table as the record needs it.
struct RecordColumn {
  Affinity affinity = Affinity::kBlob;
  bool rowidAlias = false;  // INTEGER PRIMARY KEY
};

// The record of a row: values[i] goes into columns[i]. Throws
// std::invalid_argument when the two differ in length or a real meets a TEXT
// column.
std::vector<std::uint8_t> SqliteRecord(const std::vector<RecordValue>& values, const std::vector<RecordColumn>& columns);

// Where a record's second serial type begins (past the header-size varint
// and the first serial type): a freed cell keeps its bytes from here on,
// since SQLite's free-block header overwrites at most the cell's first four
// bytes (payload size, rowid and the start of the header). A record of fewer
// than two columns gives its size.
std::size_t SecondSerialTypeOffset(const std::vector<std::uint8_t>& record);

// The payload a table leaf page of pageSize bytes (no reserved bytes) keeps
// whole, without overflow pages: pageSize - 35.
inline constexpr std::size_t MaxLocalPayload(std::size_t pageSize) { return pageSize - 35; }

}  // namespace sample
