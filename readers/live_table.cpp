#include "readers/live_table.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "db/text.h"

namespace readers {
namespace {

using db::undark::Rule;
using db::undark::SerialTypes;

const Rule kIntegers = SerialTypes({1, 2, 3, 4, 5, 6, 8, 9});
const Rule kDouble = SerialTypes({7});
const Rule kNull = SerialTypes({0});

enum class Affinity { kInteger, kText, kBlob, kReal, kNumeric };

// SQLite's rules for a declared type's affinity, in their order.
Affinity AffinityOf(std::string type) {
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto has = [&type](const char* part) { return type.find(part) != std::string::npos; };
  if (has("INT")) return Affinity::kInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::kText;
  if (has("BLOB") || type.empty()) return Affinity::kBlob;
  if (has("REAL") || has("FLOA") || has("DOUB")) return Affinity::kReal;
  return Affinity::kNumeric;
}

// What a declared type lets a column hold, for a table without live rows.
Rule DeclaredRule(const std::string& declaredType) {
  switch (AffinityOf(declaredType)) {
    case Affinity::kInteger:
    case Affinity::kReal: return kNull | kIntegers | kDouble;
    case Affinity::kNumeric: return kNull | kIntegers | kDouble | db::undark::kText;
    case Affinity::kText: return kNull | db::undark::kText;
    case Affinity::kBlob: break;
  }
  return db::undark::kAny;
}

// The serial type an integer value v (an SQL expression) is stored with, as
// the bit of a Rule.
std::string IntegerBit(const std::string& v) {
  return "CASE WHEN " + v + "=0 THEN 256 WHEN " + v + "=1 THEN 512 WHEN " + v + " BETWEEN -128 AND 127 THEN 2 WHEN " +
         v + " BETWEEN -32768 AND 32767 THEN 4 WHEN " + v + " BETWEEN -8388608 AND 8388607 THEN 8 WHEN " + v +
         " BETWEEN -2147483648 AND 2147483647 THEN 16 WHEN " + v +
         " BETWEEN -140737488355328 AND 140737488355327 THEN 32 ELSE 64 END";
}

// The SQL expression giving, for one value of column c, the bit of its
// serial type in a Rule (a UUID text as kUuid). A column of REAL affinity
// stores a whole number below 2^51 as an integer.
std::string SerialTypeBit(const LiveColumn& column) {
  const std::string c = db::QuoteIdentifier(column.name);
  std::string hex;
  for (int group : {8, 4, 4, 4, 12}) {
    if (!hex.empty()) hex += '-';
    for (int i = 0; i < group; ++i) hex += "[0-9A-Fa-f]";
  }
  const std::string real = AffinityOf(column.declaredType) == Affinity::kReal
                               ? "CASE WHEN " + c + "=CAST(" + c + " AS INTEGER) AND abs(" + c +
                                     ")<2251799813685248 THEN " + IntegerBit("CAST(" + c + " AS INTEGER)") +
                                     " ELSE 128 END"
                               : std::string("128");
  return "CASE typeof(" + c + ") WHEN 'null' THEN 1 WHEN 'integer' THEN " + IntegerBit(c) + " WHEN 'real' THEN " +
         real + " WHEN 'text' THEN CASE WHEN length(CAST(" + c + " AS BLOB))=36 AND " + c + " GLOB '" + hex +
         "' THEN 16384 ELSE 8192 END ELSE 4096 END";
}

// How often a start byte turns up where no row starts, as the cost of a
// trigger: the UUID's text type is rare, a double or a long integer's type
// nearly so; small integers, flags and text types are everywhere.
int TriggerCost(int byte) {
  if (byte == 85) return 1;
  if (byte == 5 || byte == 6 || byte == 7) return 2;
  if (byte == 4) return 3;
  if (byte >= 1 && byte <= 3) return 6;
  if (byte == 8 || byte == 9) return 8;
  return 6;
}

// The start bytes a rule's serial types give: the one-byte serial types
// other than NULL (zero bytes are passed over by the scan).
std::vector<int> TriggersOf(Rule rule) {
  std::vector<int> triggers;
  for (int byte = 1; byte < 128; ++byte) {
    if (byte != 10 && byte != 11 && db::undark::Allows(rule, static_cast<std::uint64_t>(byte))) triggers.push_back(byte);
  }
  return triggers;
}

}  // namespace

std::optional<LiveTable> LiveTable::Read(db::CDbSqlite& reader, const std::string& table) {
  std::vector<db::TableColumn> declared = reader.TableColumns(table);
  if (declared.empty() || declared.size() > static_cast<std::size_t>(db::undark::kMaxColumns)) return std::nullopt;
  // A virtual table keeps its rows in tables of its own (scanned by their
  // names); a table whose primary key has an index of its own (WITHOUT
  // ROWID, or a key that is not INTEGER) has no row id standing in for it.
  std::int64_t count = 0;
  if (reader.QueryInt64("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=? AND sql LIKE 'CREATE VIRTUAL%';",
                        count, {table}) &&
      count > 0) {
    return std::nullopt;
  }
  const bool keyIndexed =
      reader.QueryInt64("SELECT count(*) FROM pragma_index_list(?) WHERE origin='pk';", count, {table}) && count > 0;
  LiveTable live;
  live.name_ = table;
  const int keyParts = static_cast<int>(std::count_if(declared.begin(), declared.end(),
                                                      [](const db::TableColumn& c) { return c.primaryKey > 0; }));
  std::string sql = "SELECT count(*)";
  for (db::TableColumn& column : declared) {
    LiveColumn live_column;
    live_column.name = std::move(column.name);
    live_column.declaredType = std::move(column.declaredType);
    live_column.notNull = column.notNull;
    // Only a lone key column declared exactly INTEGER stands for the row id.
    std::string type = live_column.declaredType;
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    live_column.primaryKey = !keyIndexed && keyParts == 1 && column.primaryKey == 1 && type == "INTEGER";
    // Distinct powers of two summed are their union.
    sql += ", total(DISTINCT " + SerialTypeBit(live_column) + ")";
    live.columns_.push_back(std::move(live_column));
  }
  sql += " FROM (SELECT * FROM " + db::QuoteIdentifier(table) + " LIMIT " + std::to_string(kSampleRows) + ");";
  std::vector<std::int64_t> held;
  if (reader.QueryInt64Row(sql, held) && held.size() == live.columns_.size() + 1) {
    live.sampledRows_ = held[0];
    for (std::size_t i = 0; i < live.columns_.size(); ++i) live.columns_[i].held = static_cast<Rule>(held[i + 1]);
  }
  return live;
}

int LiveTable::Index(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

bool LiveTable::HasShape(std::size_t columnCount,
                         std::initializer_list<std::pair<std::size_t, const char*>> named) const {
  if (columns_.size() != columnCount) return false;
  return std::all_of(named.begin(), named.end(), [this](const auto& column) {
    return column.first < columns_.size() && columns_[column.first].name == column.second;
  });
}

Rule LiveTable::RuleOf(const LiveColumn& column) const {
  if (column.primaryKey) return kNull;
  // A column every live row leaves NULL tells nothing of what a deleted
  // row held there (most rows deleted, or a field few rows fill): its
  // declared type decides, as for a table without live rows.
  if (sampledRows_ == 0 || column.held == kNull) return DeclaredRule(column.declaredType);
  // Integers of any size: the live rows' sizes say little about a deleted
  // row's.
  Rule rule = column.held & ~kIntegers;
  if ((column.held & kIntegers) != 0) rule |= kIntegers;
  return rule;
}

int LiveTable::AnchorColumn() const {
  int best = -1;
  std::tuple<bool, int, int> bestKey;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const LiveColumn& column = columns_[i];
    if (column.primaryKey) continue;
    const Rule anchorRule = (sampledRows_ > 0 ? column.held : DeclaredRule(column.declaredType)) & ~kNull;
    const std::vector<int> triggers = TriggersOf(anchorRule);
    if (triggers.empty()) continue;
    int cost = 0;
    for (int byte : triggers) cost += TriggerCost(byte);
    // Without live rows nothing tells a telling column: the first one
    // declared NOT NULL, else the first.
    if (sampledRows_ == 0) cost = column.notNull ? 0 : 1;
    const bool mayBeNull = sampledRows_ > 0 ? (column.held & kNull) != 0 : !column.notNull;
    const std::tuple<bool, int, int> key{mayBeNull, cost, static_cast<int>(i)};
    if (best < 0 || key < bestKey) {
      best = static_cast<int>(i);
      bestKey = key;
    }
  }
  return best;
}

db::undark::Layout LiveTable::DeletedRowLayout() const {
  const int columns = static_cast<int>(columns_.size());
  const int anchor = AnchorColumn();
  // A table of NULL-only columns has nothing to find its rows by: the
  // layout without a trigger is refused by the scan.
  if (anchor < 0) return db::undark::LayoutBuilder::Anchored(columns, 0, {}).Build();
  db::undark::LayoutBuilder builder = db::undark::LayoutBuilder::Anchored(columns, anchor, {});
  for (int i = 0; i < columns; ++i) {
    const LiveColumn& column = columns_[static_cast<std::size_t>(i)];
    if (column.primaryKey) {
      builder.PrimaryKey(i);
    } else {
      builder.Column({i}, RuleOf(column));
    }
  }
  db::undark::Layout layout = builder.Build();
  // The anchor takes exactly the serial types its live rows hold: a date's
  // size, a UUID's text; each is a start byte.
  const LiveColumn& anchored = columns_[static_cast<std::size_t>(anchor)];
  const Rule anchorRule = (sampledRows_ > 0 ? anchored.held : DeclaredRule(anchored.declaredType)) & ~kNull;
  layout.rules[static_cast<std::size_t>(anchor)] = anchorRule;
  for (int byte : TriggersOf(anchorRule)) layout.trigger[static_cast<std::size_t>(byte)] = true;
  layout.textsMustDecode = true;
  return layout;
}

bool LiveTable::Fits(const db::undark::UndarkRow& row) const {
  if (row.size() != columns_.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const db::undark::UndarkValue& value = row[i];
    if (value.type != db::undark::kTypeText) continue;
    if (value.text.find('\0') != std::string::npos || !db::IsValidUtf8(value.text)) return false;
    const Rule held = columns_[i].held;
    const bool uuids = (held & db::undark::kUuid) != 0 && (held & db::undark::kText) == 0;
    if (uuids && !db::IsUuidText(value.text)) return false;
  }
  return true;
}

}  // namespace readers
