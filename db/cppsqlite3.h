#pragma once
// A thin wrapper over one SQLite connection: open, run a statement, walk its
// rows forward, read columns. Every failure is a CppSQLite3Exception whose
// message reads "%s[%d]: %s" (code name, code, text).
//
// Threads: a connection and its cursors are used by one thread at a time.

#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace db {

inline constexpr int kCppSqliteError = 1000;  // errors of the wrapper itself
inline constexpr int kDefaultBusyTimeoutMs = 60000;
inline constexpr int kSqliteNullType = 5;  // SQLite's storage class of NULL

class CppSQLite3Exception : public std::exception {
 public:
  CppSQLite3Exception(int code, const std::string& text);

  int ErrorCode() const { return code_; }
  // The whole message, "%s[%d]: %s".
  const char* ErrorMessage() const { return message_.c_str(); }
  const char* what() const noexcept override { return message_.c_str(); }

  // The symbolic name of a SQLite primary result code, "CPPSQLITE_ERROR" for
  // 1000 and "UNKNOWN_ERROR" for anything else.
  static const char* ErrorCodeAsString(int code);

 private:
  int code_;
  std::string message_;
};

// A value bound to a "?" parameter. Text from a backup only ever reaches SQL
// this way, never as part of the SQL text.
using SqlValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

// A forward-only cursor over the rows of one statement. Move-only; finalises
// the statement it owns on destruction.
class CppSQLite3Query {
 public:
  CppSQLite3Query() = default;
  CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool eof);
  ~CppSQLite3Query();
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;

  bool Eof() const;
  // Steps to the next row; throws with SQLite's code and text on a failed
  // step (the statement is finalised first).
  void NextRow();
  int NumFields() const;
  // The column number of a result column name, -1 when there is none.
  int FieldIndex(const char* name) const;
  const char* FieldName(int column) const;

  // UTF-8 text of a column; nullptr for SQL NULL and for column -1.
  const char* GetFieldText(int column) const;
  // Bytes of a column (empty for NULL and column -1).
  std::span<const std::uint8_t> GetFieldBlob(int column) const;
  // SQLite's storage class (1 integer, 2 float, 3 text, 4 blob, 5 NULL).
  int GetFieldType(int column) const;

  // Column values through their text, as the readers convert them: a
  // decimal text-to-integer conversion, NULL (or no number) as nullValue.
  std::int64_t GetInt64Field(int column, std::int64_t nullValue = 0) const;
  int GetIntField(int column, int nullValue = 0) const;
  double GetFloatField(int column, double nullValue = 0) const;
  // Text of a column, empty for NULL.
  std::string GetStringField(int column) const;

  void Finalize();

 private:
  // Checks a column number; -1 (a missing name) is let through as NULL.
  bool CheckColumn(int column) const;

  sqlite3* connection_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
  bool eof_ = true;
  int columnCount_ = 0;
  bool ownsStatement_ = true;
};

class CppSQLite3DB {
 public:
  enum class OpenMode {
    // Read-only, and SQLite is told the file cannot change, so it creates no
    // -wal or -shm beside it: the mode for files inside a backup.
    kImmutable,
    // Read-only with the usual locking and WAL handling: the mode for a
    // private working copy whose -wal must be read.
    kReadOnly,
    kReadWrite,
  };

  CppSQLite3DB() = default;
  ~CppSQLite3DB();
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;

  // Opens a file (UTF-8 path) in serialised mode. Throws when SQLite cannot
  // open it; a half-open handle is closed first. Never creates the file.
  void OpenFile(const std::string& path, OpenMode mode);
  // Closes the connection; throws "Unable to close database" when SQLite
  // refuses (statements still open).
  void CloseFile();
  bool IsOpen() const { return handle_ != nullptr; }

  // Compiles and starts a statement, binding args to its "?" parameters in
  // order; the cursor is on the first row or at its end.
  CppSQLite3Query ExecQuery(const std::string& sql, const std::vector<SqlValue>& args = {});
  void CommitTransaction();

  void SetBusyTimeout(int milliseconds);
  sqlite3* Handle() const { return handle_; }

 private:
  sqlite3* handle_ = nullptr;
  int busyTimeoutMs_ = kDefaultBusyTimeoutMs;
};

}  // namespace db
