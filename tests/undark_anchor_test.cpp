// The deleted-row scanner with layouts made at run time (Start::kAnchorAtTrigger),
// on real SQLite files holding WeChat's per-conversation Chat_<md5> tables,
// with the page of each row checked through the reader base's page map.
#include "db/undark/undark.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "db/db_sqlite.h"
#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;
using db::undark::Layout;
using db::undark::LayoutBuilder;
using db::undark::SerialTypes;
using db::undark::UndarkRow;
using db::undark::UndarkScan;
using db::undark::UndarkScanBytes;
using db::undark::UndarkValue;
using Bytes = std::vector<std::uint8_t>;

// ---- The table and its layout, as the WeChat reader knows them ----

// Chat_<md5> in the order a real dump declares it, and in the alphabetical
// order some builds have.
const std::vector<std::string> kDeclaredOrder = {"TableVer", "MesLocalID", "MesSvrID", "CreateTime", "Message",
                                                 "Status",   "ImgStatus",  "Type",     "Des"};
const std::vector<std::string> kAlphabeticalOrder = {"CreateTime", "Des",    "ImgStatus", "MesLocalID", "Message",
                                                     "MesSvrID",   "Status", "TableVer",  "Type"};

std::string Declaration(const std::string& column) {
  static const std::map<std::string, std::string> declarations = {
      {"TableVer", "TableVer INTEGER DEFAULT 1"},
      {"MesLocalID", "MesLocalID INTEGER PRIMARY KEY AUTOINCREMENT"},
      {"MesSvrID", "MesSvrID INTEGER DEFAULT 0"},
      {"CreateTime", "CreateTime INTEGER DEFAULT 0"},
      {"Message", "Message TEXT"},
      {"Status", "Status INTEGER DEFAULT 0"},
      {"ImgStatus", "ImgStatus INTEGER DEFAULT 0"},
      {"Type", "Type INTEGER"},
      {"Des", "Des INTEGER"}};
  return declarations.at(column);
}

int IndexOf(const std::vector<std::string>& order, const std::string& column) {
  return static_cast<int>(std::find(order.begin(), order.end(), column) - order.begin());
}

// The layout a reader writes for Chat_<md5> in a column order: CreateTime,
// a 4-byte integer, is the anchor; MesLocalID the primary key.
Layout ChatLayout(const std::vector<std::string>& order) {
  // WeChat writes every integer column; a zero is serial type 8, not NULL.
  const db::undark::Rule integer = SerialTypes({1, 2, 3, 4, 5, 6, 8, 9});
  LayoutBuilder builder = LayoutBuilder::Anchored(9, IndexOf(order, "CreateTime"), {4}, integer);
  builder.Column({IndexOf(order, "TableVer")}, SerialTypes({8, 9}))
      .Column({IndexOf(order, "CreateTime")}, SerialTypes({4}))
      .Column({IndexOf(order, "Message")}, db::undark::kText | SerialTypes({0}))
      .Column({IndexOf(order, "Des")}, SerialTypes({1, 8, 9}))
      .PrimaryKey(IndexOf(order, "MesLocalID"));
  return builder.Build();
}

// ---- A message database built for the test ----

// What happened to a Chat row, so what its cell looks like in the file.
// SQLite (3.40 as Debian ships it) writes a free block header over the
// first 4 bytes of every cell it frees on its own, the one next to the
// unallocated gap too, though the gap then takes that cell in.
enum class Fate {
  kLive,
  kNextToGap,    // freed next to the unallocated gap: a header over its start
  kFreeBlock,    // freed between live cells: a header over its start
  kMergedAfter,  // freed right after a free block, which took it in: intact
  kDropped,      // its table was dropped: the page went to the freelist intact
};

bool HeaderOverStart(Fate fate) { return fate == Fate::kNextToGap || fate == Fate::kFreeBlock; }

struct ChatRow {
  std::string table;
  std::int64_t rowId = 0;
  std::int64_t svrId = 0;
  std::int64_t createTime = 0;
  std::string message;
  int status = 0;
  int imgStatus = 0;
  int type = 0;
  int des = 0;
  Fate fate = Fate::kLive;
  int cellStartBytes = 0;  // the payload length's and the row id's varints
};

