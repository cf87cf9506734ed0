#include "testing/sqlite_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "testing/sample_backup.h"

namespace {

using sample::Affinity;
using sample::RecordColumn;
using sample::RecordValue;

using Bytes = std::vector<std::uint8_t>;

bool Holds(const Bytes& file, const Bytes& part) {
  return std::search(file.begin(), file.end(), part.begin(), part.end()) != file.end();
}

struct ValueCase {
  const char* name;
  const char* declaredType;
  RecordValue value;
};

// Each value in its own row beside a marker text, so that the record is
// found only where SQLite wrote that row.
const ValueCase kValueCases[] = {
    {"zero", "INTEGER", RecordValue::Integer(0)},
    {"one", "INTEGER", RecordValue::Integer(1)},
    {"minus_one", "INTEGER", RecordValue::Integer(-1)},
    {"byte_edge", "INTEGER", RecordValue::Integer(127)},
    {"two_bytes", "INTEGER", RecordValue::Integer(128)},
    {"three_bytes", "INTEGER", RecordValue::Integer(-8388608)},
    {"four_bytes", "INTEGER", RecordValue::Integer(8388608)},
    {"six_bytes", "INTEGER", RecordValue::Integer(2147483648LL)},
    {"six_bytes_edge", "INTEGER", RecordValue::Integer((1LL << 47) - 1)},
    {"eight_bytes", "INTEGER", RecordValue::Integer(1LL << 47)},
    {"apple_nanoseconds", "INTEGER", RecordValue::Integer(660000000123456789LL)},
    {"integral_real_in_integer", "INTEGER", RecordValue::Real(2.0)},
    {"fraction_in_integer", "INTEGER", RecordValue::Real(2.5)},
    {"number_text_in_integer", "INTEGER", RecordValue::Text(" 42 ")},
    {"real_text_in_integer", "INTEGER", RecordValue::Text("4.0")},
    {"word_in_integer", "INTEGER", RecordValue::Text("+86 138")},
    {"integral_real_in_timestamp", "TIMESTAMP", RecordValue::Real(631152000.0)},
    {"fraction_in_timestamp", "TIMESTAMP", RecordValue::Real(631152000.25)},
    {"integral_real_in_real", "REAL", RecordValue::Real(3.0)},
    {"integer_in_float", "FLOAT", RecordValue::Integer(5)},
    {"fraction_in_real", "REAL", RecordValue::Real(2.25)},
    {"number_text_in_real", "REAL", RecordValue::Text("1.5")},
    {"integer_in_varchar", "VARCHAR", RecordValue::Integer(42)},
    {"text_in_varchar", "VARCHAR", RecordValue::Text("短信 text")},
    {"integral_real_in_blob", "BLOB", RecordValue::Real(7.0)},
    {"number_text_in_blob", "BLOB", RecordValue::Text("42")},
    {"blob", "BLOB", RecordValue::Blob(std::string("\x00\x01\xFF", 3))},
    {"empty_blob", "", RecordValue::Blob("")},
    {"null", "INTEGER", RecordValue::Null()},
};

// SQLite writes every value as the serialiser says, after the column's
// affinity: the whole record is in the file.
TEST(SqliteRecord, MatchesWhatSqliteWrites) {
  std::string sql;
  for (std::size_t i = 0; i < std::size(kValueCases); ++i) {
    const ValueCase& c = kValueCases[i];
    const std::string table = std::string("t_") + c.name;
    sql += "CREATE TABLE " + table + " (id INTEGER PRIMARY KEY, value " + c.declaredType + ", marker TEXT);";
    sql += "INSERT INTO " + table + " VALUES (" + std::to_string(i + 1) + ", " + sample::RecordValueSql(c.value) +
           ", 'marker of " + c.name + "');";
  }
  const sample::SqliteFile database(sql);
  const Bytes file = database.DatabaseBytes();
  for (const ValueCase& c : kValueCases) {
    SCOPED_TRACE(c.name);
    const Bytes record = sample::SqliteRecord(
        {RecordValue::Integer(1), c.value, RecordValue::Text(std::string("marker of ") + c.name)},
        {{Affinity::kInteger, true}, {sample::AffinityOf(c.declaredType), false}, {Affinity::kText, false}});
    EXPECT_TRUE(Holds(file, record));
  }
}

TEST(SqliteRecord, AffinityFollowsSqlitesOrderOfRules) {
  EXPECT_EQ(sample::AffinityOf("INTEGER"), Affinity::kInteger);
  EXPECT_EQ(sample::AffinityOf("FLOATING POINT"), Affinity::kInteger);  // "INT" comes first
  EXPECT_EQ(sample::AffinityOf("VARCHAR(255)"), Affinity::kText);
  EXPECT_EQ(sample::AffinityOf(""), Affinity::kBlob);
  EXPECT_EQ(sample::AffinityOf("double"), Affinity::kReal);
  EXPECT_EQ(sample::AffinityOf("TIMESTAMP"), Affinity::kNumeric);
  EXPECT_EQ(sample::AffinityOf("BOOLEAN"), Affinity::kNumeric);
  EXPECT_THROW(sample::SqliteRecord({RecordValue::Real(1.5)}, {{Affinity::kText, false}}), std::invalid_argument);
}

// A table of 140 columns has a header of more than 126 bytes, whose size
// takes two bytes; a row deleted with secure_delete off keeps its bytes
// from the second serial type on.
TEST(SqliteRecord, WideRowAndWhatADeletedRowKeeps) {
  std::string columns = "id INTEGER PRIMARY KEY";
  std::vector<RecordColumn> shape = {{Affinity::kInteger, true}};
  for (int i = 1; i < 140; ++i) {
    columns += ", c" + std::to_string(i) + (i % 2 == 0 ? " INTEGER" : " TEXT");
    shape.push_back({i % 2 == 0 ? Affinity::kInteger : Affinity::kText, false});
  }
  auto row = [&shape](int id) {
    std::vector<RecordValue> values = {RecordValue::Integer(id)};
    for (std::size_t i = 1; i < shape.size(); ++i) {
      values.push_back(shape[i].affinity == Affinity::kInteger ? RecordValue::Integer(id * 1000 + static_cast<int>(i))
                                                               : RecordValue::Text("row " + std::to_string(id)));
    }
    return values;
  };
  auto insert = [](const std::vector<RecordValue>& values) {
    std::string sql = "INSERT INTO wide VALUES (";
    for (std::size_t i = 0; i < values.size(); ++i) sql += (i == 0 ? "" : ", ") + sample::RecordValueSql(values[i]);
    return sql + ");";
  };
  const sample::SqliteFile database("PRAGMA secure_delete=OFF; CREATE TABLE wide (" + columns + ");" +
                                    insert(row(1)) + insert(row(2)) + insert(row(3)) + "DELETE FROM wide WHERE id = 2;");
  const Bytes file = database.DatabaseBytes();
  const Bytes live = sample::SqliteRecord(row(1), shape);
  ASSERT_GT(live.size(), 300u);
  EXPECT_EQ(live[0], 0x81);  // a two-byte header size
  EXPECT_TRUE(Holds(file, live));
  const Bytes deleted = sample::SqliteRecord(row(2), shape);
  const std::size_t kept = sample::SecondSerialTypeOffset(deleted);
  EXPECT_EQ(kept, 3u);  // two bytes of header size, one of the rowid's NULL
  EXPECT_TRUE(Holds(file, Bytes(deleted.begin() + static_cast<std::ptrdiff_t>(kept), deleted.end())));
}

}  // namespace
