#include "db/db_sqlite.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "db/progress.h"
#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;

class PersonItem : public db::BaseItem {
 public:
  const std::string& Title() const override { return name; }
  std::string name;
};

// A reader of one table, "people", the way every real reader is built.
class PeopleReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int tableKind) override { return tableKind == 0 ? "people" : ""; }
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override {
    if (tableKind != 0) return CDbSqlite::ParseRow(tableKind, out, query);
    auto person = std::make_unique<PersonItem>();
    person->name = query.GetStringField(1);
    out = std::move(person);
  }
};

std::vector<std::string> Names(const db::ItemList& items) {
  std::vector<std::string> names;
  for (const auto& item : items) names.push_back(item->Title());
  return names;
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  sample::WriteBytes(path, bytes);
}

const char* kPeopleSql =
    "CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, age INTEGER);"
    "INSERT INTO people (name, age) VALUES ('Ann', 30), ('Bo', 41), ('Cai', 52);";

class CDbSqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Working copies go below a temporary root of this test, so that the
    // test can see them come and go.
    setenv("VELMORA_TEMP_DIR", (root_.Path() / "tmp").c_str(), 1);
    fs::create_directories(root_.Path() / "tmp");
    fs::create_directories(folder_);
  }
  void TearDown() override { unsetenv("VELMORA_TEMP_DIR"); }

  std::string Place(const sample::SqliteFile& database, const std::string& name = "people.db") {
    database.WriteTo(folder_ / name);
    return (folder_ / name).string();
  }
  std::size_t WorkingCopies() const { return platform::ListFolder(root_.Path() / "tmp").size(); }

  platform::TempFolder root_{"velmora-dbtest"};
  fs::path folder_ = root_.Path() / "backup";
};

TEST_F(CDbSqliteTest, LoadsATableAndReturnsItsColumnCount) {
  PeopleReader reader;
  ASSERT_TRUE(reader.Open(Place(sample::SqliteFile(kPeopleSql)), 0).Ok());
  EXPECT_EQ(reader.OpenCount(), 1);
  db::ItemList people;
  EXPECT_EQ(reader.LoadTable(0, people), 3);
  EXPECT_EQ(Names(people), (std::vector<std::string>{"Ann", "Bo", "Cai"}));
  EXPECT_EQ(reader.DbFolder(), folder_.string() + "/");

  db::ItemList none;
  EXPECT_EQ(reader.Query(0, "SELECT * FROM people WHERE age > ?;", none, {std::int64_t{99}}), 1);
  EXPECT_TRUE(none.empty());

  db::ItemList schema;
  EXPECT_EQ(reader.Query(db::kSchemaTableKind, "SELECT * FROM sqlite_master;", schema), 1);
  ASSERT_EQ(schema.size(), 1u);
  const auto& table = static_cast<const db::DBITEM_TbNameList&>(*schema[0]);
  EXPECT_EQ(table.type, "table");
  EXPECT_EQ(table.name, "people");
  EXPECT_EQ(table.rootpage, 2);
  EXPECT_NE(table.sql.find("CREATE TABLE people"), std::string::npos);
}

TEST_F(CDbSqliteTest, AnErrorInMidResultKeepsTheRowsReadSoFar) {
  PeopleReader reader;
  ASSERT_TRUE(reader.Open(Place(sample::SqliteFile(kPeopleSql)), 0).Ok());
  // abs() of the smallest integer fails at run time, on the row that asks.
  const std::string failOnCai =
      "SELECT id, CASE WHEN name = 'Cai' THEN abs(-9223372036854775807 - 1) ELSE name END FROM people;";
  db::ItemList people;
  EXPECT_EQ(reader.Query(0, failOnCai, people), 1);
  EXPECT_EQ(Names(people), (std::vector<std::string>{"Ann", "Bo"}));
  EXPECT_EQ(reader.LastError(), "SQLITE_ERROR[1]: integer overflow");

  const std::string failOnAnn =
      "SELECT id, CASE WHEN name = 'Ann' THEN abs(-9223372036854775807 - 1) ELSE name END FROM people;";
  db::ItemList none;
  EXPECT_EQ(reader.Query(0, failOnAnn, none), 0);
  EXPECT_TRUE(none.empty());

  // A statement that does not compile reads nothing; LoadTable gives 0 columns.
  EXPECT_EQ(reader.Query(0, "SELEC nothing;", none), 0);
  EXPECT_EQ(reader.LastError().rfind("SQLITE_ERROR[1]: near \"SELEC\"", 0), 0u) << reader.LastError();
}