// Three conversations (the third is dropped) and, beside them, a Hello and
// a ChatExt2 table of other shapes with the same kinds of values.
const std::string kChatA = "Chat_099cc67071b64517d719cdb9430037d8";
const std::string kChatB = "Chat_5d41402abc4b2a76b9719d911017c592";
const std::string kChatDropped = "Chat_7d793037a0760186574b0282f2f435e7";
const std::string kHello = "Hello_099cc67071b64517d719cdb9430037d8";
const std::string kChatExt = "ChatExt2_099cc67071b64517d719cdb9430037d8";
constexpr int kRowsPerTable = 300;  // row ids up to 300: one and two varint bytes

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error != nullptr ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(text + " in " + sql.substr(0, 200));
  }
}

// The pages of a table's b-tree of one type ('leaf', 'internal').
std::vector<std::uint32_t> Pages(sqlite3* db, const std::string& table, const std::string& type) {
  sqlite3_stmt* statement = nullptr;
  std::vector<std::uint32_t> pages;
  sqlite3_prepare_v2(db, "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = ? ORDER BY pageno;", -1,
                     &statement, nullptr);
  sqlite3_bind_text(statement, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(statement, 2, type.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(statement) == SQLITE_ROW) pages.push_back(static_cast<std::uint32_t>(sqlite3_column_int64(statement, 0)));
  sqlite3_finalize(statement);
  return pages;
}

// A message text of three sizes: short cells (a 1-byte payload length),
// texts over 127 bytes, and every 29th a long one, over 16383 bytes where
// the page takes it whole (no overflow pages).
std::string MessageText(const std::string& table, int i, int pageSize) {
  std::string text = table.substr(0, 6) + "#" + std::to_string(i) + "|";
  if (i % 29 == 0) return text + std::string(pageSize >= 32768 ? 20000 : 1000, static_cast<char>('a' + i % 26));
  if (i % 3 == 0) {
    for (int k = 0; text.size() < 150 + static_cast<std::size_t>(i % 60); ++k) text += k % 4 == 0 ? "你好" : "word ";
    return text;
  }
  return text + (i % 2 == 0 ? "好的" : "ok");
}

ChatRow MakeChatRow(const std::string& table, int i, int pageSize) {
  const int tableSalt = static_cast<int>(table[5]);
  ChatRow row;
  row.table = table;
  row.rowId = i;
  row.svrId = i % 4 == 0 ? 0 : 7000000000000000000 + tableSalt * 100000 + i;
  row.createTime = 1600000000 + i * 97 + tableSalt;
  row.message = MessageText(table, i, pageSize);
  row.status = 2 + i % 3;
  row.imgStatus = 1 + i % 2;
  row.type = std::array<int, 5>{1, 3, 34, 49, 10000}[static_cast<std::size_t>(i % 5)];
  row.des = i % 2;
  return row;
}

std::string InsertSql(const ChatRow& row) {
  return "INSERT INTO " + row.table + " (TableVer, MesSvrID, CreateTime, Message, Status, ImgStatus, Type, Des) VALUES (1, " +
         std::to_string(row.svrId) + ", " + std::to_string(row.createTime) + ", '" + row.message + "', " +
         std::to_string(row.status) + ", " + std::to_string(row.imgStatus) + ", " + std::to_string(row.type) + ", " +
         std::to_string(row.des) + ");";
}

// Rows of the other tables: CreateTime-like 4-byte integers, texts and small
// integers where a Chat row has its own. In the alphabetical order a Hello
// row from its CreateTime on reads as a Chat row whenever its Status is 1,
// and only its header size tells it apart.
std::string OtherShapesSql(int i) {
  const std::string n = std::to_string(i);
  const std::string strRes = i % 20 == 0 ? "NULL, NULL, NULL" : "'x', 'wxid_" + n + "', 'abc'";
  return "INSERT INTO " + kHello +
         " (ConIntRes1, ConIntRes2, ConIntRes3, ConStrRes1, ConStrRes2, ConStrRes3, CreateTime, Des, ImgStatus, Message,"
         " MesSvrID, OpCode, Status, TableVer, Type, UsrName) VALUES (0, 0, 0, " + strRes + ", " +
         std::to_string(1600000000 + i * 31) + ", 1, 1, 'Hello#" + n + " please add me', " + std::to_string(900000 + i) +
         ", 2, " + std::to_string(i % 20 == 0 ? 1 : 3) + ", 1, 37, 'wxid_hello" + n + "');" + "INSERT INTO " + kChatExt +
         " (msgFlag, ConIntRes2, ConIntRes3, MsgSource, MsgIdentify, ConIntRes1) VALUES (0, 0, " +
         std::to_string(1600000000 + i * 53) + ", 'ChatExt2#" + n + " <msgsource/>', 'id" + n + "', 0);";
}

std::size_t BigEndian16(const Bytes& bytes, std::size_t at) { return (std::size_t{bytes[at]} << 8) | bytes[at + 1]; }

int VarintLength(const Bytes& bytes, std::size_t at, std::int64_t* value = nullptr) {
  std::int64_t v = 0;
  int length = 0;
  while (length < 9) {
    const std::uint8_t byte = bytes[at + static_cast<std::size_t>(length++)];
    v = (v << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) break;
  }
  if (value != nullptr) *value = v;
  return length;
}

struct Cell {
  std::size_t offset = 0;  // within the page
  std::int64_t rowId = 0;
  int startBytes = 0;
};

// The cells of a table leaf page in the order they lie in the page.
std::vector<Cell> CellsByPlace(const Bytes& file, std::size_t pageSize, std::uint32_t page) {
  const std::size_t start = (page - 1) * pageSize;
  const std::size_t header = start + (page == 1 ? 100 : 0);
  std::vector<Cell> cells;
  if (file[header] != 0x0D) return cells;
  const std::size_t count = BigEndian16(file, header + 3);
  for (std::size_t i = 0; i < count; ++i) {
    Cell cell;
    cell.offset = BigEndian16(file, header + 8 + 2 * i);
    const int payloadBytes = VarintLength(file, start + cell.offset);
    const int rowIdBytes = VarintLength(file, start + cell.offset + static_cast<std::size_t>(payloadBytes), &cell.rowId);
    cell.startBytes = payloadBytes + rowIdBytes;
    cells.push_back(cell);
  }
  std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) { return a.offset < b.offset; });
  return cells;
}

