#include "db/undark/undark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include "platform/fs.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using db::undark::LayoutColumnCount;
using db::undark::UndarkRow;
using db::undark::UndarkRowList;
using db::undark::UndarkScan;
using db::undark::UndarkScanBytes;
using db::undark::UndarkValue;
using db::undark::UndarkValueToInt64;
using Bytes = std::vector<std::uint8_t>;

constexpr std::array<int, 20> kLayouts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22};

bool RecoversRowId(int layout) { return layout == 2 || layout == 21 || layout == 22; }

// ---- Values as the scan should give them ----

UndarkValue Value(std::uint8_t type, std::string text, std::int64_t number, double real = 0) {
  UndarkValue value;
  value.type = type;
  value.text = std::move(text);
  value.number = number;
  value.real = real;
  return value;
}
UndarkValue NullValue() { return Value(db::undark::kTypeNull, "", -1); }
UndarkValue RowIdValue(std::string text) { return Value(db::undark::kTypeRowId, std::move(text), -1); }
UndarkValue IntValue(std::uint8_t type, std::int64_t number) { return Value(type, std::to_string(number), number); }
UndarkValue DoubleValue(double real) {
  char text[400];
  std::snprintf(text, sizeof text, "%f", real);
  return Value(db::undark::kTypeDouble, text, 0, real);
}
UndarkValue TextValue(std::string text) { return Value(db::undark::kTypeText, std::move(text), -1); }
UndarkValue BlobValue(const Bytes& bytes) {
  return Value(db::undark::kTypeBlob, std::string(bytes.begin(), bytes.end()), -1);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text.substr(0, 60)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return text.size() > 60 ? out + "..." : out;
}

std::string Describe(const UndarkValue& value) {
  const std::string real = value.type == db::undark::kTypeDouble ? ", " + std::to_string(value.real) : "";
  return "{type " + std::to_string(value.type) + ", \"" + Printable(value.text) + "\", " +
         std::to_string(value.number) + real + "}";
}

// A row the scan should produce. The texts of the values at anyTextAt are
// not compared (a deleted cell's row id is overwritten by the free block).
struct ExpectedRow {
  UndarkRow values;
  std::vector<std::size_t> anyTextAt;
};

bool SameValue(const UndarkValue& want, const UndarkValue& got, bool anyText) {
  if (want.type != got.type) return false;
  if (!anyText && want.text != got.text) return false;
  // The number of a double is not defined; its real is.
  if (want.type == db::undark::kTypeDouble) return want.real == got.real;
  return want.number == got.number;
}

std::size_t MatchingValues(const UndarkRow& got, const ExpectedRow& want) {
  std::size_t same = 0;
  for (std::size_t i = 0; i < want.values.size() && i < got.size(); ++i) {
    const bool anyText = std::find(want.anyTextAt.begin(), want.anyTextAt.end(), i) != want.anyTextAt.end();
    if (SameValue(want.values[i], got[i], anyText)) ++same;
  }
  return same;
}

// Readers keep only rows of the count they expect, so only those count.
int CountRows(const UndarkRowList& rows, const ExpectedRow& want) {
  int found = 0;
  for (const UndarkRow& row : rows) {
    if (row.size() == want.values.size() && MatchingValues(row, want) == want.values.size()) ++found;
  }
  return found;
}

::testing::AssertionResult HasRow(const UndarkRowList& rows, const ExpectedRow& want) {
  if (CountRows(rows, want) > 0) return ::testing::AssertionSuccess();
  const UndarkRow* closest = nullptr;
  std::size_t closestScore = 0;
  int sameCount = 0;
  for (const UndarkRow& row : rows) {
    if (row.size() != want.values.size()) continue;
    ++sameCount;
    const std::size_t score = MatchingValues(row, want);
    if (closest == nullptr || score > closestScore) {
      closest = &row;
      closestScore = score;
    }
  }
  auto failure = ::testing::AssertionFailure();
  failure << "no row of " << want.values.size() << " values matches (" << rows.size() << " rows, " << sameCount
          << " of that count)";
  if (closest != nullptr) {
    failure << "; the closest has " << closestScore << " matching values";
    int shown = 0;
    for (std::size_t i = 0; i < want.values.size() && shown < 4; ++i) {
      const bool anyText = std::find(want.anyTextAt.begin(), want.anyTextAt.end(), i) != want.anyTextAt.end();
      if (SameValue(want.values[i], (*closest)[i], anyText)) continue;
      failure << "; value " << i << " want " << Describe(want.values[i]) << " got " << Describe((*closest)[i]);
      ++shown;
    }
  }
  return failure;
}

bool SameRows(const UndarkRowList& a, const UndarkRowList& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (std::size_t j = 0; j < a[i].size(); ++j) {
      const UndarkValue& x = a[i][j];
      const UndarkValue& y = b[i][j];
      // Bits, so that a NaN read from damaged bytes equals itself.
      const bool sameReal = std::bit_cast<std::uint64_t>(x.real) == std::bit_cast<std::uint64_t>(y.real);
      if (x.type != y.type || x.text != y.text || x.number != y.number || !sameReal) return false;
    }
  }
  return true;
}

// ---- Column values, as SQL literals and as the bytes SQLite stores ----
//
// One letter a column says what a row stores there:
//   r  the INTEGER PRIMARY KEY (stored as NULL; the row id stands in)
//   n  NULL            0  the integer 0 (type 8)    1  the integer 1 (type 9)
//   b  1-byte integer  s  2-byte   m  3-byte   i  4-byte   x  6-byte   l  8-byte
//   d  double          t  short text (20-49 bytes, never 36)
//   T  text of 90-109 bytes (a 2-byte serial type)     L  text of 5000 bytes
//   u  36-character UUID text (serial type 85)         B  16-byte BLOB
//   z  the text "Anna", a zero byte, "Lee"

Bytes BigEndian(std::uint64_t value, int width) {
  Bytes bytes;
  for (int i = width - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return bytes;
}

Bytes Varint(std::uint64_t value) {
  Bytes groups;
  do {
    groups.push_back(static_cast<std::uint8_t>(value & 0x7F));
    value >>= 7;
  } while (value != 0);
  Bytes out(groups.rbegin(), groups.rend());
  for (std::size_t i = 0; i + 1 < out.size(); ++i) out[i] |= 0x80;
  return out;
}

std::string TextOf(int row, int column, std::size_t length) {
  static const std::string kWords = "Lin Wei, 88 Hill Road, Taipei; call back after six. ";
  std::string text = "r" + std::to_string(row) + "c" + std::to_string(column) + " ";
  while (text.size() < length) text += kWords[text.size() % kWords.size()];
  return text.substr(0, length);
}

std::size_t TextLength(char kind, int row, int column) {
  if (kind == 'L') return 5000;
  if (kind == 'u') return 36;
  if (kind == 'T') return 90 + static_cast<std::size_t>((row * 3 + column) % 20);
  const std::size_t length = 20 + static_cast<std::size_t>((row * 7 + column * 5) % 30);
  return length == 36 ? 37 : length;
}

std::string Uuid(int row, int column) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-A%03X-%012X", 0x5E1A0000u + static_cast<unsigned>(row),
                static_cast<unsigned>(column), static_cast<unsigned>(row % 4096),
                static_cast<unsigned>(column % 4096), 0xC0FFEE00u + static_cast<unsigned>(row * 256 + column));
  return text;
}

struct Sample {
  std::string sql;
  std::uint64_t serialType = 0;
  Bytes body;
  UndarkValue expected;
};

Sample IntSample(std::uint64_t serialType, int width, std::int64_t value) {
  return {std::to_string(value), serialType, BigEndian(static_cast<std::uint64_t>(value), width),
          IntValue(static_cast<std::uint8_t>(serialType), value)};
}

Sample TextSample(const std::string& text) {
  return {"'" + text + "'", 13 + 2 * text.size(), Bytes(text.begin(), text.end()), TextValue(text)};
}