TEST_F(CDbSqliteTest, AMissingFileNeverOpensAndIsNeverCreated) {
  PeopleReader reader;
  const fs::path missing = folder_ / "missing.db";
  EXPECT_FALSE(reader.Open(missing.string(), 0).Ok());
  EXPECT_EQ(reader.OpenCount(), 0);
  db::ItemList rows;
  EXPECT_EQ(reader.Query(0, "SELECT 1;", rows), 0);
  EXPECT_EQ(reader.LoadTable(0, rows), 0);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(reader.Open("", 0).Ok());
}

TEST_F(CDbSqliteTest, AQueryAfterCloseReopensTheSameFile) {
  PeopleReader reader;
  ASSERT_TRUE(reader.Open(Place(sample::SqliteFile(kPeopleSql)), 7).Ok());
  reader.Close();
  EXPECT_EQ(reader.OpenCount(), 0);
  db::ItemList people;
  EXPECT_EQ(reader.LoadTable(0, people), 3);
  EXPECT_EQ(reader.OpenCount(), 1);
  EXPECT_EQ(reader.OpenParam(), 7);
}

TEST_F(CDbSqliteTest, AFileThatIsNoDatabaseIsToldAtOpen) {
  // SQLite itself would open any file and fail only at the first statement;
  // a reader must tell a damaged file from an empty one.
  const fs::path junk = folder_ / "junk.db";
  std::ofstream(junk) << "this is not a database, just some text that is long enough";
  PeopleReader reader;
  const base::Status status = reader.Open(junk.string(), 0);
  EXPECT_EQ(status.Kind(), base::Status::Code::kCorrupt);
  EXPECT_EQ(status.File(), junk.string());
  EXPECT_NE(status.Message().find("SQLITE_NOTADB[26]: file is not a database"), std::string::npos) << status.Text();
  db::ItemList rows;
  EXPECT_EQ(reader.LoadTable(0, rows), 0);
  const fs::path missing = folder_ / "missing.db";
  EXPECT_EQ(reader.Open(missing.string(), 0).Kind(), base::Status::Code::kNotFound);
}

TEST_F(CDbSqliteTest, DamagedPagesMetByALoadAreKeptAsProblems) {
  // A large table spread over many pages; one of its leaf pages is then
  // overwritten, as a torn copy would leave it. The schema on page 1 stays.
  std::string sql = kPeopleSql;
  for (int i = 0; i < 400; ++i) {
    sql += "INSERT INTO people (name, age) VALUES ('person " + std::to_string(i) + " with a long enough name', " +
           std::to_string(i) + ");";
  }
  std::vector<std::uint8_t> bytes = sample::SqliteFile(sql).DatabaseBytes();
  const std::size_t pageSize = (std::size_t{bytes[16]} << 8) | bytes[17];
  ASSERT_GE(bytes.size(), 4 * pageSize);
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(2 * pageSize),
            bytes.begin() + static_cast<std::ptrdiff_t>(3 * pageSize), 0xA5);
  WriteFile(folder_ / "torn.db", bytes);
  PeopleReader reader;
  ASSERT_TRUE(reader.Open((folder_ / "torn.db").string(), 0).Ok());
  EXPECT_TRUE(reader.Problems().empty());
  db::ItemList people;
  reader.LoadTable(0, people);
  ASSERT_EQ(reader.Problems().size(), 1u);
  EXPECT_EQ(reader.Problems()[0].Kind(), base::Status::Code::kCorrupt);
  EXPECT_EQ(reader.Problems()[0].File(), (folder_ / "torn.db").string());
}

TEST_F(CDbSqliteTest, AWalModeDatabaseIsReadInPlaceWithoutWritingBesideIt) {
  const std::string path =
      Place(sample::SqliteFile(kPeopleSql, "", sample::SqliteFile::Journal::kWalCheckpointed));
  const auto before = sample::SnapshotFolder(folder_);
  {
    PeopleReader reader;
    ASSERT_TRUE(reader.Open(path, 0).Ok());
    db::ItemList people;
    EXPECT_EQ(reader.LoadTable(0, people), 3);
    EXPECT_EQ(people.size(), 3u);
    EXPECT_EQ(WorkingCopies(), 0u);
    reader.Close();
  }
  EXPECT_EQ(sample::SnapshotFolder(folder_), before);
}