// Deletes cells of a table page by page, taking turns: on one page the cell
// next to the gap and two between live cells; on the next a cell between
// live cells and then the one after it (which the first's free block takes
// in), and one more between live cells. Pages too empty for that, and the
// last leaf, which appends still fill, are left whole.
std::string DeletionsOf(const std::string& table, const std::vector<std::uint32_t>& leaves, const Bytes& file,
                        std::size_t pageSize, std::map<std::int64_t, ChatRow>& rows) {
  std::string sql;
  int turn = 0;
  for (std::size_t p = 0; p + 1 < leaves.size(); ++p) {
    const std::vector<Cell> cells = CellsByPlace(file, pageSize, leaves[p]);
    if (cells.size() < 10) continue;
    const std::vector<std::pair<std::size_t, Fate>> picks =
        turn++ % 2 == 0 ? std::vector<std::pair<std::size_t, Fate>>{{0, Fate::kNextToGap}, {3, Fate::kFreeBlock}, {6, Fate::kFreeBlock}}
                        : std::vector<std::pair<std::size_t, Fate>>{{3, Fate::kFreeBlock}, {4, Fate::kMergedAfter}, {7, Fate::kFreeBlock}};
    for (const auto& [index, fate] : picks) {
      ChatRow& row = rows.at(cells[index].rowId);
      row.fate = fate;
      row.cellStartBytes = cells[index].startBytes;
      sql += "DELETE FROM " + table + " WHERE MesLocalID = " + std::to_string(row.rowId) + ";";
    }
  }
  return sql;
}

