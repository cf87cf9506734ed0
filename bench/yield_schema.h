#pragma once
// The table shapes of the yield benchmark, read at run time from the CREATE
// statements of the phone's databases (the ios-schemas folder beside the
// project, which the project does not ship), and the rows written into them.
//
// A schema file holds comments and statements; the benchmark keeps its
// CREATE TABLE and CREATE INDEX statements and leaves out virtual tables
// (their tokenizers are the phone's own; the full-text table's _content
// table is dumped as a plain table beside it) and triggers (several call the
// phone's own SQL functions). A database may take tables its own file lacks
// from the file of another version (sms.db of iOS 17 lists only message).
//
// Thread-safety: plain values; a Schema is built once and then only read.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testing/sqlite_record.h"

namespace yield {

namespace fs = std::filesystem;
using sample::RecordValue;

struct ColumnInfo {
  std::string name;
  std::string declaredType;
  sample::RecordColumn record;
  // The value SQLite fills in when an INSERT leaves the column out; none
  // when the default calls a function of the phone's (the row must give it).
  std::optional<RecordValue> defaultValue;
};

struct TableInfo {
  std::string name;
  std::vector<ColumnInfo> columns;
  // The position of a column, -1 when the table has none of that name
  // (case-insensitive, as SQL names are).
  int Find(const std::string& column) const;
};

// Values of a row by column name; a name the table lacks is passed over, so
// that one row description fits the shapes of several versions.
using RowValues = std::map<std::string, RecordValue>;

// One row as written: its table, rowid, every column's value and the record
// SQLite makes of them.
struct WrittenRow {
  std::string table;
  std::int64_t rowid = 0;
  std::vector<std::uint8_t> record;
};

class Schema {
 public:
  // Adds the statements of file (all its tables, or only those named, with
  // their indexes). Throws std::runtime_error when the file cannot be read.
  void AddFile(const fs::path& file, const std::vector<std::string>& onlyTables = {});
  // Adds statements given as SQL text (tables a schema file does not name).
  void AddSql(const std::string& sql);
  // Adds the table `name` made from the CREATE TABLE statement of table
  // `from` (already added) with only its name changed, as apps do that keep
  // one table per conversation.
  void AddCopy(const std::string& from, const std::string& name);

  // The SQL that creates every table and index, in order.
  const std::string& Sql() const { return sql_; }
  // Whether Sql() creates the table.
  bool Has(const std::string& table) const { return createByTable_.count(table) != 0; }
  // A table's columns as SQLite reports them for Sql(). Throws
  // std::out_of_range for a table Sql() does not create.
  const TableInfo& Table(const std::string& name);

  // The INSERT of a row (the values given, the defaults for the rest, NULL
  // where there is neither) and its record. rowid goes into the rowid's alias
  // column when the table has one, else into the hidden rowid. Throws
  // std::runtime_error when a column without a usable default is not given.
  std::string InsertSql(const std::string& table, std::int64_t rowid, const RowValues& values, WrittenRow& written);

 private:
  void Describe();

  std::string sql_;
  std::map<std::string, std::string> createByTable_;
  std::map<std::string, TableInfo> tables_;
  bool described_ = false;
};

// The statements of an SQL text, each complete (sqlite3_complete), without
// its comment lines.
std::vector<std::string> SqlStatements(const std::string& text);

// A table of current-stores.md (a Markdown table whose rows name a table and
// the columns public sources read from it) as a CREATE TABLE statement: the
// row whose first cell begins with rowLabel, its third cell the table, its
// fourth the columns. Types follow Core Data's naming: Z_PK the integer
// primary key, a name with DATE a TIMESTAMP, a column marked "(BLOB)" a
// BLOB, ZTITLE, ZNOTES, ZNAME and *IDENTIFIER texts (VARCHAR), the rest
// INTEGER. Throws std::runtime_error when the file or the row is missing.
std::string CurrentStoreTableSql(const fs::path& file, const std::string& rowLabel);

}  // namespace yield