TEST_F(CDbSqliteTest, TheNewestRowsInTheWalAreReadFromAPrivateCopy) {
  const std::string path = Place(sample::SqliteFile(
      kPeopleSql, "INSERT INTO people (name, age) VALUES ('Dan', 63);", sample::SqliteFile::Journal::kWalPending));
  ASSERT_TRUE(fs::exists(path + "-wal"));
  const auto before = sample::SnapshotFolder(folder_);
  PeopleReader reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  db::ItemList people;
  EXPECT_EQ(reader.LoadTable(0, people), 3);
  EXPECT_EQ(Names(people), (std::vector<std::string>{"Ann", "Bo", "Cai", "Dan"}));
  EXPECT_EQ(WorkingCopies(), 1u);
  EXPECT_EQ(reader.DbPath(), path);  // the reader still names the backup's file
  reader.Close();
  EXPECT_EQ(WorkingCopies(), 0u);
  EXPECT_EQ(sample::SnapshotFolder(folder_), before);

  // Reopening after Close makes a fresh copy and still sees the WAL's rows.
  db::ItemList again;
  EXPECT_EQ(reader.LoadTable(0, again), 3);
  EXPECT_EQ(again.size(), 4u);
}

TEST_F(CDbSqliteTest, ANamedCompanionIsReadUnderItsOwnName) {
  // In a manifest backup the log is stored under a hashed name of its own.
  const sample::SqliteFile database(kPeopleSql, "INSERT INTO people (name, age) VALUES ('Dan', 63);",
                                    sample::SqliteFile::Journal::kWalPending);
  WriteFile(folder_ / "0a1b", database.DatabaseBytes());
  WriteFile(folder_ / "9f8e", database.WalBytes());
  PeopleReader plain;
  ASSERT_TRUE(plain.Open((folder_ / "0a1b").string(), 0).Ok());
  db::ItemList withoutLog;
  plain.LoadTable(0, withoutLog);
  EXPECT_EQ(withoutLog.size(), 3u);

  PeopleReader reader;
  reader.SetWalCompanion((folder_ / "9f8e").string());
  ASSERT_TRUE(reader.Open((folder_ / "0a1b").string(), 0).Ok());
  db::ItemList people;
  reader.LoadTable(0, people);
  EXPECT_EQ(people.size(), 4u);
}

// ---- Which table owns each page ----

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
         (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
}

// The b-tree page type byte of a page (page 1's follows the file header).
std::uint8_t PageType(const std::vector<std::uint8_t>& bytes, std::size_t pageSize, std::uint32_t page) {
  return bytes[(page - 1) * pageSize + (page == 1 ? 100 : 0)];
}

TEST_F(CDbSqliteTest, PageOwnersNameTheTableOrIndexOfEveryBtreePage) {
  // Two b-trees of several pages each, and a third table dropped, whose
  // pages went to the freelist.
  std::string sql = std::string(kPeopleSql) + "CREATE INDEX people_name ON people (name);"
                    "CREATE TABLE gone (id INTEGER PRIMARY KEY, note TEXT); BEGIN;";
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    sql += "INSERT INTO people (name, age) VALUES ('person " + n + " with a long enough name', " + n + ");"
           "INSERT INTO gone (note) VALUES ('a note of the dropped table, number " + n + "');";
  }
  sql += "COMMIT; DROP TABLE gone;";
  const std::string path = Place(sample::SqliteFile(sql));
  const std::vector<std::uint8_t> bytes = platform::ReadWholeFile(path).value();
  const std::size_t pageSize = (std::size_t{bytes[16]} << 8) | bytes[17];
  const std::uint32_t pageCount = BigEndian32(bytes, 28);
  const std::uint32_t freePages = BigEndian32(bytes, 36);
  ASSERT_EQ(bytes.size(), pageCount * pageSize);
  ASSERT_GT(freePages, 2u);

  PeopleReader reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  const std::map<std::uint32_t, std::string> owners = reader.PageOwners();
  // No long values, so no overflow pages: every page is a b-tree page of a
  // live table or index, or a free one.
  EXPECT_EQ(owners.size() + freePages, pageCount);
  std::map<std::string, int> pagesOf;
  for (const auto& [page, name] : owners) {
    ++pagesOf[name];
    ASSERT_GE(page, 1u);
    ASSERT_LE(page, pageCount);
    const std::uint8_t type = PageType(bytes, pageSize, page);
    EXPECT_TRUE(type == 0x02 || type == 0x05 || type == 0x0A || type == 0x0D) << "page " << page << " type " << int{type};
  }
  EXPECT_EQ(owners.at(1), "sqlite_schema");
  EXPECT_GT(pagesOf["people"], 2);
  EXPECT_GT(pagesOf["people_name"], 2);
  EXPECT_EQ(pagesOf.size(), 3u) << "the dropped table's pages belong to no table";
  for (const std::string name : {"people", "people_name"}) {
    std::int64_t root = 0;
    ASSERT_TRUE(reader.QueryInt64("SELECT rootpage FROM sqlite_master WHERE name = ?;", root, {name}));
    EXPECT_EQ(owners.at(static_cast<std::uint32_t>(root)), name);
  }

  // A closed reader opens again for the map, as for any query.
  reader.Close();
  EXPECT_EQ(reader.PageOwners(), owners);
}