struct ChatDatabase {
  std::vector<ChatRow> rows;  // every Chat row written, with what happened to it
  // The Chat tables' interior pages. Each began as its table's one leaf and
  // kept that leaf's cells when its first split moved them to a new page:
  // stale copies, partly overwritten by the interior cells.
  std::vector<std::uint32_t> interiorPages;
};

// Builds the database at path.
ChatDatabase BuildChatDatabase(const fs::path& path, const std::vector<std::string>& order, int pageSize) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + path.string());
  ChatDatabase written;
  try {
    // Debian's SQLite zeroes freed cells unless told not to; a phone's does not.
    Exec(db, "PRAGMA secure_delete=OFF; PRAGMA page_size=" + std::to_string(pageSize) + ";");
    std::string columns;
    for (const std::string& column : order) columns += (columns.empty() ? "" : ", ") + Declaration(column);
    std::string sql;
    for (const std::string& table : {kChatA, kChatB, kChatDropped}) sql += "CREATE TABLE " + table + " (" + columns + ");";
    sql += "CREATE TABLE " + kHello +
           " (ConIntRes1 INTEGER DEFAULT 0, ConIntRes2 INTEGER DEFAULT 0, ConIntRes3 INTEGER DEFAULT 0, ConStrRes1 TEXT,"
           " ConStrRes2 TEXT, ConStrRes3 TEXT, CreateTime INTEGER DEFAULT 0, Des INTEGER, ImgStatus INTEGER DEFAULT 0,"
           " MesLocalID INTEGER PRIMARY KEY AUTOINCREMENT, Message TEXT, MesSvrID INTEGER DEFAULT 0,"
           " OpCode INTEGER DEFAULT 0, Status INTEGER DEFAULT 0, TableVer INTEGER DEFAULT 1, Type INTEGER, UsrName TEXT);";
    sql += "CREATE TABLE " + kChatExt +
           " (MesLocalID INTEGER PRIMARY KEY, msgFlag INTEGER DEFAULT 0, ConIntRes2 INTEGER DEFAULT 0,"
           " ConIntRes3 INTEGER DEFAULT 0, MsgSource TEXT, MsgIdentify TEXT, ConStrRes1 TEXT, ConStrRes2 TEXT,"
           " ConStrRes3 TEXT, ConIntRes1 INTEGER DEFAULT 0);";
    // The conversations take turns, so their pages alternate in the file.
    std::map<std::string, std::map<std::int64_t, ChatRow>> rows;
    sql += "BEGIN;";
    for (int i = 1; i <= kRowsPerTable; ++i) {
      for (const std::string& table : {kChatA, kChatB, kChatDropped}) {
        const ChatRow row = MakeChatRow(table, i, pageSize);
        sql += InsertSql(row);
        rows[table][row.rowId] = row;
      }
      if (i % 10 == 0) sql += OtherShapesSql(i);
    }
    Exec(db, sql + "COMMIT;");
    for (const std::string& table : {kChatA, kChatB, kChatDropped}) {
      for (const std::uint32_t page : Pages(db, table, "internal")) written.interiorPages.push_back(page);
    }

    const Bytes file = platform::ReadWholeFile(path).value();
    std::string deletions = "BEGIN;";
    for (const std::string& table : {kChatA, kChatB}) {
      deletions += DeletionsOf(table, Pages(db, table, "leaf"), file, static_cast<std::size_t>(pageSize), rows[table]);
    }
    Exec(db, deletions + "COMMIT; DROP TABLE " + kChatDropped + ";");
    for (auto& [rowId, row] : rows[kChatDropped]) row.fate = Fate::kDropped;
    for (const auto& [table, tableRows] : rows) {
      for (const auto& [rowId, row] : tableRows) written.rows.push_back(row);
    }
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
  return written;
}

// ---- What the scan should give ----

// Whether the cell can still be found: with the anchor at column 0, a free
// block header over a cell whose payload length and row id take a byte each
// covers CreateTime's serial type itself.
bool Findable(const ChatRow& row, const Layout& layout) {
  return !(layout.anchor == 0 && HeaderOverStart(row.fate) && row.cellStartBytes <= 2);
}