// The value of a column for row (which also picks the value, so that rows
// differ), as SQLite would store it.
Sample MakeSample(char kind, int row, int column, std::int64_t rowId) {
  const int r = row % 64;  // keeps each integer kind within its serial type
  switch (kind) {
    case 'r': return {std::to_string(rowId), 0, {}, RowIdValue("0")};
    case 'n': return {"NULL", 0, {}, NullValue()};
    case '0': return {"0", 8, {}, IntValue(8, 0)};
    case '1': return {"1", 9, {}, IntValue(9, 1)};
    case 'b': return IntSample(1, 1, 10 + (r * 13 + column * 7) % 110);
    case 's': return IntSample(2, 2, -(200 + r * 97 + column * 31));
    case 'm': return IntSample(3, 3, 100000 + r * 1009 + column * 17);
    case 'i': return IntSample(4, 4, 1600000000 + r * 100003 + column * 7);
    case 'x': return IntSample(5, 6, 1000000000000 + r * 7 + column);
    case 'l': return IntSample(6, 8, -9000000000000000000 + r * 11 + column);
    case 'd': {
      const double real = 1000.375 + r * 10 + column;
      char sql[64];
      std::snprintf(sql, sizeof sql, "%.3f", real);
      return {sql, 7, BigEndian(std::bit_cast<std::uint64_t>(real), 8), DoubleValue(real)};
    }
    case 'u': return TextSample(Uuid(row, column));
    case 'z': {
      const std::string text("Anna\0Lee", 8);
      return {"CAST(X'416E6E61004C6565' AS TEXT)", 13 + 2 * text.size(), Bytes(text.begin(), text.end()),
              TextValue(text)};
    }
    case 'B': {
      Bytes blob;
      std::string sql = "X'";
      for (int i = 0; i < 16; ++i) {
        blob.push_back(static_cast<std::uint8_t>((r * 31 + column * 7 + i * 13) & 0xFF));
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", blob.back());
        sql += hex;
      }
      return {sql + "'", 12 + 2 * blob.size(), blob, BlobValue(blob)};
    }
    default: return TextSample(TextOf(row, column, TextLength(kind, row, column)));
  }
}

// Kinds for a table of `columns` columns: `fixed` where the layout's rules
// ask for a kind, `filler` (repeated) everywhere else.
std::string Kinds(int columns, const std::string& filler, const std::vector<std::pair<int, char>>& fixed) {
  std::string kinds;
  for (int i = 0; i < columns; ++i) kinds += filler[static_cast<std::size_t>(i) % filler.size()];
  for (const auto& [column, kind] : fixed) kinds[static_cast<std::size_t>(column)] = kind;
  return kinds;
}

const std::string kFiller = "tbsmixldn01Bu";
// The notes tables are wide and mostly empty; so are their rows here, so that
// five of them fit on one page.
const std::string kSparseFiller = "nbn0tn1nsnmndn";

std::string CreateSql(const std::string& table, const std::string& kinds) {
  std::string sql = "CREATE TABLE " + table + " (c0" + (kinds[0] == 'r' ? " INTEGER PRIMARY KEY" : "");
  for (std::size_t i = 1; i < kinds.size(); ++i) sql += ", c" + std::to_string(i);
  return sql + ");\n";
}

std::string InsertSql(const std::string& table, const std::string& kinds, int row, std::int64_t rowId) {
  std::string columns = kinds[0] == 'r' ? "" : "rowid, ";
  std::string values = kinds[0] == 'r' ? "" : std::to_string(rowId) + ", ";
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    columns += (i == 0 ? "c" : ", c") + std::to_string(i);
    values += (i == 0 ? "" : ", ") + MakeSample(kinds[i], row, static_cast<int>(i), rowId).sql;
  }
  return "INSERT INTO " + table + " (" + columns + ") VALUES (" + values + ");\n";
}

ExpectedRow ExpectedOf(const std::string& kinds, int row, std::int64_t rowId) {
  ExpectedRow want;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    want.values.push_back(MakeSample(kinds[i], row, static_cast<int>(i), rowId).expected);
  }
  return want;
}

// ---- Records built byte by byte ----

struct Column {
  std::uint64_t serialType = 0;
  Bytes body;
  Bytes typeBytes;  // the serial type as written; empty for the shortest varint
};

std::vector<Column> ColumnsOf(const std::string& kinds, int row) {
  std::vector<Column> columns;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    Sample sample = MakeSample(kinds[i], row, static_cast<int>(i), 0);
    columns.push_back({sample.serialType, std::move(sample.body), {}});
  }
  return columns;
}

// Header-size varint, serial types, body.
Bytes RecordBytes(const std::vector<Column>& columns) {
  Bytes types;
  Bytes body;
  for (const Column& column : columns) {
    const Bytes type = column.typeBytes.empty() ? Varint(column.serialType) : column.typeBytes;
    types.insert(types.end(), type.begin(), type.end());
    body.insert(body.end(), column.body.begin(), column.body.end());
  }
  std::uint64_t headerSize = types.size() + 1;
  if (Varint(headerSize).size() > 1) headerSize = types.size() + Varint(types.size() + 2).size();
  Bytes record = Varint(headerSize);
  record.insert(record.end(), types.begin(), types.end());
  record.insert(record.end(), body.begin(), body.end());
  return record;
}

