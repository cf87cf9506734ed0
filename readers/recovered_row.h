#pragma once
// The values of a row the deleted-row scan rebuilt with the layout made from
// its table's live shape (ScanLiveTable in readers/table_rows.h), read by
// column name as a reader reads a live row: a column the table lacks reads
// as NULL, so a field the reader fills from it stays empty. QueryRow gives a
// live row's values through the same calls, so that one function of a
// reader fills a record from either.
//
// Threads: a RecoveredRow only reads the table and the row it was given,
// which must outlive it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "db/cppsqlite3.h"
#include "db/db_sqlite.h"
#include "db/undark/undark.h"
#include "readers/live_table.h"

namespace readers {

// The latest date a rebuilt row may carry, in Unix seconds (2100-01-01 UTC):
// no phone writes one past it, so a later one is bytes of another kind that
// passed the column rules.
inline constexpr double kLatestPlausibleTime = 4102444800;

// One rebuilt value as SQL reads the live one: whether it is a number (an
// integer or a double); the number (a double truncated toward zero), 0 for
// NULL and for what is no number; the number as a double.
bool HoldsNumber(const db::undark::UndarkValue& value);
std::int64_t IntOf(const db::undark::UndarkValue& value);
double RealOf(const db::undark::UndarkValue& value);

// A live row of a query, by column name: a column the query lacks reads as
// empty or 0.
class QueryRow {
 public:
  explicit QueryRow(const db::CppSQLite3Query& query) : query_(query) {}
  std::string Text(const char* column) const { return db::FieldText(query_, column); }
  std::span<const std::uint8_t> Blob(const char* column) const { return query_.GetFieldBlob(query_.FieldIndex(column)); }
  std::int64_t Int(const char* column) const { return query_.GetInt64Field(query_.FieldIndex(column)); }
  double Real(const char* column) const { return query_.GetFloatField(query_.FieldIndex(column)); }

 private:
  const db::CppSQLite3Query& query_;
};

class RecoveredRow {
 public:
  RecoveredRow(const LiveTable& table, const db::undark::UndarkRow& row) : table_(table), row_(row) {}

  // The column's value; NULL when the table has no such column.
  const db::undark::UndarkValue& Value(std::string_view column) const;
  bool IsNull(std::string_view column) const { return Value(column).type == db::undark::kTypeNull; }
  // Whether the column holds an integer or a double.
  bool IsNumber(std::string_view column) const;
  // A TEXT as a live row's text reads (up to a zero byte, damaged UTF-8
  // repaired); "" for any other type.
  std::string Text(std::string_view column) const;
  // A BLOB's bytes; none for any other type.
  std::span<const std::uint8_t> Blob(std::string_view column) const;
  // A number as SQL reads it for a live row: an integer, a double truncated
  // toward zero; 0 for NULL and for what is no number.
  std::int64_t Int(std::string_view column) const;
  // A number as a double (a whole REAL value is stored as an integer); 0
  // for NULL and for what is no number.
  double Real(std::string_view column) const;
  // Whether the column holds a date the phone could have written, in
  // seconds since 2001: NULL, or a number from 1970 to 2100. A row read
  // from bytes of another kind gives dates far outside.
  bool HoldsPlausibleAppleDate(std::string_view column) const;
  // The row id of the table's INTEGER PRIMARY KEY (Z_PK, ROWID): nothing
  // when the table has none or the cell's start, where it is kept, was
  // overwritten by a free block's header.
  std::optional<std::int64_t> RowId() const;

 private:
  const LiveTable& table_;
  const db::undark::UndarkRow& row_;
};

}  // namespace readers