// The row id the scan should give: the row's own where the cell's start is
// intact, unknown (empty) where a free block header lies over it.
std::string ExpectedRowId(const ChatRow& row) { return HeaderOverStart(row.fate) ? "" : std::to_string(row.rowId); }

bool IsInteger(const UndarkValue& value) { return value.type >= 1 && value.type <= 9 && value.type != 7; }

// What differs between a row found and the row written, or empty.
std::string Difference(const UndarkRow& found, const ChatRow& want, const std::vector<std::string>& order) {
  if (found.size() != 9) return std::to_string(found.size()) + " values";
  const auto at = [&](const std::string& column) -> const UndarkValue& {
    return found[static_cast<std::size_t>(IndexOf(order, column))];
  };
  std::string difference;
  const auto integer = [&](const std::string& column, std::int64_t number) {
    const UndarkValue& value = at(column);
    if (!IsInteger(value) || db::undark::UndarkValueToInt64(value) != number) {
      difference += " " + column + " " + value.text + " (type " + std::to_string(value.type) + ") not " + std::to_string(number);
    }
  };
  integer("MesSvrID", want.svrId);
  integer("CreateTime", want.createTime);
  if (at("CreateTime").type != 4) difference += " CreateTime not a 4-byte integer";
  integer("Status", want.status);
  integer("ImgStatus", want.imgStatus);
  integer("Type", want.type);
  integer("Des", want.des);
  const UndarkValue& message = at("Message");
  if (message.type != db::undark::kTypeText || message.text != want.message) difference += " Message";
  // Column 0's serial type is the free block's size where the header covered
  // it, and then unknown.
  const bool tableVerCovered = order[0] == "TableVer" && HeaderOverStart(want.fate) && want.cellStartBytes <= 2;
  const std::uint8_t tableVer = at("TableVer").type;
  if (tableVer != (tableVerCovered ? db::undark::kTypeNull : 9)) difference += " TableVer type " + std::to_string(tableVer);
  const UndarkValue& rowId = at("MesLocalID");
  if (rowId.type != db::undark::kTypeRowId || rowId.text != ExpectedRowId(want)) {
    difference += " row id \"" + rowId.text + "\" not \"" + ExpectedRowId(want) + "\"";
  }
  return difference;
}

// A minimal reader, for the page map.
class AnyReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int) override { return ""; }
};

struct ChatCase {
  std::string name;
  const std::vector<std::string>* order;
  int pageSize;
};

void PrintTo(const ChatCase& chatCase, std::ostream* out) { *out << chatCase.name; }

class ChatTableScanTest : public ::testing::TestWithParam<ChatCase> {};

