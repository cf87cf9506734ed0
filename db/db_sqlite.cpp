#include "db/db_sqlite.h"

#include <filesystem>

#include <sqlite3.h>

#include "db/text.h"
#include "platform/fs.h"

namespace db {

CDbSqlite::CDbSqlite() : connection(std::make_unique<CppSQLite3DB>()) {}

CDbSqlite::~CDbSqlite() { Close(); }

void CDbSqlite::ParseRow(int tableKind, std::unique_ptr<BaseItem>& out, CppSQLite3Query& query) {
  if (tableKind != kSchemaTableKind) return;
  auto item = std::make_unique<DBITEM_TbNameList>();
  item->type = query.GetStringField(0);
  item->name = query.GetStringField(1);
  item->tbl_name = query.GetStringField(2);
  item->rootpage = query.GetIntField(3);
  item->sql = query.GetStringField(4);
  out = std::move(item);
}

base::Status CDbSqlite::Open(const std::string& path, int param) {
  openParam = param;
  dbPath = path;
  dbFolder = std::filesystem::path(path).parent_path().string();
  dbFolder += std::filesystem::path::preferred_separator;
  workingCopy_.reset();
  problems_.clear();
  connection = std::make_unique<CppSQLite3DB>();
  base::Status status = path.empty()                      ? base::Status::NotFound(path, "no database path")
                        : !platform::IsRegularFile(path) ? base::Status::NotFound(path, "no such file")
                                                         : OpenConnection();
  if (!status.Ok()) {
    problems_.push_back(status);
    return status;
  }
  ++openCount;
  return status;
}

namespace {

// SQLite's answers for a file that holds no database or a damaged one.
bool IsDamage(int sqliteCode) {
  const int primary = sqliteCode & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

}  // namespace

base::Status CDbSqlite::OpenConnection() {
  try {
    walPath_.clear();
    if (const auto wal = WalCompanionOf(dbPath, walCompanion_)) {
      workingCopy_ = std::make_unique<WorkingCopy>(dbPath, *wal);
      walPath_ = *wal;
      connection->OpenFile(workingCopy_->DatabasePath(), CppSQLite3DB::OpenMode::kReadOnly);
    } else {
      connection->OpenFile(dbPath, CppSQLite3DB::OpenMode::kImmutable);
    }
    // SQLite opens any file and reads it on the first statement: reading the
    // schema now tells a file of random bytes from an empty result.
    connection->ExecQuery("Select count(*) From sqlite_master;").Finalize();
    return {};
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
    connection = std::make_unique<CppSQLite3DB>();
    workingCopy_.reset();
    if (IsDamage(e.ErrorCode())) return base::Status::Corrupt(dbPath, "not a SQLite database, or a damaged one (" + lastError + ")");
    return base::Status::Unreadable(dbPath, lastError);
  } catch (const std::filesystem::filesystem_error& e) {
    lastError = e.what();
  }
  workingCopy_.reset();
  return base::Status::Unreadable(dbPath, "its working copy cannot be made (" + lastError + ")");
}

int CDbSqlite::Reopen() {
  if (dbPath.empty() || !platform::IsRegularFile(dbPath)) return 0;
  if (openCount > 0) return 1;
  if (!OpenConnection().Ok()) return 0;
  ++openCount;
  return 1;
}

void CDbSqlite::NoteProblem(const base::Status& status) {
  if (!status.Ok()) problems_.push_back(status);
}

int CDbSqlite::RunQuery(int tableKind, const std::string& sql, ItemList& out,
                        const std::vector<SqlValue>& args, std::size_t& appended) {
  int columns = 0;
  CppSQLite3Query query;
  try {
    if (sql.size() >= kSqlBufferSize) {
      throw CppSQLite3Exception(kCppSqliteError, "SQL text too long");
    }
    query = connection->ExecQuery(sql, args);
    columns = query.NumFields();
    while (!query.Eof()) {
      std::unique_ptr<BaseItem> record;
      ParseRow(tableKind, record, query);
      if (record) {
        out.push_back(std::move(record));
        ++appended;
      }
      query.NextRow();
    }
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
    if (IsDamage(e.ErrorCode())) NoteProblem(base::Status::Corrupt(dbPath, "damaged pages (" + lastError + ")"));
  }
  query.Finalize();
  return columns;
}

int CDbSqlite::Query(int tableKind, const std::string& sql, ItemList& out,
                     const std::vector<SqlValue>& args) {
  if (openCount == 0 && Reopen() == 0) return 0;
  lastError.clear();
  std::size_t appended = 0;
  RunQuery(tableKind, sql, out, args, appended);
  if (lastError.empty()) return 1;
  return appended > 0 ? 1 : 0;
}

int CDbSqlite::QueryKindOne(const std::string& sql, ItemList& out, const std::vector<SqlValue>& args) {
  return Query(1, sql, out, args);
}

bool CDbSqlite::HasTable(const std::string& name) {
  std::int64_t count = 0;
  return !name.empty() &&
         QueryInt64("Select count(*) From sqlite_master Where type='table' And name=?;", count, {name}) && count > 0;
}

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

bool CDbSqlite::QueryInt64(const std::string& sql, std::int64_t& value, const std::vector<SqlValue>& args) {
  if (openCount == 0 && Reopen() == 0) return false;
  try {
    CppSQLite3Query query = connection->ExecQuery(sql, args);
    if (query.Eof()) return false;
    value = query.GetInt64Field(0);
    return true;
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
    return false;
  }
}

int CDbSqlite::LoadTable(int tableKind, ItemList& out) {
  if (openCount == 0 && Reopen() == 0) return 0;
  lastError.clear();
  std::size_t appended = 0;
  return RunQuery(tableKind, "Select * From " + GetTableName(tableKind) + ";", out, {}, appended);
}

std::vector<std::string> CDbSqlite::ColumnNames(const std::string& table) {
  std::vector<std::string> names;
  for (TableColumn& column : TableColumns(table)) names.push_back(std::move(column.name));
  return names;
}

std::vector<TableColumn> CDbSqlite::TableColumns(const std::string& table) {
  std::vector<TableColumn> columns;
  if (openCount == 0 && Reopen() == 0) return columns;
  CppSQLite3Query query;
  try {
    // The name is quoted as an identifier: nothing in it may end the
    // statement.
    query = connection->ExecQuery("PRAGMA table_info(" + QuoteIdentifier(table) + ");");
    const int nameColumn = query.FieldIndex("name");
    const int typeColumn = query.FieldIndex("type");
    const int notNullColumn = query.FieldIndex("notnull");
    const int keyColumn = query.FieldIndex("pk");
    for (; !query.Eof(); query.NextRow()) {
      columns.push_back(TableColumn{FieldText(query, nameColumn), FieldText(query, typeColumn),
                                    query.GetInt64Field(notNullColumn) != 0,
                                    static_cast<int>(query.GetInt64Field(keyColumn))});
    }
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
    columns.clear();
  }
  query.Finalize();
  return columns;
}

bool CDbSqlite::QueryInt64Row(const std::string& sql, std::vector<std::int64_t>& values) {
  values.clear();
  if (openCount == 0 && Reopen() == 0) return false;
  CppSQLite3Query query;
  try {
    query = connection->ExecQuery(sql);
    if (!query.Eof()) {
      for (int i = 0; i < query.NumFields(); ++i) values.push_back(query.GetInt64Field(i));
    }
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
    values.clear();
  }
  query.Finalize();
  return !values.empty();
}

namespace {

// The page map of PageOwners read through connection.
std::map<std::uint32_t, std::string> ReadPageOwners(CppSQLite3DB& connection, std::set<std::uint32_t>* interiorPages) {
  std::map<std::uint32_t, std::string> owners;
  CppSQLite3Query query = connection.ExecQuery(
      "SELECT name, pageno, pagetype FROM dbstat WHERE pagetype IN ('internal', 'leaf');");
  const int nameColumn = query.FieldIndex("name");
  const int pageColumn = query.FieldIndex("pageno");
  const int typeColumn = query.FieldIndex("pagetype");
  for (; !query.Eof(); query.NextRow()) {
    const std::int64_t page = query.GetInt64Field(pageColumn);
    if (page < 1 || page > std::int64_t{UINT32_MAX}) continue;
    owners[static_cast<std::uint32_t>(page)] = FieldText(query, nameColumn);
    if (interiorPages != nullptr && FieldText(query, typeColumn) == "internal") {
      interiorPages->insert(static_cast<std::uint32_t>(page));
    }
  }
  query.Finalize();
  return owners;
}

}  // namespace

std::map<std::uint32_t, std::string> CDbSqlite::PageOwners(std::set<std::uint32_t>* interiorPages) {
  if (interiorPages != nullptr) interiorPages->clear();
  if (openCount == 0 && Reopen() == 0) return {};
  try {
    return ReadPageOwners(*connection, interiorPages);
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
  }
  if (interiorPages != nullptr) interiorPages->clear();
  return {};
}

std::map<std::uint32_t, std::string> CDbSqlite::FilePageOwners(std::set<std::uint32_t>* interiorPages) {
  if (interiorPages != nullptr) interiorPages->clear();
  if (openCount == 0 && Reopen() == 0) return {};
  if (walPath_.empty()) return PageOwners(interiorPages);
  try {
    CppSQLite3DB file;
    file.OpenFile(dbPath, CppSQLite3DB::OpenMode::kImmutable);
    return ReadPageOwners(file, interiorPages);
  } catch (const CppSQLite3Exception& e) {
    lastError = e.ErrorMessage();
  }
  if (interiorPages != nullptr) interiorPages->clear();
  return {};
}

void CDbSqlite::Close() {
  DeleteAll(rows);
  if (openCount > 0 && connection) {
    try {
      connection->CloseFile();
    } catch (const CppSQLite3Exception&) {
      // SQLite refused (a statement still open): drop the connection object,
      // whose destructor closes the handle once the statements are gone.
      connection = std::make_unique<CppSQLite3DB>();
    }
  }
  openCount = 0;
  workingCopy_.reset();
}

std::string FieldText(const CppSQLite3Query& query, int column) { return Utf8ToAnsi(query.GetFieldText(column)); }

std::string FieldText(const CppSQLite3Query& query, const char* column) {
  return FieldText(query, query.FieldIndex(column));
}

}  // namespace db
