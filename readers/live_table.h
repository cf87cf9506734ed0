#pragma once
// A table's live shape, as the database at hand has it, and the layout its
// deleted rows are looked for with.
//
// Phones of different versions give one table different widths (sms.db's
// message table has 68 to 84 columns from iOS 13 to 18, ABPerson 36 to 51),
// and a later version adds columns in the middle of what an older one had.
// So a reader learns the table's columns from the file itself (PRAGMA
// table_info), what its live rows hold in each column, and builds the
// layout from that: the column count and positions are the table's, each
// column's rule allows the serial types its live rows hold (or, for a table
// without live rows and a column they all leave NULL, what its declared type
// allows), and the row is found
// at its most telling column that no live row leaves NULL. The reader then
// takes a recovered value by column name. How the layout is made is in
// docs/formats/undark.md ("Layouts from the live table").
//
// Threads: a LiveTable is made by the reader's thread and only read after.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/db_sqlite.h"
#include "db/undark/layouts.h"
#include "db/undark/undark.h"

namespace readers {

// One column of a live table and what its live rows hold there.
struct LiveColumn {
  std::string name;
  std::string declaredType;
  bool primaryKey = false;  // the INTEGER PRIMARY KEY: stored as NULL, its value is the row id
  bool notNull = false;     // declared NOT NULL
  // The serial types the live rows (up to LiveTable::kSampleRows of them)
  // hold: integers each by its own size (1-6, 8, 9), a double as 7, TEXT as
  // any text (or only the UUID text, type 85, when every text held is a
  // UUID), BLOB as any blob.
  db::undark::Rule held = 0;
};

class LiveTable {
 public:
  // At most this many live rows are looked at for what the columns hold.
  static constexpr std::int64_t kSampleRows = 20000;

  // The table's shape and what its live rows hold, read through reader
  // (with its write-ahead log applied). Nothing when the table is missing
  // or cannot be read.
  static std::optional<LiveTable> Read(db::CDbSqlite& reader, const std::string& table);

  const std::string& Name() const { return name_; }
  const std::vector<LiveColumn>& Columns() const { return columns_; }
  std::size_t ColumnCount() const { return columns_.size(); }
  // The position of the column of that name, or -1 when the table has none.
  int Index(std::string_view name) const;
  // Whether the table has these columns at these positions and no others:
  // the shape a numbered layout was made for.
  bool HasShape(std::size_t columnCount, std::initializer_list<std::pair<std::size_t, const char*>> named) const;
  // How many live rows were looked at (0: the rules come from the declared
  // types alone).
  std::int64_t SampledRows() const { return sampledRows_; }

  // The layout for the table's deleted rows (see the top of this file). The
  // anchor is the column, held by every live row sampled, whose serial types
  // are the rarest start bytes; without live rows, the first column
  // declared NOT NULL, else the first one that is not the primary key.
  db::undark::Layout DeletedRowLayout() const;
  // The column the layout anchors at.
  int AnchorColumn() const;
  // Whether a rebuilt row looks like a row of this table: one value per
  // column, every text valid UTF-8 without a zero byte, and every text of a
  // column whose live texts are all UUIDs a UUID.
  bool Fits(const db::undark::UndarkRow& row) const;

 private:
  db::undark::Rule RuleOf(const LiveColumn& column) const;

  std::string name_;
  std::vector<LiveColumn> columns_;
  std::int64_t sampledRows_ = 0;
};

}  // namespace readers