TEST_P(ChatTableScanTest, EveryDeletedRowComesBackWithItsValuesItsRowIdAndItsTablesPage) {
  const ChatCase& chatCase = GetParam();
  const std::vector<std::string>& order = *chatCase.order;
  platform::TempFolder folder("velmora-undark-anchor");
  const fs::path path = folder.Path() / "message_1.sqlite";
  const ChatDatabase database = BuildChatDatabase(path, order, chatCase.pageSize);
  // CreateTime tells every Chat row written from every other, in every table.
  std::map<std::int64_t, const ChatRow*> byCreateTime;
  std::map<Fate, int> fates;
  std::map<int, int> headerOverStartBytes;  // cell start bytes of rows under a free block header
  for (const ChatRow& row : database.rows) {
    byCreateTime[row.createTime] = &row;
    ++fates[row.fate];
    if (HeaderOverStart(row.fate)) ++headerOverStartBytes[std::min(row.cellStartBytes, 4)];
  }
  ASSERT_EQ(byCreateTime.size(), database.rows.size());
  // The database must hold every kind of cell the test is about.
  for (const Fate fate : {Fate::kNextToGap, Fate::kFreeBlock, Fate::kMergedAfter, Fate::kDropped}) {
    ASSERT_GT(fates[fate], 0) << "fate " << static_cast<int>(fate);
  }
  for (const int startBytes : {2, 3, 4}) ASSERT_GT(headerOverStartBytes[startBytes], 0) << startBytes << " start bytes";

  AnyReader reader;
  ASSERT_TRUE(reader.Open(path.string(), 0).Ok());
  const std::map<std::uint32_t, std::string> owners = reader.PageOwners();
  ASSERT_FALSE(owners.empty());
  reader.Close();

  const Layout layout = ChatLayout(order);
  std::map<std::int64_t, int> found;
  int staleCopies = 0;
  const base::Status status = UndarkScan(path.string(), layout, [&](UndarkRow& row, std::uint32_t page) {
    ASSERT_EQ(row.size(), 9u);
    const UndarkValue& createTime = row[static_cast<std::size_t>(IndexOf(order, "CreateTime"))];
    const auto match = byCreateTime.find(createTime.number);
    // No row of another table, nor junk, is taken for a Chat row.
    ASSERT_NE(match, byCreateTime.end())
        << "a row of no Chat table on page " << page << ": \""
        << db::undark::UndarkValueText(row[static_cast<std::size_t>(IndexOf(order, "Message"))]).substr(0, 40) << "\"";
    const ChatRow& want = *match->second;
    // A stale copy on an interior page has its end overwritten by the
    // interior cells where it lay near the page's end: only its page is
    // checked.
    const bool staleCopy = std::count(database.interiorPages.begin(), database.interiorPages.end(), page) > 0;
    if (staleCopy) {
      ++staleCopies;
    } else {
      ++found[want.createTime];
      EXPECT_EQ(Difference(row, want, order), "")
          << want.table << " row " << want.rowId << " fate " << static_cast<int>(want.fate) << " on page " << page;
    }
    const auto owner = owners.find(page);
    if (want.fate == Fate::kDropped) {
      EXPECT_EQ(owner, owners.end()) << "page " << page << " of the dropped table";
    } else {
      ASSERT_NE(owner, owners.end()) << want.table << " row " << want.rowId << " on page " << page;
      EXPECT_EQ(owner->second, want.table) << "row " << want.rowId << " on page " << page;
    }
  });
  ASSERT_TRUE(status.Ok()) << status.Text();
  for (const ChatRow& row : database.rows) {
    const int times = found.count(row.createTime) > 0 ? found[row.createTime] : 0;
    if (Findable(row, layout)) {
      EXPECT_EQ(times, 1) << row.table << " row " << row.rowId << " fate " << static_cast<int>(row.fate);
    } else {
      EXPECT_EQ(times, 0) << row.table << " row " << row.rowId << " was not expected to be found";
    }
  }
  EXPECT_GT(staleCopies, 0) << "the interior pages' stale cells are records too";
}

INSTANTIATE_TEST_SUITE_P(Orders, ChatTableScanTest,
                         ::testing::Values(ChatCase{"DeclaredOrder", &kDeclaredOrder, 4096},
                                           ChatCase{"AlphabeticalOrder", &kAlphabeticalOrder, 4096},
                                           ChatCase{"DeclaredOrderLargePages", &kDeclaredOrder, 32768},
                                           ChatCase{"AlphabeticalOrderLargePages", &kAlphabeticalOrder, 32768}),
                         [](const ::testing::TestParamInfo<ChatCase>& chatCase) { return chatCase.param.name; });

// ---- Layouts that do not fit, and damaged files ----

struct BadLayout {
  std::string name;
  Layout layout;
};

std::vector<BadLayout> BadLayouts() {
  const Layout good = ChatLayout(kDeclaredOrder);
  std::vector<BadLayout> bad;
  const auto change = [&](std::string name, auto edit) {
    Layout layout = good;
    edit(layout);
    bad.push_back({std::move(name), layout});
  };
  change("NoColumns", [](Layout& l) { l.columns = 0; });
  change("TooManyColumns", [](Layout& l) { l.columns = db::undark::kMaxColumns + 1; });
  change("AnchorPastTheColumns", [](Layout& l) { l.anchor = 9; });
  change("NegativeAnchor", [](Layout& l) { l.anchor = -1; });
  change("PrimaryKeyPastTheColumns", [](Layout& l) { l.primaryKey = 9; });
  change("PrimaryKeyMayHoldIntegers", [](Layout& l) { l.rules[1] = SerialTypes({0, 1}); });
  change("NoTrigger", [](Layout& l) { l.trigger.fill(false); });
  change("NoWindow", [](Layout& l) { l.window = 0; });
  change("PrimaryKeyWithANumberedStart", [](Layout& l) { l.start = db::undark::Start::kColumn1AtTrigger; });
  return bad;
}

