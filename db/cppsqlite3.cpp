#include "db/cppsqlite3.h"

#include <sqlite3.h>

#include <cstdlib>
#include <utility>

namespace db {
namespace {

constexpr const char* kCodeNames[] = {
    "SQLITE_OK",       "SQLITE_ERROR",    "SQLITE_INTERNAL", "SQLITE_PERM",     "SQLITE_ABORT",
    "SQLITE_BUSY",     "SQLITE_LOCKED",   "SQLITE_NOMEM",    "SQLITE_READONLY", "SQLITE_INTERRUPT",
    "SQLITE_IOERR",    "SQLITE_CORRUPT",  "SQLITE_NOTFOUND", "SQLITE_FULL",     "SQLITE_CANTOPEN",
    "SQLITE_PROTOCOL", "SQLITE_EMPTY",    "SQLITE_SCHEMA",   "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
    "SQLITE_MISMATCH", "SQLITE_MISUSE",   "SQLITE_NOLFS",    "SQLITE_AUTH",     "SQLITE_FORMAT",
    "SQLITE_RANGE",    "SQLITE_NOTADB",   "SQLITE_NOTICE",
};

[[noreturn]] void ThrowWrapperError(const char* text) { throw CppSQLite3Exception(kCppSqliteError, text); }

[[noreturn]] void ThrowSqliteError(sqlite3* handle, int code) {
  throw CppSQLite3Exception(code, handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(code));
}

// "file:" URI of a path, so that the immutable flag can be given. Every byte
// outside the unreserved set is percent-encoded: a path with '?' or '#' in it
// stays a path.
std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

}  // namespace

CppSQLite3Exception::CppSQLite3Exception(int code, const std::string& text)
    : code_(code),
      message_(std::string(ErrorCodeAsString(code)) + "[" + std::to_string(code) + "]: " + text) {}

const char* CppSQLite3Exception::ErrorCodeAsString(int code) {
  if (code >= 0 && code < static_cast<int>(std::size(kCodeNames))) return kCodeNames[code];
  switch (code) {
    case SQLITE_ROW: return "SQLITE_ROW";
    case SQLITE_DONE: return "SQLITE_DONE";
    case kCppSqliteError: return "CPPSQLITE_ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

// ---- CppSQLite3Query ----

CppSQLite3Query::CppSQLite3Query(sqlite3* connection, sqlite3_stmt* statement, bool eof)
    : connection_(connection),
      statement_(statement),
      eof_(eof),
      columnCount_(statement != nullptr ? sqlite3_column_count(statement) : 0) {}

CppSQLite3Query::~CppSQLite3Query() {
  if (statement_ != nullptr && ownsStatement_) sqlite3_finalize(statement_);
}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      statement_(std::exchange(other.statement_, nullptr)),
      eof_(std::exchange(other.eof_, true)),
      columnCount_(std::exchange(other.columnCount_, 0)),
      ownsStatement_(other.ownsStatement_) {}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
  if (this != &other) {
    Finalize();
    connection_ = std::exchange(other.connection_, nullptr);
    statement_ = std::exchange(other.statement_, nullptr);
    eof_ = std::exchange(other.eof_, true);
    columnCount_ = std::exchange(other.columnCount_, 0);
    ownsStatement_ = other.ownsStatement_;
  }
  return *this;
}

bool CppSQLite3Query::Eof() const {
  if (statement_ == nullptr) ThrowWrapperError("Null Virtual Machine pointer");
  return eof_;
}

void CppSQLite3Query::NextRow() {
  if (statement_ == nullptr) ThrowWrapperError("Null Virtual Machine pointer");
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return;
  if (rc == SQLITE_DONE) {
    eof_ = true;
    return;
  }
  // Take the text before finalising: finalising resets the connection's error.
  const std::string text = sqlite3_errmsg(connection_);
  Finalize();
  throw CppSQLite3Exception(rc, text);
}

int CppSQLite3Query::NumFields() const {
  if (statement_ == nullptr) ThrowWrapperError("Null Virtual Machine pointer");
  return columnCount_;
}

int CppSQLite3Query::FieldIndex(const char* name) const {
  if (statement_ == nullptr) ThrowWrapperError("Null Virtual Machine pointer");
  if (name == nullptr) return -1;
  for (int i = 0; i < columnCount_; ++i) {
    const char* columnName = sqlite3_column_name(statement_, i);
    if (columnName != nullptr && std::string_view(columnName) == name) return i;
  }
  return -1;
}

const char* CppSQLite3Query::FieldName(int column) const {
  if (!CheckColumn(column)) return nullptr;
  return sqlite3_column_name(statement_, column);
}

bool CppSQLite3Query::CheckColumn(int column) const {
  if (statement_ == nullptr) ThrowWrapperError("Null Virtual Machine pointer");
  if (column == -1) return false;
  if (column < 0 || column >= columnCount_) ThrowWrapperError("Invalid field index requested");
  return true;
}

const char* CppSQLite3Query::GetFieldText(int column) const {
  if (!CheckColumn(column)) return nullptr;
  return reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
}

std::span<const std::uint8_t> CppSQLite3Query::GetFieldBlob(int column) const {
  if (!CheckColumn(column)) return {};
  const void* bytes = sqlite3_column_blob(statement_, column);
  const int length = sqlite3_column_bytes(statement_, column);
  if (bytes == nullptr || length <= 0) return {};
  return {static_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(length)};
}

int CppSQLite3Query::GetFieldType(int column) const {
  if (!CheckColumn(column)) return kSqliteNullType;
  return sqlite3_column_type(statement_, column);
}

std::int64_t CppSQLite3Query::GetInt64Field(int column, std::int64_t nullValue) const {
  const char* text = GetFieldText(column);
  if (text == nullptr) return nullValue;
  return std::strtoll(text, nullptr, 10);
}

int CppSQLite3Query::GetIntField(int column, int nullValue) const {
  const char* text = GetFieldText(column);
  if (text == nullptr) return nullValue;
  return static_cast<int>(std::strtol(text, nullptr, 10));
}

double CppSQLite3Query::GetFloatField(int column, double nullValue) const {
  if (GetFieldType(column) == kSqliteNullType) return nullValue;
  return sqlite3_column_double(statement_, column);
}

std::string CppSQLite3Query::GetStringField(int column) const {
  const char* text = GetFieldText(column);
  if (text == nullptr) return {};
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

void CppSQLite3Query::Finalize() {
  if (statement_ != nullptr && ownsStatement_) sqlite3_finalize(statement_);
  statement_ = nullptr;
  eof_ = true;
}

// ---- CppSQLite3DB ----

CppSQLite3DB::~CppSQLite3DB() {
  if (handle_ != nullptr) sqlite3_close_v2(handle_);
}

void CppSQLite3DB::OpenFile(const std::string& path, OpenMode mode) {
  if (handle_ != nullptr) CloseFile();
  int flags = SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_URI;
  std::string target = FileUri(path);
  switch (mode) {
    case OpenMode::kImmutable:
      flags |= SQLITE_OPEN_READONLY;
      target += "?immutable=1";
      break;
    case OpenMode::kReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case OpenMode::kReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
  }
  sqlite3* handle = nullptr;
  const int rc = sqlite3_open_v2(target.c_str(), &handle, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string text = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    sqlite3_close_v2(handle);
    throw CppSQLite3Exception(rc, text);
  }
  handle_ = handle;
  sqlite3_busy_timeout(handle_, busyTimeoutMs_);
}

void CppSQLite3DB::CloseFile() {
  if (handle_ == nullptr) return;
  if (sqlite3_close(handle_) != SQLITE_OK) ThrowWrapperError("Unable to close database");
  handle_ = nullptr;
}

CppSQLite3Query CppSQLite3DB::ExecQuery(const std::string& sql, const std::vector<SqlValue>& args) {
  if (handle_ == nullptr) ThrowWrapperError("Database not open");
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(handle_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
  if (rc != SQLITE_OK) ThrowSqliteError(handle_, rc);
  if (statement == nullptr) ThrowWrapperError("Null Virtual Machine pointer");
  CppSQLite3Query query(handle_, statement, false);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const int index = static_cast<int>(i + 1);
    const SqlValue& arg = args[i];
    if (const auto* integer = std::get_if<std::int64_t>(&arg)) {
      rc = sqlite3_bind_int64(statement, index, *integer);
    } else if (const auto* real = std::get_if<double>(&arg)) {
      rc = sqlite3_bind_double(statement, index, *real);
    } else if (const auto* text = std::get_if<std::string>(&arg)) {
      rc = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                             SQLITE_TRANSIENT);
    } else {
      rc = sqlite3_bind_null(statement, index);
    }
    if (rc != SQLITE_OK) ThrowSqliteError(handle_, rc);
  }
  query.NextRow();
  return query;
}

void CppSQLite3DB::CommitTransaction() {
  if (handle_ == nullptr) ThrowWrapperError("Database not open");
  char* error = nullptr;
  const int rc = sqlite3_exec(handle_, "commit transaction", nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    const std::string text = error != nullptr ? error : sqlite3_errmsg(handle_);
    sqlite3_free(error);
    throw CppSQLite3Exception(rc, text);
  }
}

void CppSQLite3DB::SetBusyTimeout(int milliseconds) {
  busyTimeoutMs_ = milliseconds;
  if (handle_ != nullptr) sqlite3_busy_timeout(handle_, milliseconds);
}

}  // namespace db
