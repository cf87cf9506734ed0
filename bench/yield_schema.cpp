#include "bench/yield_schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace yield {
namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string Trim(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The table a CREATE TABLE or CREATE INDEX statement is about ("" for
// other statements); kind says which it is.
std::string TableOf(const std::string& statement, std::string& kind) {
  static const std::regex kTable(R"(^CREATE\s+TABLE\s+(IF\s+NOT\s+EXISTS\s+)?['"\[]?(\w+))", std::regex::icase);
  static const std::regex kIndex(R"(^CREATE\s+(UNIQUE\s+)?INDEX\s[\s\S]*?\bON\s+['"\[]?(\w+))", std::regex::icase);
  std::smatch match;
  if (std::regex_search(statement, match, kTable)) {
    kind = "table";
    return match[2];
  }
  if (std::regex_search(statement, match, kIndex)) {
    kind = "index";
    return match[2];
  }
  kind.clear();
  return "";
}

// Whether a default is a constant (a number, a quoted text, NULL), which
// SQLite can be asked for; a function call is not.
bool ConstantDefault(const std::string& expression) {
  std::string rest;
  bool quoted = false;
  for (const char c : expression) {
    if (c == '\'') quoted = !quoted;
    else if (!quoted) rest += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  for (const char* word : {"NULL", "TRUE", "FALSE"}) {
    for (std::size_t at = rest.find(word); at != std::string::npos; at = rest.find(word)) rest.erase(at, std::strlen(word));
  }
  return rest.find_first_of("ABCDFGHIJKLMNOPQRSTUVWXYZ_") == std::string::npos;
}

std::optional<RecordValue> EvaluateDefault(sqlite3* db, const char* expression) {
  if (expression == nullptr) return RecordValue::Null();
  if (!ConstantDefault(expression)) return std::nullopt;
  sqlite3_stmt* statement = nullptr;
  std::optional<RecordValue> value;
  if (sqlite3_prepare_v2(db, (std::string("SELECT ") + expression).c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    switch (sqlite3_column_type(statement, 0)) {
      case SQLITE_INTEGER: value = RecordValue::Integer(sqlite3_column_int64(statement, 0)); break;
      case SQLITE_FLOAT: value = RecordValue::Real(sqlite3_column_double(statement, 0)); break;
      case SQLITE_TEXT:
        value = RecordValue::Text(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        break;
      case SQLITE_BLOB:
        value = RecordValue::Blob(std::string(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                                              static_cast<std::size_t>(sqlite3_column_bytes(statement, 0))));
        break;
      default: value = RecordValue::Null();
    }
  }
  sqlite3_finalize(statement);
  return value;
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

TableInfo DescribeTable(sqlite3* db, const std::string& name) {
  TableInfo table;
  table.name = name;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + Quoted(name) + ");").c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error("schema: cannot describe " + name);
  }
  int keyColumns = 0;
  int keyIndex = -1;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = ColumnText(statement, 1);
    column.declaredType = ColumnText(statement, 2);
    column.record.affinity = sample::AffinityOf(column.declaredType);
    const char* dflt = reinterpret_cast<const char*>(sqlite3_column_text(statement, 4));
    column.defaultValue = EvaluateDefault(db, dflt);
    if (sqlite3_column_int(statement, 5) > 0) {
      ++keyColumns;
      keyIndex = static_cast<int>(table.columns.size());
    }
    table.columns.push_back(std::move(column));
  }
  sqlite3_finalize(statement);
  if (table.columns.empty()) throw std::runtime_error("schema: no table " + name);
  if (keyColumns == 1 && Upper(table.columns[static_cast<std::size_t>(keyIndex)].declaredType) == "INTEGER") {
    table.columns[static_cast<std::size_t>(keyIndex)].record.rowidAlias = true;
  }
  return table;
}

std::vector<std::string> SplitCells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  std::string cell;
  while (std::getline(in, cell, '|')) cells.push_back(Trim(cell));
  return cells;
}

std::string CoreDataType(const std::string& column) {
  if (column == "Z_PK") return "INTEGER PRIMARY KEY";
  if (column.find("(BLOB)") != std::string::npos) return "BLOB";
  if (column.find("DATE") != std::string::npos) return "TIMESTAMP";
  if (column == "ZTITLE" || column == "ZNOTES" || column == "ZNAME" ||
      (column.size() > 10 && column.compare(column.size() - 10, 10, "IDENTIFIER") == 0)) {
    return "VARCHAR";
  }
  return "INTEGER";
}

}  // namespace

int TableInfo::Find(const std::string& column) const {
  const std::string wanted = Upper(column);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (Upper(columns[i].name) == wanted) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::string> SqlStatements(const std::string& text) {
  std::stringstream in(text);
  std::string code;
  std::string line;
  while (std::getline(in, line)) {
    if (Trim(line).rfind("--", 0) != 0) code += line + "\n";
  }
  std::vector<std::string> statements;
  std::string pending;
  for (const char c : code) {
    pending += c;
    if (c == ';' && sqlite3_complete(pending.c_str()) != 0) {
      statements.push_back(Trim(pending));
      pending.clear();
    }
  }
  return statements;
}

void Schema::AddFile(const fs::path& file, const std::vector<std::string>& onlyTables) {
  for (const std::string& statement : SqlStatements(ReadText(file))) {
    std::string kind;
    const std::string table = TableOf(statement, kind);
    if (kind.empty()) continue;  // virtual tables, triggers, views
    if (!onlyTables.empty() && std::find(onlyTables.begin(), onlyTables.end(), table) == onlyTables.end()) continue;
    if (kind == "table") createByTable_[table] = statement;
    sql_ += statement + "\n";
  }
  described_ = false;
}

void Schema::AddSql(const std::string& sql) {
  for (const std::string& statement : SqlStatements(sql)) {
    std::string kind;
    const std::string table = TableOf(statement, kind);
    if (kind == "table") createByTable_[table] = statement;
  }
  sql_ += sql + "\n";
  described_ = false;
}

void Schema::AddCopy(const std::string& from, const std::string& name) {
  std::string statement = createByTable_.at(from);
  const std::size_t at = statement.find(from, Upper(statement).find("TABLE"));
  statement.replace(at, from.size(), name);
  createByTable_[name] = statement;
  sql_ += statement + "\n";
  described_ = false;
}

void Schema::Describe() {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  char* error = nullptr;
  if (sqlite3_exec(db, sql_.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error != nullptr ? error : "?";
    sqlite3_free(error);
    sqlite3_close(db);
    throw std::runtime_error("schema: " + text);
  }
  tables_.clear();
  for (const auto& [name, statement] : createByTable_) tables_[name] = DescribeTable(db, name);
  sqlite3_close(db);
  described_ = true;
}

const TableInfo& Schema::Table(const std::string& name) {
  if (!described_) Describe();
  return tables_.at(name);
}

std::string Schema::InsertSql(const std::string& tableName, std::int64_t rowid, const RowValues& values,
                              WrittenRow& written) {
  const TableInfo& table = Table(tableName);
  std::vector<RecordValue> row;
  std::vector<sample::RecordColumn> shape;
  std::string names;
  std::string literals;
  bool aliased = false;
  for (const ColumnInfo& column : table.columns) {
    RecordValue value;
    if (column.record.rowidAlias) {
      value = RecordValue::Integer(rowid);
      aliased = true;
    } else if (auto given = std::find_if(values.begin(), values.end(),
                                         [&](const auto& entry) { return Upper(entry.first) == Upper(column.name); });
               given != values.end()) {
      value = given->second;
    } else if (column.defaultValue) {
      value = *column.defaultValue;
    } else {
      throw std::runtime_error("schema: " + tableName + "." + column.name + " needs a value");
    }
    names += (names.empty() ? "" : ",") + Quoted(column.name);
    literals += (literals.empty() ? "" : ",") + sample::RecordValueSql(value);
    row.push_back(std::move(value));
    shape.push_back(column.record);
  }
  if (!aliased) {
    names = "rowid," + names;
    literals = std::to_string(rowid) + "," + literals;
  }
  written.table = tableName;
  written.rowid = rowid;
  written.record = sample::SqliteRecord(row, shape);
  return "INSERT INTO " + Quoted(tableName) + "(" + names + ") VALUES(" + literals + ");\n";
}

std::string CurrentStoreTableSql(const fs::path& file, const std::string& rowLabel) {
  std::stringstream in(ReadText(file));
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> cells = SplitCells(line);
    if (cells.size() < 5 || cells[1].rfind(rowLabel, 0) != 0) continue;
    std::vector<std::string> columns;
    std::stringstream list(cells[4]);
    std::string column;
    while (std::getline(list, column, ',')) columns.push_back(Trim(column));
    // Core Data gives every entity table its entity number and save count.
    for (const char* bookkeeping : {"Z_OPT", "Z_ENT"}) {
      if (std::find(columns.begin(), columns.end(), bookkeeping) == columns.end()) {
        columns.insert(columns.begin() + 1, bookkeeping);
      }
    }
    std::string sql = "CREATE TABLE " + cells[3] + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const std::string name = Trim(columns[i].substr(0, columns[i].find(' ')));
      sql += (i == 0 ? "" : ", ") + name + " " + CoreDataType(columns[i]);
    }
    return sql + ");";
  }
  throw std::runtime_error("no row '" + rowLabel + "' in " + file.string());
}

}  // namespace yield