TEST(UndarkAnchoredLayouts, ALayoutThatDoesNotFitIsRefusedBeforeAnyRow) {
  platform::TempFolder folder("velmora-undark-anchor");
  const fs::path path = folder.Path() / "message_1.sqlite";
  BuildChatDatabase(path, kDeclaredOrder, 4096);
  const Bytes bytes = platform::ReadWholeFile(path).value();
  ASSERT_TRUE(UndarkScanBytes(bytes, ChatLayout(kDeclaredOrder), [](UndarkRow&, std::uint32_t) {}).Ok());
  for (const BadLayout& bad : BadLayouts()) {
    SCOPED_TRACE(bad.name);
    int rows = 0;
    const auto count = [&rows](UndarkRow&, std::uint32_t) { ++rows; };
    const base::Status fromBytes = UndarkScanBytes(bytes, bad.layout, count);
    EXPECT_EQ(fromBytes.Kind(), base::Status::Code::kUnreadable);
    EXPECT_NE(fromBytes.Message().find("the table layout cannot be used"), std::string::npos) << fromBytes.Text();
    const base::Status fromFile = UndarkScan(path.string(), bad.layout, count);
    EXPECT_EQ(fromFile.Kind(), base::Status::Code::kUnreadable);
    EXPECT_EQ(fromFile.File(), path.string());
    EXPECT_EQ(rows, 0);
  }
  EXPECT_EQ(UndarkScan((folder.Path() / "absent.sqlite").string(), ChatLayout(kDeclaredOrder),
                       [](UndarkRow&, std::uint32_t) {})
                .Kind(),
            base::Status::Code::kNotFound);
}

TEST(UndarkAnchoredLayouts, ShortAndDamagedFilesGiveFewerRowsNeverAFault) {
  platform::TempFolder folder("velmora-undark-anchor");
  const fs::path path = folder.Path() / "message_1.sqlite";
  BuildChatDatabase(path, kAlphabeticalOrder, 4096);
  const Bytes whole = platform::ReadWholeFile(path).value();
  for (const auto* order : {&kDeclaredOrder, &kAlphabeticalOrder}) {
    const Layout layout = ChatLayout(*order);
    int fullRows = 0;
    ASSERT_TRUE(UndarkScanBytes(whole, layout, [&](UndarkRow&, std::uint32_t) { ++fullRows; }).Ok());
    // Cut short anywhere: the scan reads only what is there, and its pages
    // count within the file.
    for (std::size_t length = 0; length < whole.size(); length += 1237) {
      const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      int rows = 0;
      const base::Status status = UndarkScanBytes(cut, layout, [&](UndarkRow& row, std::uint32_t page) {
        ++rows;
        EXPECT_EQ(row.size(), 9u);
        EXPECT_GE(page, 1u);
        EXPECT_LE(page, length / 4096 + 1);
      });
      EXPECT_TRUE(status.Ok() || status.Kind() == base::Status::Code::kCorrupt) << length;
      EXPECT_LE(rows, fullRows) << length;
    }
    // Pages of nothing but trigger bytes, of 0xFF, and of a byte that starts
    // a varint and never ends one.
    for (const std::uint8_t fill : {std::uint8_t{0x04}, std::uint8_t{0xFF}, std::uint8_t{0x81}}) {
      Bytes damaged = whole;
      std::fill(damaged.begin() + 4096, damaged.end(), fill);
      ASSERT_TRUE(UndarkScanBytes(damaged, layout, [](UndarkRow&, std::uint32_t) {}).Ok());
    }
  }
}

}  // namespace
