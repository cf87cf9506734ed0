#include "testing/sample_calls.h"

#include <cstdio>

#include "testing/sql_literal.h"

namespace sample {
namespace {

// Core Data numbers its entities; the call log's CallRecord is entity 2
// (entity 1 is the store's meta information).
constexpr int kCallRecordEntity = 2;

std::string BlobOrNull(const std::string& bytes) {
  if (bytes.empty()) return "NULL";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    literal += kHex[byte >> 4];
    literal += kHex[byte & 0x0F];
  }
  return literal + "'";
}

// A UUID in the phone's upper-case form, made from a number so the samples
// are the same on every run.
std::string Uuid(std::uint64_t seed, std::uint32_t variant) {
  const std::uint64_t mixed = (seed + 1) * 0x9E3779B97F4A7C15ull ^ variant;
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-A%03X-%012llX", static_cast<unsigned>(mixed >> 32),
                static_cast<unsigned>((mixed >> 16) & 0xFFFF), static_cast<unsigned>(mixed & 0xFFF),
                static_cast<unsigned>(variant & 0xFFF),
                static_cast<unsigned long long>(mixed & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace

int CallRecordColumns(CallStoreShape shape) { return shape == CallStoreShape::k21Columns ? 21 : 23; }

std::string CallHistorySchemaSql(CallStoreShape shape) {
  std::string sql =
      "CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZANSWERED INTEGER, "
      "ZCALL_CATEGORY INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, "
      "ZHANDLE_TYPE INTEGER, ZNUMBER_AVAILABILITY INTEGER, ZORIGINATED INTEGER, ZREAD INTEGER, "
      "ZDATE TIMESTAMP, ZDURATION FLOAT, ";
  if (shape == CallStoreShape::k21Columns) {
    sql +=
        "ZDEVICE_ID VARCHAR, ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, "
        "ZSERVICE_PROVIDER VARCHAR, ZUNIQUE_ID VARCHAR, ZADDRESS BLOB );\n";
  } else {
    sql +=
        "ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR, "
        "ZUNIQUE_ID VARCHAR, ZPARTICIPANT_GROUP_UUID VARCHAR, ZLOCAL_PARTICIPANT_UUID VARCHAR, ZADDRESS BLOB, "
        "ZREMOTE_PARTICIPANT_HANDLES BLOB );\n";
  }
  sql +=
      "CREATE INDEX ZCALLRECORD_ZDATE_INDEX ON ZCALLRECORD (ZDATE);\n"
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
      "INSERT INTO Z_METADATA VALUES (1, '" + Uuid(0, 0xC0) + "', NULL);\n";
  return sql;
}

std::string CallInsertSql(CallStoreShape shape, std::int64_t pk, const SampleCall& call) {
  const auto seed = static_cast<std::uint64_t>(pk);
  std::string sql = "INSERT INTO ZCALLRECORD VALUES (" + std::to_string(pk) + ", " +
                    std::to_string(kCallRecordEntity) + ", 1, " + (call.answered ? "1" : "0") +
                    ", 1, 1, " + (call.answered ? "0" : "6") + ", NULL, 2, 0, " + (call.outgoing ? "1" : "0") +
                    ", 1, " + SqlReal(call.appleSeconds) + ", " + SqlReal(call.durationSeconds) + ", ";
  if (shape == CallStoreShape::k21Columns) sql += "NULL, ";
  sql += "'cn', " + SqlTextOrNull(call.location) + ", " + SqlTextOrNull(call.name) + ", 'com.apple.Telephony', '" +
         Uuid(seed, 0xCA1) + "', ";
  if (shape == CallStoreShape::k21Columns) {
    sql += BlobOrNull(call.address);
  } else {
    sql += "'" + Uuid(seed, 0x6F0) + "', NULL, " + BlobOrNull(call.address) + ", NULL";
  }
  return sql + ");\n";
}

std::string CallHistorySql(CallStoreShape shape, const std::vector<SampleCall>& calls) {
  std::string sql = CallHistorySchemaSql(shape);
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (1, 'CallDBMetaInfo', 0, 1);\n";
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kCallRecordEntity) + ", 'CallRecord', 0, " +
         std::to_string(calls.size()) + ");\n";
  for (std::size_t i = 0; i < calls.size(); ++i) sql += CallInsertSql(shape, static_cast<std::int64_t>(i + 1), calls[i]);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].deleted) sql += "DELETE FROM ZCALLRECORD WHERE Z_PK = " + std::to_string(i + 1) + ";\n";
  }
  return sql;
}

std::vector<SampleCall> SampleCallLog() {
  // 626000000 is 2020-11-02 08:53:20 UTC.
  return {
      {626000000.418, 64, "+8613812345678", "", "北京", false, true, false},
      {626003511.907, 0, "13900001111", "", "上海", false, false, false},
      {626010245.261, 183.5, "10086", "", "", true, true, false},
      {626090002.733, 12, "+8613812345678", "", "北京", true, true, true},
      {626177321.051, 0, "02161234567", "", "上海", true, false, false},
      {626260870.588, 421, "+14155550123", "", "United States", false, true, false},
      {626351200.112, 35, "13700002222", "王芳", "广州", false, true, true},
      {626402993.675, 9, "13900001111", "", "上海", true, true, false},
      {626488011.394, 0, "95588", "", "", false, false, true},
      {626570480.029, 248, "+8613812345678", "", "北京", false, true, false},
      {626655555.555, 71, "13600003333", "", "深圳", true, true, false},
      {626740001.806, 5, "10086", "", "", true, true, false},
  };
}

std::vector<SampleCall> SampleNewestCalls() {
  return {
      SampleCallLog().back(),
      {626826402.217, 97, "13800138000", "", "北京", false, true, false},
  };
}

}  // namespace sample