TEST_F(CDbSqliteTest, PageOwnersSeeTheDatabaseWithItsWalApplied) {
  std::string recent = "CREATE TABLE late (note TEXT); BEGIN;";
  for (int i = 0; i < 300; ++i) recent += "INSERT INTO late VALUES ('a row that only the log holds, " + std::to_string(i) + "');";
  recent += "COMMIT;";
  const std::string path = Place(sample::SqliteFile(kPeopleSql, recent, sample::SqliteFile::Journal::kWalPending));
  const std::uint32_t mainFilePages = BigEndian32(platform::ReadWholeFile(path).value(), 28);
  PeopleReader reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  int latePages = 0;
  for (const auto& [page, name] : reader.PageOwners()) {
    if (name != "late") continue;
    ++latePages;
    EXPECT_GT(page, mainFilePages) << "the log's table lies past the main file";
  }
  EXPECT_GT(latePages, 1);
}

// A table emptied in the log gives its pages to a table made there: the map
// with the log names the new table, the file's own map the old one, as the
// file still holds it.
TEST_F(CDbSqliteTest, FilePageOwnersSeeTheFileAsItsLastCheckpointLeftIt) {
  std::string setup = std::string(kPeopleSql) + "CREATE TABLE old (note TEXT); BEGIN;";
  for (int i = 0; i < 300; ++i) setup += "INSERT INTO old VALUES ('a row of the table the log empties, " + std::to_string(i) + "');";
  setup += "COMMIT;";
  std::string recent = "DELETE FROM old; CREATE TABLE late (note TEXT); BEGIN;";
  for (int i = 0; i < 300; ++i) recent += "INSERT INTO late VALUES ('a row that only the log holds, " + std::to_string(i) + "');";
  recent += "COMMIT;";
  const std::string path = Place(sample::SqliteFile(setup, recent, sample::SqliteFile::Journal::kWalPending));
  PeopleReader reader;
  ASSERT_TRUE(reader.Open(path, 0).Ok());
  ASSERT_FALSE(reader.WalPath().empty());
  std::set<std::uint32_t> interior;
  const std::map<std::uint32_t, std::string> withLog = reader.PageOwners();
  const std::map<std::uint32_t, std::string> file = reader.FilePageOwners(&interior);
  int taken = 0;
  for (const auto& [page, name] : file) {
    EXPECT_NE(name, "late");
    const auto now = withLog.find(page);
    if (name == "old" && now != withLog.end() && now->second == "late") ++taken;
  }
  EXPECT_GT(taken, 1) << "pages of the emptied table taken by the new one";
  EXPECT_FALSE(interior.empty()) << "the old table had more than one level";
  for (const std::uint32_t page : interior) EXPECT_EQ(file.at(page), "old");

  // Without a log the two maps are one.
  const std::string plain = Place(sample::SqliteFile(setup), "plain.db");
  PeopleReader plainReader;
  ASSERT_TRUE(plainReader.Open(plain, 0).Ok());
  EXPECT_EQ(plainReader.FilePageOwners(), plainReader.PageOwners());
}

TEST_F(CDbSqliteTest, PageOwnersAreEmptyWhenTheDatabaseCannotBeRead) {
  PeopleReader neverOpened;
  EXPECT_TRUE(neverOpened.PageOwners().empty());
  const fs::path junk = folder_ / "junk.db";
  std::ofstream(junk) << "this is not a database, just some text that is long enough";
  PeopleReader reader;
  EXPECT_FALSE(reader.Open(junk.string(), 0).Ok());
  const std::size_t problems = reader.Problems().size();
  EXPECT_TRUE(reader.PageOwners().empty());
  EXPECT_TRUE(reader.FilePageOwners().empty());
  EXPECT_EQ(reader.Problems().size(), problems);
}