// A database image of zero bytes but for the magic text and the page size,
// so that whatever the scan finds is what a test wrote into it.
class Image {
 public:
  Image(int pageSize, int pages)
      : pageSize_(static_cast<std::size_t>(pageSize)), bytes_(pageSize_ * static_cast<std::size_t>(pages), 0) {
    const std::string magic = "SQLite format 3";
    std::copy(magic.begin(), magic.end(), bytes_.begin());
    bytes_[16] = static_cast<std::uint8_t>(pageSize >> 8);
    bytes_[17] = static_cast<std::uint8_t>(pageSize & 0xFF);
  }
  // Page numbers count from 1, as in the file format.
  std::size_t PageStart(int page) const { return pageSize_ * static_cast<std::size_t>(page - 1); }
  void Put(std::size_t offset, const Bytes& data) {
    ASSERT_LE(offset + data.size(), bytes_.size());
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  void Fill(std::size_t offset, std::size_t length, std::uint8_t byte) { Put(offset, Bytes(length, byte)); }
  const Bytes& bytes() const { return bytes_; }

 private:
  std::size_t pageSize_;
  Bytes bytes_;
};

UndarkRowList Scan(const Bytes& bytes, int layout, int expectedColumns = -1) {
  UndarkRowList rows;
  EXPECT_TRUE(UndarkScanBytes(bytes, layout, expectedColumns, rows).Ok()) << "layout " << layout;
  return rows;
}

void WriteFile(const fs::path& path, const Bytes& bytes) { sample::WriteBytes(path, bytes); }

// ---- Tables of each layout's shape, live and deleted rows ----

struct TableShape {
  std::string name;
  int layout;
  std::string kinds;
};

// Row ids of the rows every shape test writes; 20000 takes a 3-byte varint.
// One deleted row sits between live cells (its first four bytes become a
// free-block header), the other at the start of the cell area.
struct PlantedRow {
  std::int64_t rowId;
  bool deleted;
};
constexpr std::array<PlantedRow, 5> kPlanted = {{{101, false}, {102, true}, {20000, false}, {104, false}, {105, true}}};

std::string PlantedTableSql(const std::string& table, const std::string& kinds) {
  std::string sql = CreateSql(table, kinds);
  std::string deleted;
  for (std::size_t i = 0; i < kPlanted.size(); ++i) {
    sql += InsertSql(table, kinds, static_cast<int>(i), kPlanted[i].rowId);
    if (kPlanted[i].deleted) deleted += (deleted.empty() ? "" : ", ") + std::to_string(kPlanted[i].rowId);
  }
  return sql + "DELETE FROM " + table + " WHERE rowid IN (" + deleted + ");\n";
}

ExpectedRow PlantedExpected(const TableShape& shape, std::size_t index) {
  const PlantedRow& planted = kPlanted[index];
  ExpectedRow want = ExpectedOf(shape.kinds, static_cast<int>(index), planted.rowId);
  if (shape.kinds[0] == 'r' && RecoversRowId(shape.layout)) {
    if (planted.deleted) {
      want.anyTextAt.push_back(0);
    } else {
      want.values[0].text = std::to_string(planted.rowId);
    }
  }
  return want;
}

// One table per layout (two for layout 21), its columns where the layout's
// rules ask for a kind of value as those rules allow, the others filled.
std::vector<TableShape> Shapes() {
  return {
      {"QqSearchIndex", 0, "rbtis0dmtx1nn"},
      {"WeChatFtsContents", 1, "rbsit0nn"},
      {"WeChatFtsNames", 2, "r0tbs1"},
      {"QqMessages", 3,
       Kinds(51, kFiller, {{0, 'r'}, {1, 't'}, {2, 'i'}, {3, '0'}, {4, '1'}, {5, '1'}, {7, '0'}, {8, '0'}, {9, '0'}})},
      {"QqGroupMessages", 4,
       Kinds(25, kFiller, {{0, 'r'}, {1, 'i'}, {2, 's'}, {3, 'i'}, {4, '1'}, {7, '0'}, {8, '1'}})},
      {"NoteData", 5, "rb1bnnB"},
      {"ContactSearch", 7, Kinds(26, "tnttt", {{0, 'r'}, {1, 't'}, {17, 'i'}})},
      {"Messages", 8, Kinds(60, kFiller, {{0, 'r'}, {1, 'u'}, {5, 'b'}, {13, 'u'}, {15, 'l'}, {16, '0'}})},
      {"CallRecords", 9, Kinds(21, kFiller, {{0, 'r'}, {1, 'b'}, {12, 'd'}, {18, 't'}, {19, 'u'}})},
      {"SafariVisits", 10, "rmdt100nnbb0d"},
      // No 4-byte integer among columns 1-4, so that the 4 at column 5 is the
      // trigger of the attempt at column 1.
      {"CalendarItems", 12,
       Kinds(67, "tbsmxldn01Bu",
             {{0, 'r'}, {1, 't'}, {2, 'b'}, {3, 'n'}, {4, 'd'}, {5, 'i'}, {7, 'i'}, {20, 'd'}, {25, 't'}, {27, 'u'},
              {35, 'u'}})},
      {"WeChatFriends", 13, "tb01tBBBBBBBBnBB"},
      {"NoteObjects106", 14,
       Kinds(106, kSparseFiller,
             {{0, 'r'}, {1, 'b'}, {2, 's'}, {3, '1'}, {4, '0'}, {5, 'b'}, {6, '0'}, {7, '1'}, {10, 'b'}, {58, 'd'},
              {60, 'n'}, {61, 's'}, {62, 'i'}, {64, 'b'}, {67, 't'}, {74, 'u'}})},
      {"NoteObjects119", 15,
       Kinds(119, kSparseFiller,
             {{0, 'r'}, {1, '1'}, {2, 'b'}, {3, 'b'}, {4, '0'}, {5, '1'}, {6, 'b'}, {7, '0'}, {10, '1'}, {65, 'd'},
              {68, 'b'}, {70, 'n'}, {71, 's'}, {72, 'n'}, {74, 'd'}, {77, 't'}, {84, 'n'}})},
      {"NoteObjects134", 16,
       Kinds(134, kSparseFiller,
             {{0, 'r'}, {1, 's'}, {2, '0'}, {3, 'b'}, {4, '1'}, {5, '0'}, {6, '1'}, {7, 'b'}, {10, '0'}, {68, 'd'},
              {71, 'n'}, {73, 'b'}, {74, 's'}, {75, 'd'}, {76, 'i'}, {78, 'n'}, {81, 't'}, {94, 'u'}})},
      {"WhatsAppMessages", 17, Kinds(34, kFiller, {{0, 'r'}, {1, 'b'}, {25, 'd'}, {31, 't'}})},
      {"WeChatFriendsByType", 18, "mtb0tnBBBBBt1nit"},
      {"WeChatSessions", 19, "tib0mTB"},
      {"SafariItemsLongUrl", 21, "rTnsBnb0i"},
      {"SafariItemsWithDomain", 21, "rtt1nb00m"},
      // Column 17 a text, so that an attempt begun a byte or two early meets
      // it where only NULL, 0 or a text may stand.
      {"AbPerson", 22,
       Kinds(47, "tn",
             {{0, 'r'}, {1, 't'}, {2, 't'}, {10, '0'}, {17, 't'}, {18, 'i'}, {19, 'i'}, {22, '0'}, {24, 'b'},
              {25, 'd'}, {26, 's'}, {27, 'B'}, {28, '1'}, {29, 'u'}, {30, 'x'}, {31, 'n'}, {32, 'm'}, {33, 'l'},
              {46, 'n'}})},
  };
}

TableShape ShapeOf(int layout) {
  for (const TableShape& shape : Shapes()) {
    if (shape.layout == layout) return shape;
  }
  ADD_FAILURE() << "no shape for layout " << layout;
  return {};
}

void PrintTo(const TableShape& shape, std::ostream* out) { *out << "layout " << shape.layout << " " << shape.name; }

class LayoutShapeTest : public ::testing::TestWithParam<TableShape> {};

TEST_P(LayoutShapeTest, FindsLiveAndDeletedRowsWithTheirValues) {
  const TableShape& shape = GetParam();
  ASSERT_EQ(static_cast<int>(shape.kinds.size()), LayoutColumnCount(shape.layout));
  const sample::SqliteFile file(PlantedTableSql("t", shape.kinds));
  const Bytes bytes = file.DatabaseBytes();
  // All rows on one leaf page: a deletion then frees cells without moving
  // any, as it does on a phone's well-filled pages.
  ASSERT_EQ(bytes.size(), 2u * 4096u) << "the table should fit on one page";
  const UndarkRowList rows = Scan(bytes, shape.layout);
  for (std::size_t i = 0; i < kPlanted.size(); ++i) {
    EXPECT_TRUE(HasRow(rows, PlantedExpected(shape, i)))
        << "row id " << kPlanted[i].rowId << (kPlanted[i].deleted ? " (deleted)" : " (live)");
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutShapeTest, ::testing::ValuesIn(Shapes()),
                         [](const ::testing::TestParamInfo<TableShape>& shape) {
                           return "L" + std::to_string(shape.param.layout) + "_" + shape.param.name;
                         });

// Every column rule of every layout turns a record away when its column has
// a serial type the rule does not allow. Each case changes one column of a
// record that is found unchanged (the control on the page before it).
TEST(UndarkLayouts, ColumnRulesTurnRecordsAway) {
  struct Case {
    int layout;
    int column;
    char kind;  // a kind of value the column's rule does not allow
  };
  const Case cases[] = {
      {0, 1, 'i'},  {0, 3, 'm'},  {0, 4, 'b'},  {0, 5, 'n'},  {0, 7, 'x'},  {0, 10, 'b'}, {0, 11, '0'}, {0, 12, 't'},
      {1, 1, 'm'},  {1, 2, 'i'},  {1, 3, 'b'},  {1, 5, 'n'},  {1, 6, 'b'},  {1, 7, 't'},
      {2, 1, 's'},  {2, 2, 'B'},  {2, 2, 'n'},  {2, 3, 's'},  {2, 4, 'm'},  {2, 5, 'i'},
      {3, 3, 'b'},  {3, 4, 'n'},  {3, 5, 's'},  {3, 7, 'i'},  {3, 8, '1'},  {3, 9, 'n'},
      {4, 2, 'b'},  {4, 3, 'x'},  {4, 4, 'n'},  {4, 7, 'b'},  {4, 8, 't'},
      {5, 2, '0'},  {5, 3, 'n'},  {5, 4, 'b'},  {5, 5, 't'},
      {7, 3, 'b'},  {7, 17, 'n'}, {7, 20, 'B'}, {7, 25, '0'},
      {8, 5, 'i'},  {8, 13, 't'}, {8, 15, 'm'}, {8, 16, 'b'},
      {9, 1, 'i'},  {9, 12, 'i'}, {9, 19, 't'},
      {10, 2, 'x'},
      {12, 5, 's'}, {12, 7, 'b'}, {12, 20, 'm'}, {12, 25, 'B'}, {12, 27, 't'}, {12, 35, 'n'},
      {13, 0, 'B'}, {13, 1, 'x'}, {13, 2, 'd'}, {13, 3, 'n'},
      {14, 1, 'm'}, {14, 2, 'i'}, {14, 3, 's'}, {14, 7, 'n'}, {14, 10, 'm'}, {14, 58, 'i'}, {14, 60, '0'},
      {14, 61, 'm'}, {14, 62, 'b'}, {14, 64, '0'}, {14, 67, 'n'}, {14, 74, 't'},
      {15, 3, 's'}, {15, 10, 'm'}, {15, 65, 'x'}, {15, 68, '1'}, {15, 70, 'i'}, {15, 71, 'm'}, {15, 72, 'b'},
      {15, 74, '0'}, {15, 77, 'B'}, {15, 84, 't'},
      {16, 2, 'm'}, {16, 5, 's'}, {16, 68, 'i'}, {16, 71, '1'}, {16, 73, 'x'}, {16, 74, '0'}, {16, 75, 'm'},
      {16, 76, 'd'}, {16, 78, 'i'}, {16, 81, 'n'}, {16, 94, 't'},
      {17, 25, 'b'}, {17, 31, 'n'}, {17, 31, 'B'},
      {18, 5, 'b'},  {18, 12, 'x'}, {18, 13, 't'}, {18, 14, 'd'}, {18, 15, 'B'},
      {19, 0, 'B'},  {19, 2, 'x'},  {19, 5, 'n'},
      {21, 1, 'B'},  {21, 2, 'b'},  {21, 5, 'x'},  {21, 6, 't'},  {21, 7, 'd'},  {21, 8, 'x'},
      {22, 3, 'b'},  {22, 17, 'n'}, {22, 18, 'm'}, {22, 19, 'x'}, {22, 23, 'B'}, {22, 40, '1'}, {22, 45, 'd'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("layout " + std::to_string(c.layout) + ", column " + std::to_string(c.column) + " kind " + c.kind);
    const std::string kinds = ShapeOf(c.layout).kinds;
    std::string changed = kinds;
    ASSERT_NE(changed[static_cast<std::size_t>(c.column)], c.kind);
    changed[static_cast<std::size_t>(c.column)] = c.kind;
    Image image(4096, 4);
    image.Put(image.PageStart(2) + 300, RecordBytes(ColumnsOf(kinds, 0)));
    image.Put(image.PageStart(3) + 300, RecordBytes(ColumnsOf(changed, 0)));
    const UndarkRowList rows = Scan(image.bytes(), c.layout);
    ExpectedRow control = ExpectedOf(kinds, 0, 0);
    ExpectedRow turnedAway = ExpectedOf(changed, 0, 0);
    control.anyTextAt = turnedAway.anyTextAt = {0};
    EXPECT_TRUE(HasRow(rows, control));
    EXPECT_EQ(CountRows(rows, turnedAway), 0);
  }
}

// Layouts 7 and 22 attempt a record only where the two varints from S + 2
// pass the prefix test, even where the column rules would take them.
TEST(UndarkLayouts, PrefixTestOfLayout22) {
  struct Case {
    const char* name;
    char column1;
    char column2;
    bool found;
  };
  const Case cases[] = {{"two texts", 't', 't', true},         {"NULL then a text", 'n', 't', true},
                        {"a text then NULL", 't', 'n', true},  {"both NULL", 'n', 'n', false},
                        {"the constant 0 first", '0', 't', false}, {"the constant 0 second", 't', '0', false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string kinds = ShapeOf(22).kinds;
    kinds[1] = c.column1;
    kinds[2] = c.column2;
    Image image(4096, 3);
    image.Put(image.PageStart(2) + 300, RecordBytes(ColumnsOf(kinds, 0)));
    ExpectedRow want = ExpectedOf(kinds, 0, 0);
    want.anyTextAt = {0};
    EXPECT_EQ(CountRows(Scan(image.bytes(), 22), want), c.found ? 1 : 0);
  }
}

TEST(UndarkLayouts, ColumnCounts) {
  const std::pair<int, int> counts[] = {
      {0, 13},  {1, 8},   {2, 6},   {3, 51},  {4, 25},   {5, 7},    {7, 26},  {8, 60},  {9, 21},  {10, 13},
      {12, 67}, {13, 16}, {14, 106}, {15, 119}, {16, 134}, {17, 34}, {18, 16}, {19, 7}, {21, 9}, {22, 47}};
  for (const auto& [layout, columns] : counts) EXPECT_EQ(LayoutColumnCount(layout), columns) << "layout " << layout;
  for (const int unassigned : {6, 11, 20, 23, -1, 1000}) {
    EXPECT_EQ(LayoutColumnCount(unassigned), 0) << "layout " << unassigned;
  }
}

// ---- Sizes against the page size ----

TEST(UndarkScan, TextSpillingOntoOverflowPagesIsNotRecovered) {
  const std::string kinds = "r0tbs1";
  const std::string longKinds = "r0Lbs1";
  const sample::SqliteFile file(CreateSql("names", kinds) + InsertSql("names", kinds, 0, 101) +
                                InsertSql("names", longKinds, 1, 102));
  const UndarkRowList rows = Scan(file.DatabaseBytes(), 2);
  ExpectedRow shortRow = ExpectedOf(kinds, 0, 101);
  shortRow.values[0].text = "101";
  EXPECT_TRUE(HasRow(rows, shortRow));
  // Whatever the text's bytes came out as, the other values would give the
  // row away.
  ExpectedRow longRow = ExpectedOf(longKinds, 1, 102);
  longRow.anyTextAt = {0, 2};
  EXPECT_EQ(CountRows(rows, longRow), 0);
}

TEST(UndarkScan, AValueMayBeAsLargeAsThePageButNoLarger) {
  struct Case {
    const char* name;
    std::size_t textBytes;
    bool found;
  };
  const Case cases[] = {{"one byte short of the page", 511, true},
                        {"exactly the page", 512, true},
                        {"one byte more than the page", 513, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Column> columns = ColumnsOf("r0tbs1", 0);
    const std::string text = TextOf(0, 2, c.textBytes);
    columns[2] = {13 + 2 * text.size(), Bytes(text.begin(), text.end()), {}};
    Image image(512, 5);
    image.Put(image.PageStart(2) + 300, RecordBytes(columns));
    ExpectedRow want = ExpectedOf("r0tbs1", 0, 0);
    want.values[2] = TextValue(text);
    want.anyTextAt = {0};
    EXPECT_EQ(CountRows(Scan(image.bytes(), 2), want), c.found ? 1 : 0);
  }
}

TEST(UndarkScan, LargePagesAreScannedInTheirOwnSteps) {
  const std::string kinds = "rmdt100nnbb0d";
  const std::string longTitle = "rmdL100nnbb0d";  // 5000 bytes: a whole row only on a page larger than 4096
  constexpr int kRows = 1000;
  std::string sql = "PRAGMA page_size=32768;\n" + CreateSql("history_visits", kinds) + "BEGIN;\n";
  for (int i = 0; i < kRows; ++i) sql += InsertSql("history_visits", kinds, i, 1000 + i);
  sql += InsertSql("history_visits", longTitle, kRows, 1000 + kRows) + "COMMIT;\n";
  const sample::SqliteFile file(sql);
  const Bytes bytes = file.DatabaseBytes();
  ASSERT_EQ(bytes[16], 0x80);
  ASSERT_EQ(bytes[17], 0x00);
  ASSERT_GE(bytes.size(), 4u * 32768u) << "the rows should fill several pages";

  const UndarkRowList rows = Scan(bytes, 10);
  std::vector<int> missing;
  for (int i = 0; i < kRows; ++i) {
    if (CountRows(rows, ExpectedOf(kinds, i, 1000 + i)) == 0) missing.push_back(i);
  }
  EXPECT_TRUE(missing.empty()) << missing.size() << " of " << kRows << " rows missing, the first row index "
                               << missing.front();
  EXPECT_TRUE(HasRow(rows, ExpectedOf(longTitle, kRows, 1000 + kRows)));
}

// ---- Values ----

TEST(UndarkValues, DecodeByTypeCode) {
  struct Case {
    const char* name;
    std::uint64_t serialType;
    Bytes body;
    UndarkValue expected;
  };
  const double big = 1e20;
  const Case cases[] = {
      {"2-byte -2", 2, {0xFF, 0xFE}, IntValue(2, -2)},
      {"6-byte 10^12", 5, BigEndian(1000000000000, 6), IntValue(5, 1000000000000)},
      {"6-byte -2", 5, BigEndian(static_cast<std::uint64_t>(-2), 6), IntValue(5, -2)},
      {"1-byte -128", 1, {0x80}, IntValue(1, -128)},
      {"3-byte lowest", 3, {0x80, 0x00, 0x00}, IntValue(3, -8388608)},
      {"4-byte -1", 4, {0xFF, 0xFF, 0xFF, 0xFF}, IntValue(4, -1)},
      {"4-byte highest", 4, {0x7F, 0xFF, 0xFF, 0xFF}, IntValue(4, 2147483647)},
      {"8-byte lowest", 6, BigEndian(0x8000000000000000u, 8), IntValue(6, std::numeric_limits<std::int64_t>::min())},
      {"8-byte highest", 6, BigEndian(0x7FFFFFFFFFFFFFFFu, 8), IntValue(6, std::numeric_limits<std::int64_t>::max())},
      {"double", 7, BigEndian(std::bit_cast<std::uint64_t>(3.25), 8), DoubleValue(3.25)},
      {"negative double", 7, BigEndian(std::bit_cast<std::uint64_t>(-0.5), 8), Value(7, "-0.500000", 0, -0.5)},
      {"large double", 7, BigEndian(std::bit_cast<std::uint64_t>(big), 8),
       Value(7, "100000000000000000000.000000", 0, big)},
      {"constant 0", 8, {}, Value(8, "0", 0)},
      {"constant 1", 9, {}, Value(9, "1", 1)},
      {"NULL", 0, {}, Value(0, "", -1)},
      {"text", 13 + 2 * 5, {'H', 'e', 'l', 'l', 'o'}, TextValue("Hello")},
      {"text with a zero byte", 13 + 2 * 3, {'a', 0, 'b'}, TextValue(std::string("a\0b", 3))},
      {"UTF-8 text", 13 + 2 * 6, {0xE6, 0x9D, 0x8E, 0xE6, 0x98, 0x8E}, TextValue("\xE6\x9D\x8E\xE6\x98\x8E")},
      {"empty text", 13, {}, TextValue("")},
      {"blob", 12 + 2 * 3, {0x01, 0x00, 0xFF}, Value(12, std::string("\x01\x00\xFF", 3), -1)},
      {"empty blob", 12, {}, Value(12, "", -1)},
  };
  // One WhatsApp message record (layout 17: rules only at columns 1, 25
  // and 31) carries one case in each free column.
  std::vector<Column> columns = ColumnsOf(Kinds(34, "n", {{0, 'r'}, {1, 'b'}, {25, 'i'}, {31, 't'}}), 0);
  std::vector<std::size_t> caseColumn;
  std::size_t column = 2;
  for (const Case& c : cases) {
    if (column == 25 || column == 31) ++column;
    ASSERT_LT(column, columns.size());
    columns[column] = {c.serialType, c.body, {}};
    caseColumn.push_back(column++);
  }
  Image image(4096, 3);
  image.Put(image.PageStart(2) + 1000, RecordBytes(columns));
  const UndarkRowList rows = Scan(image.bytes(), 17);
  const auto row = std::find_if(rows.begin(), rows.end(), [](const UndarkRow& r) { return r.size() == 34; });
  ASSERT_NE(row, rows.end());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const UndarkValue& got = (*row)[caseColumn[i]];
    EXPECT_TRUE(SameValue(cases[i].expected, got, false))
        << "want " << Describe(cases[i].expected) << " got " << Describe(got);
    // A double's text is checked here even though SameValue compares reals.
    EXPECT_EQ(got.text, cases[i].expected.text);
  }
}

TEST(UndarkValues, ToInt64AsTheReadersTakeIt) {
  struct Case {
    const char* name;
    UndarkValue value;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"6-byte integer keeps 64 bits", IntValue(5, 1000000000000), 1000000000000},
      {"negative 6-byte integer", IntValue(5, -1000000000000), -1000000000000},
      {"8-byte integer keeps 64 bits", IntValue(6, std::numeric_limits<std::int64_t>::min()),
       std::numeric_limits<std::int64_t>::min()},
      {"double truncates toward zero", Value(7, "2.900000", 0, 2.9), 2},
      {"negative double truncates toward zero", Value(7, "-2.900000", 0, -2.9), -2},
      {"double beyond 32 bits", Value(7, "30000000000.500000", 0, 30000000000.5), 30000000000},
      {"4-byte integer", IntValue(4, -5), -5},
      {"4-byte highest", IntValue(4, 2147483647), 2147483647},
      {"4-byte type with a wider number keeps the low 32 bits", Value(4, "", 0x1FFFFFFFEll), -2},
      {"3-byte type, low half with the sign bit set", Value(3, "", 0x80000000ll), -2147483648ll},
      {"2-byte integer", IntValue(2, -2), -2},
      {"constant 0", IntValue(8, 0), 0},
      {"constant 1", IntValue(9, 1), 1},
      {"NULL", NullValue(), -1},
      {"text", TextValue("12345"), -1},
      {"blob", BlobValue({1, 2, 3}), -1},
      {"row id", RowIdValue("0"), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(UndarkValueToInt64(c.value), c.expected) << c.name;
}

// ---- Layout pre-steps and header walks ----

TEST(UndarkScan, Layout3TakesColumn1FromTheByteBeforeTheTrigger) {
  struct Case {
    const char* name;
    std::uint8_t byteBefore;
    bool found;
    std::size_t textBytes;  // (byte - 13) / 2, truncated
  };
  const Case cases[] = {
      {"12 (an empty BLOB's type) gives an empty text", 12, true, 0},
      {"13 gives an empty text", 13, true, 0},
      {"14 (even) gives an empty text", 14, true, 0},
      {"17 gives a text of 2 bytes", 17, true, 2},
      {"127 gives a text of 57 bytes", 127, true, 57},
      {"11 is not a text", 11, false, 0},
      {"0 (NULL) is not a text", 0, false, 0},
  };
  const std::string kinds = Kinds(51, kFiller, {{0, 'r'}, {1, 'n'}, {2, 'i'}, {3, '0'}, {4, '1'}, {5, '1'},
                                               {7, '0'}, {8, '0'}, {9, '0'}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Column> columns = ColumnsOf(kinds, 0);
    const std::string text = TextOf(0, 1, c.textBytes);
    columns[1] = {c.byteBefore, Bytes(text.begin(), text.end()), {}};
    Image image(4096, 3);
    image.Put(image.PageStart(2) + 600, RecordBytes(columns));
    ExpectedRow want = ExpectedOf(kinds, 0, 0);
    want.values[1] = TextValue(text);
    EXPECT_EQ(CountRows(Scan(image.bytes(), 3), want), c.found ? 1 : 0);
  }
}

TEST(UndarkScan, Layout9SwitchesToItsSecondModeForTheRestOfThePage) {
  // The first-mode table (21 columns, UUID at 19) and the second-mode one
  // (23 columns, UUID at 18).
  const std::string second = Kinds(23, kFiller, {{0, 'r'}, {1, 'b'}, {12, 'd'}, {18, 'u'}, {19, 'b'}});
  const std::string first = Kinds(21, kFiller, {{0, 'r'}, {1, 'b'}, {12, 'd'}, {18, 't'}, {19, 'u'}});
  const std::string first22 = Kinds(22, kFiller, {{0, 'r'}, {1, 'b'}, {12, 'd'}, {18, 't'}, {19, 'u'}});
  struct Record {
    int page;
    std::size_t offset;
    const std::string* kinds;
    bool found;  // with all its values
  };
  struct Case {
    const char* name;
    int expectedColumns;
    std::vector<Record> records;
  };
  const Case cases[] = {
      {"the first 85 at column 18 switches; later records need it too",
       -1,
       {{2, 200, &second, true}, {2, 1200, &second, true}, {2, 2200, &first, false}}},
      {"records before the switch keep the first mode", -1, {{2, 200, &first, true}, {2, 1200, &second, true}}},
      {"the next page starts in the first mode", -1, {{2, 200, &second, true}, {3, 200, &first, true}}},
      {"the next page starts with the expected count", 22, {{2, 200, &second, true}, {3, 200, &first22, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image(4096, 4);
    std::vector<ExpectedRow> wants;
    for (std::size_t i = 0; i < c.records.size(); ++i) {
      const Record& record = c.records[i];
      const Bytes bytes = RecordBytes(ColumnsOf(*record.kinds, static_cast<int>(i)));
      image.Put(image.PageStart(record.page) + record.offset, bytes);
      wants.push_back(ExpectedOf(*record.kinds, static_cast<int>(i), 0));
    }
    const UndarkRowList rows = Scan(image.bytes(), 9, c.expectedColumns);
    for (std::size_t i = 0; i < c.records.size(); ++i) {
      if (c.records[i].found) {
        EXPECT_TRUE(HasRow(rows, wants[i])) << "record " << i;
      } else {
        EXPECT_EQ(CountRows(rows, wants[i]), 0) << "record " << i;
      }
    }
  }
}

TEST(UndarkScan, Layout12NeedsA4ByteIntegerAtColumn5) {
  const TableShape shape = ShapeOf(12);
  std::string other = shape.kinds;
  other[3] = 'i';  // the 4 that triggers, two bytes before column 5
  other[5] = 'b';
  const std::string sql = CreateSql("CalendarItem", shape.kinds) + InsertSql("CalendarItem", shape.kinds, 0, 101) +
                          InsertSql("CalendarItem", other, 1, 102) + InsertSql("CalendarItem", other, 2, 103) +
                          "DELETE FROM CalendarItem WHERE rowid = 103;";
  const sample::SqliteFile file(sql);
  const UndarkRowList rows = Scan(file.DatabaseBytes(), 12);
  EXPECT_TRUE(HasRow(rows, ExpectedOf(shape.kinds, 0, 101)));
  EXPECT_EQ(CountRows(rows, ExpectedOf(other, 1, 102)), 0);
  EXPECT_EQ(CountRows(rows, ExpectedOf(other, 2, 103)), 0);
}

TEST(UndarkScan, Layout22HeaderOf46TypesEndsBeforeTheBody) {
  TableShape shape = ShapeOf(22);
  shape.kinds.pop_back();  // a table of 46 columns: the body's first byte follows column 45's type
  const sample::SqliteFile file(PlantedTableSql("ABPerson", shape.kinds));
  const UndarkRowList rows = Scan(file.DatabaseBytes(), 22);
  for (std::size_t i = 0; i < kPlanted.size(); ++i) {
    ExpectedRow want = PlantedExpected(shape, i);
    want.values.push_back(NullValue());
    EXPECT_TRUE(HasRow(rows, want)) << "row id " << kPlanted[i].rowId;
  }
}

TEST(UndarkScan, Layout7LeavesOutATextWithAZeroByte) {
  TableShape shape = ShapeOf(7);
  shape.kinds[5] = 'z';
  const UndarkRowList rows = Scan(sample::SqliteFile(PlantedTableSql("content", shape.kinds)).DatabaseBytes(), 7);
  for (std::size_t i = 0; i < kPlanted.size(); ++i) {
    SCOPED_TRACE(kPlanted[i].rowId);
    ExpectedRow want = PlantedExpected(shape, i);
    EXPECT_EQ(CountRows(rows, want), 0);
    want.values.erase(want.values.begin() + 5);
    EXPECT_TRUE(HasRow(rows, want));
  }
}

TEST(UndarkScan, Layout13HeaderEndsBeforeAColumn13ThatIsNeitherNullNorZero) {
  struct Case {
    const char* name;
    char column13;
    std::size_t values;
  };
  const Case cases[] = {
      {"NULL", 'n', 16}, {"the constant 0", '0', 16}, {"a text", 't', 13}, {"the constant 1", '1', 13}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string kinds = ShapeOf(13).kinds;
    ASSERT_EQ(kinds.size(), 16u);
    kinds[13] = c.column13;
    const sample::SqliteFile file(CreateSql("Friend", kinds) + InsertSql("Friend", kinds, 0, 101));
    const UndarkRowList rows = Scan(file.DatabaseBytes(), 13);
    const ExpectedRow want = ExpectedOf(kinds, 0, 101);
    if (c.values == 16) {
      EXPECT_TRUE(HasRow(rows, want));
      continue;
    }
    EXPECT_EQ(CountRows(rows, want), 0);
    // The body is read from where column 13's type stands, so only the type
    // codes of the 13 values can be relied on.
    const auto shortRow = std::find_if(rows.begin(), rows.end(), [&](const UndarkRow& row) {
      if (row.size() != 13) return false;
      for (std::size_t i = 0; i < 13; ++i) {
        if (row[i].type != want.values[i].type) return false;
      }
      return true;
    });
    EXPECT_NE(shortRow, rows.end()) << "no 13-value row with the record's type codes";
  }
}

TEST(UndarkScan, ASerialTypeVarintOf8BytesOrMoreIsPassedOver) {
  struct Case {
    const char* name;
    Bytes varint;
    bool shortRow;  // found one value short; else not found at all
  };
  const Case cases[] = {
      {"7 bytes: a huge BLOB, the attempt fails", {0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, false},
      {"8 bytes: passed over", {0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, true},
      {"9 bytes: passed over", {0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, true},
  };
  // Layout 17, 34 columns: 33 serial types after column 0's, one of them
  // the long varint, so 32 columns are stored.
  const std::string kinds = Kinds(33, kFiller, {{0, 'r'}, {1, 'b'}, {25, 'i'}, {31, 't'}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Column> columns = ColumnsOf(kinds, 3);
    columns.insert(columns.begin() + 10, Column{0, {}, c.varint});
    Image image(4096, 3);
    image.Put(image.PageStart(2) + 500, RecordBytes(columns));
    const UndarkRowList rows = Scan(image.bytes(), 17);
    EXPECT_EQ(CountRows(rows, ExpectedOf(kinds, 3, 0)), c.shortRow ? 1 : 0);
  }
}

// After a row the scan goes on past the record's non-text values only, so
// bytes inside its texts are scanned again, and a record kept inside a text
// is found; one inside a BLOB is passed over.
TEST(UndarkScan, TheScanGoesOnInsideARecordsTexts) {
  struct Case {
    const char* name;
    bool asText;
  };
  const Case cases[] = {{"inside a text: found", true}, {"inside a BLOB: passed over", false}};
  // Layout 17 records whose column 31 (a text by the rules) is empty, so
  // that where the scan goes on after the outer one depends on column 33.
  const std::string kinds = Kinds(34, "bsmixld01", {{0, 'r'}, {1, 'b'}, {25, 'i'}, {31, 'n'}});
  auto columnsOf = [&](int row) {
    std::vector<Column> columns = ColumnsOf(kinds, row);
    columns[31] = {13, {}, {}};
    return columns;
  };
  auto expectedOf = [&](int row) {
    ExpectedRow want = ExpectedOf(kinds, row, 0);
    want.values[31] = TextValue("");
    return want;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes inner = RecordBytes(columnsOf(1));
    std::vector<Column> outer = columnsOf(0);
    outer[33] = {(c.asText ? 13u : 12u) + 2 * inner.size(), inner, {}};
    Image image(4096, 3);
    image.Put(image.PageStart(2) + 300, RecordBytes(outer));
    const UndarkRowList rows = Scan(image.bytes(), 17);
    ExpectedRow outerRow = expectedOf(0);
    outerRow.values[33] = c.asText ? TextValue(std::string(inner.begin(), inner.end())) : BlobValue(inner);
    EXPECT_TRUE(HasRow(rows, outerRow));
    EXPECT_EQ(CountRows(rows, expectedOf(1)), c.asText ? 1 : 0);
  }
}

// ---- Pages ----

TEST(UndarkScan, ANonZeroRunIsFollowedIntoTheNextPage) {
  struct Case {
    const char* name;
    bool zeroBeforeThePageEnd;
    int copies;
  };
  const Case cases[] = {{"the run crosses the page end: found on both pages", false, 2},
                        {"a zero byte in the page's last 10 bytes ends it", true, 1}};
  const std::string kinds = "rbtis0dmtx1nn";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image(512, 4);
    // Spaces are not layout 0 triggers: they only carry the scan along.
    image.Fill(image.PageStart(2) + 400, 512 - 400 + 40, ' ');
    if (c.zeroBeforeThePageEnd) image.Fill(image.PageStart(3) - 5, 1, 0);
    image.Put(image.PageStart(3) + 40, RecordBytes(ColumnsOf(kinds, 0)));
    EXPECT_EQ(CountRows(Scan(image.bytes(), 0), ExpectedOf(kinds, 0, 0)), c.copies);
  }
}

// A page's first 14 bytes (its b-tree header and first cell pointers) hold
// no start byte.
TEST(UndarkScan, AttemptsBeginFrom14BytesIntoAPage) {
  struct Case {
    std::size_t offset;  // of the record within page 2
    bool found;
  };
  const Case cases[] = {{0, false}, {11, false}, {12, true}, {14, true}, {200, true}};
  const std::string kinds = "rbtis0dmtx1nn";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Image image(4096, 3);
    // Column 1's serial type, the first start byte, is 2 bytes into the record.
    image.Put(image.PageStart(2) + c.offset, RecordBytes(ColumnsOf(kinds, 0)));
    EXPECT_EQ(CountRows(Scan(image.bytes(), 0), ExpectedOf(kinds, 0, 0)), c.found ? 1 : 0);
  }
}

TEST(UndarkScan, PagesOfZerosGiveNoRows) {
  Image image(4096, 4);
  for (const int layout : kLayouts) EXPECT_TRUE(Scan(image.bytes(), layout).empty()) << "layout " << layout;
}

TEST(UndarkScan, UnusablePageSizesGiveNoRows) {
  struct Case {
    const char* name;
    std::uint16_t pageSize;
    bool rows;
    base::Status::Code status;  // a page size no database has means a damaged header
  };
  using enum base::Status::Code;
  const Case cases[] = {{"4096, as written", 4096, true, kOk}, {"0", 0, false, kCorrupt},
                        {"1 (65536)", 1, false, kOk},         {"256", 256, false, kCorrupt},
                        {"1000", 1000, false, kCorrupt},      {"4097", 4097, false, kCorrupt},
                        {"32769", 32769, false, kCorrupt}};
  const TableShape shape = ShapeOf(0);
  const sample::SqliteFile file(PlantedTableSql("t", shape.kinds));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = file.DatabaseBytes();
    bytes[16] = static_cast<std::uint8_t>(c.pageSize >> 8);
    bytes[17] = static_cast<std::uint8_t>(c.pageSize & 0xFF);
    UndarkRowList rows;
    EXPECT_EQ(UndarkScanBytes(bytes, shape.layout, -1, rows).Kind(), c.status);
    if (c.rows) {
      EXPECT_TRUE(HasRow(rows, PlantedExpected(shape, 0)));
    } else {
      EXPECT_TRUE(rows.empty()) << rows.size() << " rows";
    }
  }
}

// ---- Statuses and the file ----

class UndarkFileTest : public ::testing::Test {
 protected:
  platform::TempFolder folder_{"velmora-undark"};
};

TEST_F(UndarkFileTest, MissingFileLeavesTheListAsItWas) {
  UndarkRowList rows = {{TextValue("kept")}};
  const fs::path absent = folder_.Path() / "absent.db";
  const base::Status status = UndarkScan(absent.string(), 0, -1, rows);
  EXPECT_EQ(status.Kind(), base::Status::Code::kNotFound);
  EXPECT_EQ(status.File(), absent.string());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].text, "kept");
}

TEST_F(UndarkFileTest, UnknownLayoutsAreRefused) {
  const sample::SqliteFile file(PlantedTableSql("t", ShapeOf(0).kinds));
  const fs::path path = folder_.Path() / "t.db";
  WriteFile(path, file.DatabaseBytes());
  for (const int layout : {6, 11, 20, 23, -1}) {
    SCOPED_TRACE(layout);
    UndarkRowList rows = {{TextValue("kept")}};
    EXPECT_EQ(UndarkScan(path.string(), layout, -1, rows).Kind(), base::Status::Code::kUnreadable);
    EXPECT_EQ(UndarkScanBytes(file.DatabaseBytes(), layout, -1, rows).Kind(), base::Status::Code::kUnreadable);
    EXPECT_EQ(rows.size(), 1u);
  }
}

TEST_F(UndarkFileTest, ScanningAPathReadsTheFileAndAppends) {
  const TableShape shape = ShapeOf(22);
  const sample::SqliteFile file(PlantedTableSql("ABPerson", shape.kinds));
  const Bytes bytes = file.DatabaseBytes();
  const fs::path path = folder_.Path() / "AddressBook.sqlitedb";
  WriteFile(path, bytes);
  const auto writeTime = fs::last_write_time(path);

  UndarkRowList rows = {{TextValue("kept")}};
  ASSERT_TRUE(UndarkScan(path.string(), shape.layout, -1, rows).Ok());
  const UndarkRowList fromBytes = Scan(bytes, shape.layout);
  ASSERT_FALSE(fromBytes.empty());
  ASSERT_EQ(rows.size(), fromBytes.size() + 1);
  EXPECT_EQ(rows[0][0].text, "kept");
  EXPECT_TRUE(SameRows(UndarkRowList(rows.begin() + 1, rows.end()), fromBytes));

  for (const int layout : kLayouts) UndarkScan(path.string(), layout, -1, rows);
  EXPECT_TRUE(platform::ReadWholeFile(path) == bytes);
  EXPECT_EQ(fs::last_write_time(path), writeTime);
}

TEST_F(UndarkFileTest, NumberedLayoutsTellThePageOfEachRow) {
  // Two tables of one shape: the first's page is page 2, the second's page 3.
  const TableShape shape = ShapeOf(21);
  const sample::SqliteFile file(PlantedTableSql("first", shape.kinds) + PlantedTableSql("second", shape.kinds));
  const fs::path path = folder_.Path() / "History.db";
  WriteFile(path, file.DatabaseBytes());
  UndarkRowList rows;
  std::vector<std::uint32_t> pages;
  const auto placed = [&](UndarkRow& row, std::uint32_t page) {
    rows.push_back(std::move(row));
    pages.push_back(page);
  };
  ASSERT_TRUE(UndarkScan(path.string(), shape.layout, -1, placed).Ok());
  EXPECT_TRUE(SameRows(rows, Scan(file.DatabaseBytes(), shape.layout))) << "the page is told beside the same rows";
  std::map<std::uint32_t, int> plantedOn;
  for (std::size_t i = 0; i < kPlanted.size(); ++i) {
    const ExpectedRow want = PlantedExpected(shape, i);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].size() == want.values.size() && MatchingValues(rows[r], want) == want.values.size()) ++plantedOn[pages[r]];
    }
  }
  EXPECT_EQ(plantedOn, (std::map<std::uint32_t, int>{{2, 5}, {3, 5}}));

  std::vector<std::uint32_t> fromBytes;
  ASSERT_TRUE(UndarkScanBytes(file.DatabaseBytes(), shape.layout, -1,
                              [&](UndarkRow&, std::uint32_t page) { fromBytes.push_back(page); })
                  .Ok());
  EXPECT_EQ(fromBytes, pages);
}

TEST(UndarkScan, ScansWithTheirOwnListsMayRunAtOnce) {
  std::string sql;
  const std::vector<TableShape> shapes = Shapes();
  for (std::size_t i = 0; i < shapes.size(); ++i) sql += PlantedTableSql("t" + std::to_string(i), shapes[i].kinds);
  const sample::SqliteFile file(sql);
  const Bytes bytes = file.DatabaseBytes();
  std::vector<UndarkRowList> alone;
  for (const int layout : kLayouts) alone.push_back(Scan(bytes, layout));

  std::vector<UndarkRowList> together(kLayouts.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < kLayouts.size(); ++i) {
    threads.emplace_back([&, i] { UndarkScanBytes(bytes, kLayouts[i], i % 2 == 0 ? -1 : 30, together[i]); });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < kLayouts.size(); ++i) {
    if (i % 2 == 0) {
      EXPECT_TRUE(SameRows(together[i], alone[i])) << "layout " << kLayouts[i];
    } else {
      EXPECT_TRUE(SameRows(together[i], Scan(bytes, kLayouts[i], 30))) << "layout " << kLayouts[i];
    }
  }
}

// ---- Damaged and foreign files ----

TEST_F(UndarkFileTest, DamagedCopiesOfARealFileAreScannedSafely) {
  std::string sql;
  for (const int layout : {3, 7, 8, 12, 13, 21, 22}) {
    sql += PlantedTableSql("t" + std::to_string(layout), ShapeOf(layout).kinds);
  }
  const sample::SqliteFile file(sql);
  const Bytes original = file.DatabaseBytes();
  const std::size_t size = original.size();
  ASSERT_GT(size, 5u * 4096u);

  std::vector<std::pair<std::string, Bytes>> copies;
  for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{16}, std::size_t{17}, std::size_t{18},
                                std::size_t{100}, std::size_t{4096}, std::size_t{4096 + 14}, std::size_t{4096 + 300},
                                std::size_t{2 * 4096}, size / 2 + 7, size - 1}) {
    copies.emplace_back("cut at " + std::to_string(cut),
                        Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cut)));
  }
  Bytes flipped = original;
  for (std::size_t i = 18; i < size; i += 97) flipped[i] ^= 0xFF;
  copies.emplace_back("every 97th byte flipped", flipped);
  Bytes highBits = original;
  for (std::size_t i = 4096; i < 3 * 4096; ++i) highBits[i] |= 0x80;
  copies.emplace_back("pages 2 and 3 with every high bit set", highBits);
  Bytes tail = original;
  std::fill(tail.end() - 3000, tail.end(), std::uint8_t{0xFF});
  copies.emplace_back("a run of 0xFF to the end", tail);
  Bytes misStepped = original;
  misStepped[16] = 0x02;
  misStepped[17] = 0x00;
  copies.emplace_back("page size says 512", misStepped);
  std::mt19937 random(20240611);
  Bytes noise = original;
  for (std::size_t i = 100; i < size; ++i) {
    if (random() % 16 == 0) noise[i] = static_cast<std::uint8_t>(random());
  }
  copies.emplace_back("random bytes changed", noise);
  Bytes allHigh(16 * 512, 0x80);
  allHigh[16] = 0x02;
  allHigh[17] = 0x00;
  copies.emplace_back("every byte 0x80", allHigh);

  const fs::path path = folder_.Path() / "damaged.db";
  for (const auto& [name, bytes] : copies) {
    WriteFile(path, bytes);
    const auto start = std::chrono::steady_clock::now();
    for (const int layout : kLayouts) {
      for (const int expected : {-1, 200}) {
        // A copy of exactly the file's size, so that a read past it is caught
        // by the sanitizers.
        const Bytes exact = bytes;
        UndarkRowList rows;
        // A header cut before its page size is told as damage; anything
        // after it is scanned for what it still holds.
        const base::Status status = UndarkScanBytes(exact, layout, expected, rows);
        EXPECT_EQ(status.Kind(), exact.size() > 0 && exact.size() < 18 ? base::Status::Code::kCorrupt
                                                                      : base::Status::Code::kOk)
            << name << ", layout " << layout;
        // The file itself (whose size may be a whole number of memory pages)
        // gives the same rows.
        UndarkRowList fromFile;
        EXPECT_EQ(UndarkScan(path.string(), layout, expected, fromFile).Kind(), status.Kind());
        EXPECT_TRUE(SameRows(fromFile, rows)) << name << ", layout " << layout;
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0) << name;
    std::cout << "[ damaged  ] " << name << ": " << seconds * 1000 << " ms for every layout, twice\n";
  }
}

// With an expected count no larger than the column its decoding starts at,
// an attempt reads no serial type and its row ends where it began; the scan
// still has to move on. Each count runs in a child process with a time
// limit, so that a scan that never ends fails here instead of hanging the
// suite.
TEST(UndarkScanDeathTest, TinyExpectedCountsStillEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string sql;
  const std::vector<TableShape> shapes = Shapes();
  for (std::size_t i = 0; i < shapes.size(); ++i) sql += PlantedTableSql("t" + std::to_string(i), shapes[i].kinds);
  const Bytes bytes = sample::SqliteFile(sql).DatabaseBytes();
  for (const int expected : {1, 2, 3}) {
    EXPECT_EXIT(
        {
          alarm(10);
          for (const int layout : kLayouts) {
            UndarkScanBytes(bytes, layout, expected, [](const UndarkRow&) {});
          }
          std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << "expected count " << expected;
  }
}

TEST(UndarkScan, ForensicCorpusFilesAreScannedQuickly) {
  const fs::path corpus = fs::path(VELMORA_SHARED_DIR) / "samples" / "sqlite-forensic-corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << corpus << " is absent";
  platform::TempFolder work("velmora-undark-corpus");
  int files = 0;
  for (int folder = 11; folder <= 19; ++folder) {
    const fs::path dir = corpus / std::to_string(folder);
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> databases;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".db") databases.push_back(entry.path());
    }
    std::sort(databases.begin(), databases.end());
    for (const fs::path& source : databases) {
      const fs::path copy = work.Path() / source.filename();
      fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
      double slowest = 0;
      std::size_t found = 0;
      for (const int layout : kLayouts) {
        UndarkRowList rows;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(UndarkScan(copy.string(), layout, -1, rows).Ok()) << source << ", layout " << layout;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0) << source << ", layout " << layout;
        slowest = std::max(slowest, seconds);
        found += rows.size();
      }
      std::cout << "[ corpus   ] " << source.parent_path().filename().string() << "/" << source.filename().string()
                << " (" << fs::file_size(copy) << " bytes): " << found << " rows, slowest layout "
                << slowest * 1000 << " ms\n";
      ++files;
    }
  }
  if (files == 0) GTEST_SKIP() << "no .db files in folders 11 to 19 of " << corpus;
}

}  // namespace
