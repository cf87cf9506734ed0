#pragma once
// CDbSqlite: the base of every database reader. It owns one SQLite
// connection and turns result rows into records through the reader's
// ParseRow slot.
//
// Safety: a database inside a backup is opened read-only and immutable, so
// nothing is written beside it. When it has a write-ahead log (see
// wal_companion.h) both are read from a private working copy that goes away
// on Close, so SQL sees the newest rows and the backup stays untouched.
//
// Failures: Open answers with a base::Status; later damage is kept in
// Problems(). Query and LoadTable return what they could read.
//
// Threads: a reader is used by one thread at a time (the analysis worker);
// its records may then be read by the UI thread until the reader is destroyed.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "db/cppsqlite3.h"
#include "db/items.h"
#include "db/wal_companion.h"

namespace db {

// Table kind of the schema table; handled by the base's ParseRow.
inline constexpr int kSchemaTableKind = -1;
// SQL texts are built in buffers of this size; a longer text is not run.
inline constexpr std::size_t kSqlBufferSize = 8192;

// One column of a table's declared shape.
struct TableColumn {
  std::string name;
  std::string declaredType;  // as written in the CREATE statement, maybe empty
  bool notNull = false;
  int primaryKey = 0;  // its place in the primary key (1-based), 0 when not part of it
};

class CDbSqlite {
 public:
  CDbSqlite();
  virtual ~CDbSqlite();
  CDbSqlite(const CDbSqlite&) = delete;
  CDbSqlite& operator=(const CDbSqlite&) = delete;

  // Slot 0: the table name (or whole FROM clause) of a table kind.
  virtual std::string GetTableName(int tableKind) = 0;
  // Slot 1: turns the current row into a new record handed back through
  // out, or hands back none. The base handles kSchemaTableKind only.
  virtual void ParseRow(int tableKind, std::unique_ptr<BaseItem>& out, CppSQLite3Query& query);
  // Slot 2: opens the database at path (with the log SetWalCompanion named,
  // else a "-wal" file right beside it). Returns ok; not found when the path
  // is empty or names no regular file; corrupt when SQLite finds no database
  // in it or a damaged one; unreadable when it cannot be read otherwise.
  // Readers override it to open through the base and then load what they
  // need; what goes wrong while they load is kept in Problems().
  virtual base::Status Open(const std::string& path, int param);

  // The write-ahead log stored for the database the next Open opens (a
  // backup keeps it under its own stored name; the backup file index knows
  // it). Empty: only a "-wal" file beside the database is read with it.
  void SetWalCompanion(std::string walPath) { walCompanion_ = std::move(walPath); }

  // What went wrong with this reader's file since the last Open began: the
  // Open itself when it failed, damaged pages met by SQL, scans of the file
  // for deleted rows that could not run. Each names the file. A table or
  // column the database lacks is no problem: phones of other versions differ
  // so.
  const std::vector<base::Status>& Problems() const { return problems_; }
  // Keeps status among the problems unless it is ok.
  void NoteProblem(const base::Status& status);