TEST(CppSQLite3, ErrorTextsAndCodeNames) {
  struct Case {
    int code;
    const char* name;
  };
  const Case cases[] = {{0, "SQLITE_OK"},          {1, "SQLITE_ERROR"},    {14, "SQLITE_CANTOPEN"},
                        {25, "SQLITE_RANGE"},      {100, "SQLITE_ROW"},    {101, "SQLITE_DONE"},
                        {1000, "CPPSQLITE_ERROR"}, {200, "UNKNOWN_ERROR"}, {-1, "UNKNOWN_ERROR"}};
  for (const Case& c : cases) EXPECT_STREQ(db::CppSQLite3Exception::ErrorCodeAsString(c.code), c.name) << c.code;
  EXPECT_STREQ(db::CppSQLite3Exception(1000, "Invalid field index requested").ErrorMessage(),
               "CPPSQLITE_ERROR[1000]: Invalid field index requested");

  db::CppSQLite3DB closed;
  try {
    closed.ExecQuery("SELECT 1;");
    FAIL() << "a closed connection ran a statement";
  } catch (const db::CppSQLite3Exception& e) {
    EXPECT_STREQ(e.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Database not open");
  }
  db::CppSQLite3Query empty;
  EXPECT_THROW(empty.Eof(), db::CppSQLite3Exception);
}

TEST(CppSQLite3, ColumnsByNameNumberAndType) {
  const sample::SqliteFile file(kPeopleSql);
  platform::TempFolder folder("velmora-dbtest");
  WriteFile(folder.Path() / "p.db", file.DatabaseBytes());
  db::CppSQLite3DB connection;
  connection.OpenFile((folder.Path() / "p.db").string(), db::CppSQLite3DB::OpenMode::kImmutable);
  db::CppSQLite3Query query =
      connection.ExecQuery("SELECT name, age, NULL AS missing, x'00ff' AS bytes FROM people WHERE id = ?;",
                           {std::int64_t{2}});
  ASSERT_FALSE(query.Eof());
  EXPECT_EQ(query.NumFields(), 4);
  EXPECT_EQ(query.FieldIndex("age"), 1);
  EXPECT_EQ(query.FieldIndex("no such column"), -1);
  EXPECT_EQ(query.GetFieldText(-1), nullptr);  // a missing column reads as NULL
  EXPECT_EQ(query.GetInt64Field(query.FieldIndex("no such column"), 7), 7);
  EXPECT_EQ(query.GetStringField(0), "Bo");
  EXPECT_EQ(query.GetInt64Field(1), 41);
  EXPECT_EQ(query.GetFieldType(2), db::kSqliteNullType);
  const auto blob = query.GetFieldBlob(3);
  ASSERT_EQ(blob.size(), 2u);
  EXPECT_EQ(blob[1], 0xff);
  try {
    query.GetFieldText(4);
    FAIL() << "column 4 of 4 was read";
  } catch (const db::CppSQLite3Exception& e) {
    EXPECT_STREQ(e.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Invalid field index requested");
  }
  query.NextRow();
  EXPECT_TRUE(query.Eof());
  query.Finalize();
  EXPECT_NO_THROW(connection.CloseFile());
}

class RecordingTarget : public platform::IMessageTarget {
 public:
  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    posts.push_back({message, wParam, lParam});
  }
  struct Posted {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  std::vector<Posted> posts;
};

TEST(ReportProgress, PostsAbsoluteAndRelativePercentagesToItsTarget) {
  db::ReportProgress(nullptr, false, 50);  // nobody watches: nothing happens
  RecordingTarget target;
  db::AnalysisProgress progress(&target);
  db::ReportProgress(&progress, false, 10.9f);
  db::ReportProgress(&progress, true, 20);
  db::ReportProgress(&progress, true, 5.5f);
  // A second analysis has a progress of its own, starting from nothing.
  RecordingTarget other;
  db::AnalysisProgress second(&other);
  db::ReportProgress(&second, true, 7);
  ASSERT_EQ(target.posts.size(), 3u);
  EXPECT_EQ(target.posts[0].message, 0x816Du);
  EXPECT_EQ(target.posts[0].wParam, 0u);
  EXPECT_EQ(target.posts[0].lParam, 10);
  EXPECT_EQ(target.posts[1].lParam, 30);
  EXPECT_EQ(target.posts[2].lParam, 36);
  ASSERT_EQ(other.posts.size(), 1u);
  EXPECT_EQ(other.posts[0].lParam, 7);
}

}  // namespace