  // Runs one SQL text with bound args; for every row calls ParseRow and
  // appends the record handed back to out. Returns 1 when the statement ran
  // to its end, or when an error stopped it after at least one record was
  // appended (those records stay); 0 when nothing could be read.
  int Query(int tableKind, const std::string& sql, ItemList& out, const std::vector<SqlValue>& args = {});
  // Query with the table kind fixed to 1, for short lookups.
  int QueryKindOne(const std::string& sql, ItemList& out, const std::vector<SqlValue>& args = {});
  // The first column of the first row of sql as an integer, into value.
  // Returns false when the statement fails or gives no row.
  bool QueryInt64(const std::string& sql, std::int64_t& value, const std::vector<SqlValue>& args = {});
  // Whether the database lists a table of that name. A table name taken from
  // the data (a chat's table) goes into SQL only after this said yes, and
  // then through QuoteIdentifier.
  bool HasTable(const std::string& name);
  // "Select * From <GetTableName(tableKind)>;" through the query loop.
  // Returns the statement's column count (kept when an error ends the loop
  // early), 0 when the statement cannot be compiled or the database opened.
  int LoadTable(int tableKind, ItemList& out);
  // The column names of table in order (PRAGMA table_info), or none when
  // the table is missing or the database cannot be read. The readers check
  // with it that a table has the shape their recovered values are mapped to.
  std::vector<std::string> ColumnNames(const std::string& table);
  // The columns of table in order as PRAGMA table_info gives them, or none
  // when the table is missing or the database cannot be read.
  std::vector<TableColumn> TableColumns(const std::string& table);
  // The integers of the first row sql gives, one per result column, into
  // values. False when the statement fails or gives no row.
  bool QueryInt64Row(const std::string& sql, std::vector<std::int64_t>& values);
  // Which table or index owns each b-tree page: page number (1-based) to
  // the name of the table or index whose b-tree holds that page as a leaf
  // or interior page, read from SQLite's dbstat virtual table. Overflow
  // pages and free pages (a dropped table's among them) are not in the map.
  // Empty, with no problem noted, when this SQLite has no dbstat or the
  // database cannot be read through it (a damaged b-tree empties the whole
  // map rather than leave pages out of it).
  //
  // The map describes the database as SQL sees it: with its write-ahead log
  // applied (from the working copy). The deleted-row scanner reads the main
  // file alone, so a page the log rewrote may hold other rows in the file,
  // and pages the log added lie past the file's end.
  // interiorPages, when given, receives the interior pages among them: their
  // cells point at other pages, and what they hold besides is leftovers
  // of cells moved down when the page split.
  std::map<std::uint32_t, std::string> PageOwners(std::set<std::uint32_t>* interiorPages = nullptr);
  // The same for the database file alone, as its last checkpoint left it:
  // the pages the deleted-row scan of the file meets, whose tables the log
  // may have changed since (a page freed and taken by another table). Read
  // through a second, immutable connection to the file, which never reads
  // the log. PageOwners' map when the database has no log.
  std::map<std::uint32_t, std::string> FilePageOwners(std::set<std::uint32_t>* interiorPages = nullptr);
  // Deletes the records in rows, closes the connection (a refusal is
  // swallowed), removes any working copy. A closed reader reopens on the next
  // Query or LoadTable.
  void Close();

  // The write-ahead log read with the database since the last Open, or
  // empty when it has none (or is closed and not yet reopened).
  const std::string& WalPath() const { return walPath_; }

  int OpenCount() const { return openCount; }
  int OpenParam() const { return openParam; }
  const std::string& DbPath() const { return dbPath; }
  const std::string& DbFolder() const { return dbFolder; }
  // The text of the last wrapper error a Query or Open swallowed, or empty.
  const std::string& LastError() const { return lastError; }

 protected:
  // Opens dbPath again on the existing connection when closed. Never creates
  // a file. Returns 1 on success.
  int Reopen();

  int openCount = 0;
  int openParam = 0;
  std::unique_ptr<CppSQLite3DB> connection;
  std::string dbPath;
  std::string dbFolder;  // folder of dbPath followed by the platform separator
  ItemList rows;
  std::string lastError;

 private:
  // Opens dbPath on connection, through a working copy when it has a log,
  // and reads its schema once so that a file that is no database is told.
  base::Status OpenConnection();
  // The loop shared by Query and LoadTable; returns the column count.
  int RunQuery(int tableKind, const std::string& sql, ItemList& out,
               const std::vector<SqlValue>& args, std::size_t& appended);

  std::unique_ptr<WorkingCopy> workingCopy_;
  std::string walCompanion_;
  std::string walPath_;
  std::vector<base::Status> problems_;
};

// A column's text as the system keeps it: UTF-8 with damaged sequences
// repaired; NULL and a missing column (index -1) give "".
std::string FieldText(const CppSQLite3Query& query, int column);
std::string FieldText(const CppSQLite3Query& query, const char* column);

// A name as an SQL identifier: in double quotes, inner double quotes doubled.
std::string QuoteIdentifier(const std::string& name);

}  // namespace db
