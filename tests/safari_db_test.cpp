#include "readers/safari_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "db/progress.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/message_target.h"
#include "testing/progress_recorder.h"
#include "testing/sample_backup.h"
#include "testing/sample_safari.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::SampleBookmark;
using sample::SamplePage;
using sample::SampleVisit;

std::string WriteDatabase(const platform::TempFolder& folder, const std::string& name,
                          const sample::SqliteFile& database) {
  const fs::path path = folder.Path() / name;
  database.WriteTo(path);
  return path.string();
}

struct Shown {
  std::string title;
  std::string url;
  int deleted;
  bool operator==(const Shown&) const = default;
};
void PrintTo(const Shown& shown, std::ostream* out) {
  *out << "{" << shown.title << ", " << shown.url << ", " << shown.deleted << "}";
}

std::vector<Shown> ShownEntries(const CSafariDB& reader) {
  std::vector<Shown> shown;
  for (const auto& entry : reader.Entries()) shown.push_back({entry->pageTitle, entry->pageUrl, entry->deleted});
  return shown;
}

// Opens a History.db built from pages and visits.
std::vector<Shown> OpenHistory(const std::vector<SamplePage>& pages, const std::vector<SampleVisit>& visits) {
  const platform::TempFolder folder("velmora-safari");
  const sample::SqliteFile database(sample::SafariHistorySql(pages, visits));
  CSafariDB reader;
  EXPECT_TRUE(reader.Open(WriteDatabase(folder, "History.db", database), kSafariHistory).Ok());
  return ShownEntries(reader);
}

TEST(CSafariDB, ListsDeletedVisitsThenLiveOnesEachOnce) {
  const std::vector<SamplePage> pages = sample::SampleHistoryPages();
  const std::vector<SampleVisit> visits = sample::SampleHistoryVisits();
  const std::vector<Shown> shown = OpenHistory(pages, visits);

  auto urlOf = [&pages](std::int64_t id) {
    for (const SamplePage& page : pages) {
      if (page.id == id) return page.url;
    }
    return std::string();
  };
  std::vector<Shown> live;
  for (const SampleVisit& visit : visits) {
    if (!visit.deleted) live.push_back({visit.title, urlOf(visit.page), 0});
  }
  ASSERT_EQ(shown.size(), live.size() + 3);
  // The deleted visits lead, in the order the scan found them. A visit of a
  // page that is still there gets its address; the deleted page's freed cell
  // lost its id, so its visit keeps an empty address rather than another
  // page's.
  EXPECT_EQ(shown[0], (Shown{"北京南站_百度地图", urlOf(8), 1}));
  EXPECT_EQ(shown[1].title, "Apple iPhone 12 (A2404) 128GB 京东");
  EXPECT_EQ(shown[1].deleted, 1);
  EXPECT_TRUE(shown[1].url.empty() || shown[1].url == urlOf(6));
  EXPECT_EQ(shown[2], (Shown{"如何评价 iPhone 12？ - 知乎", urlOf(4), 1}));
  // The join's rows follow, in whatever order SQLite gives them, each once:
  // the scan finds the live visits too, and their repeats are dropped.
  std::vector<Shown> liveShown(shown.begin() + 3, shown.end());
  for (const Shown& wanted : live) {
    EXPECT_EQ(std::count(liveShown.begin(), liveShown.end(), wanted), std::count(live.begin(), live.end(), wanted))
        << wanted.title;
  }
}

TEST(CSafariDB, DropsDeletedVisitsThatRepeatAKnownOne) {
  const std::vector<Shown> shown = OpenHistory({{1, "https://a.cn/", false}, {2, "https://b.cn/", false}},
                                               {{1, 1, 626000000.5, "A", false},
                                                {2, 1, 626000100.5, "A", true},
                                                {3, 2, 626000200.5, "B", true},
                                                {4, 2, 626000300.5, "B", true},
                                                {5, 2, 626000400.5, "", true}});
  // Deleted visits lead, in the order the scan found them (the freed cells
  // of later rows lie lower in the page, so the last written comes first);
  // the one repeating the live visit is dropped, and the two of page B with
  // one title give one record.
  EXPECT_EQ(shown, (std::vector<Shown>{{"", "https://b.cn/", 1}, {"B", "https://b.cn/", 1}, {"A", "https://a.cn/", 0}}));
}

TEST(CSafariDB, KeepsDeletedVisitsThatDifferOnlyAfterTheirFirst256Characters) {
  const std::string title(300, 'x');
  const std::vector<Shown> shown = OpenHistory({{1, "https://a.cn/", false}},
                                               {{1, 1, 626000000.5, title + "1", true},
                                                {2, 1, 626000100.5, title + "2", true}});
  EXPECT_EQ(shown.size(), 2u);
}

TEST(CSafariDB, DeletedVisitOfAPageLongerThanADatabasePageGetsItsAddress) {
  // The scan cannot read a record spilling onto overflow pages; the page's
  // address comes from the live table.
  const std::string url = "https://so.toutiao.com/search?keyword=" + std::string(6000, 'q');
  const std::vector<Shown> shown = OpenHistory({{1, url, false}}, {{1, 1, 626000000.5, "头条搜索", false},
                                                                   {2, 1, 626000100.5, "头条搜索 2", true}});
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].title, "头条搜索 2");
  EXPECT_EQ(shown[0].deleted, 1);
  EXPECT_EQ(shown[1].title, "头条搜索");
  EXPECT_TRUE(shown[0].url == url && shown[1].url == url);
}

TEST(CSafariDB, ListsBookmarksWithTheirFoldersButNeitherFoldersNorRemovedOnes) {
  const platform::TempFolder folder("velmora-safari");
  const sample::SqliteFile database(sample::SafariBookmarksSql(sample::SampleBookmarks()));
  CSafariDB reader;
  ASSERT_TRUE(reader.Open(WriteDatabase(folder, "Bookmarks.db", database), kSafariBookmarks).Ok());
  EXPECT_EQ(ShownEntries(reader), (std::vector<Shown>{{"百度", "https://www.baidu.com/", 0},
                                                      {"新浪新闻", "https://news.sina.com.cn/", 0},
                                                      {"Apple (中国大陆)", "https://www.apple.com.cn/", 0},
                                                      {"中国铁路12306", "https://www.12306.cn/index/", 0},
                                                      {"携程旅行", "https://www.ctrip.com/", 0}}));
  std::vector<std::string> folders;
  for (const auto& entry : reader.Entries()) {
    EXPECT_EQ(entry->isBookmark, 1);
    EXPECT_EQ(entry->time, 0);
    folders.push_back(entry->folder);
  }
  EXPECT_EQ(folders, (std::vector<std::string>{"BookmarksBar", "BookmarksBar", "Root", "Root", "旅行"}));
}

TEST(CSafariDB, VisitsCarryTheirTime) {
  const platform::TempFolder folder("velmora-safari");
  const sample::SqliteFile database(sample::SafariHistorySql({{1, "https://a.cn/", false}},
                                                              {{1, 1, 626000000.5, "A", false},
                                                               {2, 1, 626000100.25, "A2", true}}));
  CSafariDB reader;
  ASSERT_TRUE(reader.Open(WriteDatabase(folder, "History.db", database), kSafariHistory).Ok());
  ASSERT_EQ(reader.Entries().size(), 2u);
  // The rebuilt visit first, with the time its row still holds.
  EXPECT_EQ(reader.Entries()[0]->deleted, 1);
  EXPECT_EQ(reader.Entries()[0]->time, 626000100.25 + 978307200);
  EXPECT_EQ(reader.Entries()[1]->time, 626000000.5 + 978307200);
}

// Visits deleted in the file and visits written and deleted again after the
// last checkpoint, which live only in older frames of the -wal, in the
// sample's shape (layouts 21 and 10), with the pages' status_code of current
// stores (a layout made from the live table) and with a visits column more:
// each comes back once, with its page's address, those of the log marked
// so; an older version of a live visit (its title came later, in the file
// or in the log) does not come back.
TEST(CSafariDB, VisitsDeletedInTheFileAndInTheLogComeBackOnceInEveryShape) {
  const std::string schema = sample::SafariHistorySql({}, {});
  const std::string withStatus = schema + "ALTER TABLE history_items ADD COLUMN status_code INTEGER NOT NULL DEFAULT 0;";
  const std::string widerVisits = withStatus + "ALTER TABLE history_visits ADD COLUMN context INTEGER NOT NULL DEFAULT 0;";
  const auto url = [](int n) { return "https://site" + std::to_string(n % 5) + ".cn/page/" + std::to_string(n); };
  const auto title = [](int n) { return "标题 " + std::to_string(n) + std::string(static_cast<std::size_t>(n % 3) * 25, '~'); };
  const auto visit = [&](int n) {
    return "INSERT INTO history_items (id, url, domain_expansion, visit_count, daily_visit_counts, "
           "should_recompute_derived_visit_counts, visit_count_score) VALUES (" + std::to_string(n) + ", '" + url(n) +
           "', 'site', 1, x'01', 0, 20);"
           "INSERT INTO history_visits (id, history_item, visit_time, title, load_successful, origin, score) VALUES (" +
           std::to_string(n) + ", " + std::to_string(n) + ", " + std::to_string(626000000 + n * 100) + ".5, '" +
           title(n) + "', 1, 0, 100);";
  };
  for (const std::string& shape : {schema, withStatus, widerVisits}) {
    std::string setup = shape;
    for (int n = 1; n <= 40; ++n) setup += visit(n);
    setup += "DELETE FROM history_visits WHERE id IN (5, 6, 7);";
    setup += "UPDATE history_visits SET title = 'later title 10' WHERE id = 10;";
    std::string recent;
    for (int n = 41; n <= 46; ++n) recent += visit(n);
    recent += "DELETE FROM history_visits WHERE id IN (42, 44);";
    recent += "DELETE FROM history_visits WHERE id = 20;";  // whole in the file still
    recent += "UPDATE history_visits SET title = 'later title 15' WHERE id = 15;";
    const sample::SqliteFile database(setup, recent, sample::SqliteFile::Journal::kWalPending);
    const platform::TempFolder folder("velmora-safari");
    CSafariDB reader;
    ASSERT_TRUE(reader.Open(WriteDatabase(folder, "History.db", database), kSafariHistory).Ok());
    std::map<std::string, std::pair<std::string, db::BaseItem::DeletedFrom>> recovered;
    std::size_t live = 0;
    for (const auto& entry : reader.Entries()) {
      if (entry->deleted == 0) {
        ++live;
        continue;
      }
      EXPECT_TRUE(recovered.emplace(entry->pageTitle, std::pair{entry->pageUrl, entry->deletedFrom}).second)
          << "twice: " << entry->pageTitle;
    }
    EXPECT_EQ(live, 46u - 6u);
    const std::vector<std::uint8_t> fileBytes = database.DatabaseBytes();
    const std::vector<std::uint8_t> walBytes = database.WalBytes();
    const std::string bytes = std::string(fileBytes.begin(), fileBytes.end()) + std::string(walBytes.begin(), walBytes.end());
    using From = db::BaseItem::DeletedFrom;
    std::map<std::string, std::pair<std::string, From>> expected;
    for (const auto& [n, from] : {std::pair{5, From::kFreeSpace}, {6, From::kFreeSpace}, {7, From::kFreeSpace},
                                  {20, From::kFreeSpace}, {42, From::kWal}, {44, From::kWal}}) {
      if (bytes.find(title(n)) != std::string::npos) expected.emplace(title(n), std::pair{url(n), from});
    }
    EXPECT_GE(expected.size(), 5u);
    EXPECT_EQ(recovered, expected) << shape.substr(schema.size());
  }
}

TEST(CSafariDB, MissingOrForeignDatabasesGiveNothing) {
  const platform::TempFolder folder("velmora-safari");
  CSafariDB missing;
  EXPECT_FALSE(missing.Open((folder.Path() / "History.db").string(), kSafariHistory).Ok());
  EXPECT_TRUE(missing.Entries().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "History.db"));

  // A bookmarks file opened as history: no history tables, nothing read.
  const sample::SqliteFile bookmarks(sample::SafariBookmarksSql(sample::SampleBookmarks()));
  CSafariDB foreign;
  EXPECT_TRUE(foreign.Open(WriteDatabase(folder, "Bookmarks.db", bookmarks), kSafariHistory).Ok());
  EXPECT_TRUE(foreign.Entries().empty());
}

TEST(WriteSafariCsv, QuotesTitlesAndKeepsAddressesInOneColumn) {
  DBITEM_Safari visit;
  visit.pageTitle = "百度一下,你就知道";
  visit.pageUrl = "https://www.baidu.com/";
  DBITEM_Safari recovered;
  recovered.pageTitle = "Say \"hi\"";
  recovered.pageUrl = "https://example.cn/list?ids=1,2&q=\"x\"";
  recovered.deleted = 1;
  DBITEM_Safari untitled;
  untitled.isBookmark = 1;
  db::DBITEM_TbNameList notARecord;

  exporting::CExportWriter writer(nullptr, 7);
  WriteSafariCsv(writer, {&visit, &notARecord, &recovered, &untitled});
  EXPECT_EQ(writer.CsvText(),
            "标题,链接\r\n"
            "\"百度一下，你就知道\",https://www.baidu.com/\r\n"
            "\"Say \"\"hi\"\"\",https://example.cn/list?ids=1%2C2&q=%22x%22\r\n"
            "\"\",\r\n");
}

struct BackupCase {
  const char* name;
  sample::BackupMode mode;
  const char* historyDomain;  // nullptr: no History.db
  bool withBookmarks;
  std::vector<int> progress;
  bool withProfile = false;  // a second profile's History.db (iOS 17)
};
void PrintTo(const BackupCase& backupCase, std::ostream* out) { *out << backupCase.name; }

class SafariBackups : public ::testing::TestWithParam<BackupCase> {};

TEST_P(SafariBackups, LoadSafariListsHistoryThenBookmarks) {
  const BackupCase& param = GetParam();
  const sample::SqliteFile history(
      sample::SafariHistorySql(sample::SampleHistoryPages(), sample::SampleHistoryVisits()));
  const sample::SqliteFile bookmarks(sample::SafariBookmarksSql(sample::SampleBookmarks()));
  sample::SampleBackupBuilder builder;
  if (param.historyDomain != nullptr) {
    builder.AddDatabase(param.historyDomain, sample::kSafariHistoryRelativePath, history);
  }
  if (param.withBookmarks) {
    builder.AddDatabase(sample::kSafariBookmarksDomain, sample::kSafariBookmarksRelativePath, bookmarks);
  }
  if (param.withProfile) {
    builder.AddDatabase(sample::kSafariOldHistoryDomain, sample::kSafariProfileHistoryRelativePath,
                        sample::SqliteFile(sample::SafariHistorySql(sample::SampleProfileHistoryPages(),
                                                                    sample::SampleProfileHistoryVisits())));
    // Not a profile's history: a file deeper down, and one of another name.
    builder.AddText(sample::kSafariOldHistoryDomain, "Library/Safari/Profiles/A/B/History.db", "not read");
    builder.AddText(sample::kSafariOldHistoryDomain, "Library/Safari/Profiles/A/XHistory.db", "not read");
  }
  builder.AddText("HomeDomain", "Library/Preferences/com.apple.mobilesafari.plist", "<plist/>");
  const platform::TempFolder folder("velmora-safari");
  builder.Write(folder.Path(), param.mode);

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  SafariCollection collection(&index);
  sample::ProgressRecorder progress;
  EXPECT_EQ(LoadSafari(collection, index, progress.Progress()), 1);
  EXPECT_EQ(progress.Values(), param.progress);

  std::vector<const CSafariDB*> readers;
  for (const auto& reader : collection.HistoryReaders()) readers.push_back(reader.get());
  EXPECT_EQ(readers.size(), (param.historyDomain != nullptr ? 1u : 0u) + (param.withProfile ? 1u : 0u));
  readers.push_back(collection.BookmarksReader());
  std::vector<const DBITEM_Safari*> expected;
  for (const CSafariDB* reader : readers) {
    if (reader == nullptr) continue;
    for (const auto& entry : reader->Entries()) expected.push_back(entry.get());
  }
  const std::vector<DBITEM_Safari*>& records = collection.Records();
  EXPECT_EQ(std::vector<const DBITEM_Safari*>(records.begin(), records.end()), expected);
  std::size_t visits = 0;
  std::size_t bookmarkCount = 0;
  std::size_t profileVisits = 0;
  for (const DBITEM_Safari* record : records) {
    (record->isBookmark != 0 ? bookmarkCount : visits) += 1;
    // The second profile's visits are of December 2023.
    if (record->isBookmark == 0 && record->time > 1701446400) ++profileVisits;
  }
  EXPECT_EQ(visits, (param.historyDomain != nullptr ? 11u : 0u) + profileVisits);
  EXPECT_EQ(profileVisits, param.withProfile ? 5u : 0u);
  EXPECT_EQ(bookmarkCount, param.withBookmarks ? 5u : 0u);
}

TEST(LoadSafari, AVisitInTwoHistoryFilesIsListedOnce) {
  // The default profile's file again as a profile's, and a profile with one
  // visit more and one at another time: only what the first did not list.
  const std::vector<SamplePage> pages = sample::SampleHistoryPages();
  std::vector<SampleVisit> visits = sample::SampleHistoryVisits();
  const sample::SqliteFile history(sample::SafariHistorySql(pages, visits));
  visits.push_back({12, 7, 626600000.5, "iPhone 12 - Apple (中国大陆)", false});
  visits[0].appleSeconds += 60;
  const sample::SqliteFile other(sample::SafariHistorySql(pages, visits));
  for (const sample::BackupMode mode :
       {sample::BackupMode::kManifestDb, sample::BackupMode::kManifestMbdb, sample::BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    sample::SampleBackupBuilder builder;
    builder.AddDatabase(sample::kSafariOldHistoryDomain, sample::kSafariHistoryRelativePath, history);
    builder.AddDatabase(sample::kSafariOldHistoryDomain, "Library/Safari/Profiles/1-SAME/History.db", history);
    builder.AddDatabase(sample::kSafariOldHistoryDomain, "Library/Safari/Profiles/2-MORE/History.db", other);
    const platform::TempFolder folder("velmora-safari");
    builder.Write(folder.Path(), mode);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
    SafariCollection collection(&index);
    LoadSafari(collection, index);
    ASSERT_EQ(collection.HistoryReaders().size(), 3u);
    const std::vector<DBITEM_Safari*>& records = collection.Records();
    ASSERT_EQ(records.size(), 11u + 2u);
    std::vector<std::pair<std::string, double>> added;
    for (std::size_t i = 11; i < records.size(); ++i) added.emplace_back(records[i]->pageTitle, records[i]->time);
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, (std::vector<std::pair<std::string, double>>{
                         {"iPhone 12 - Apple (中国大陆)", 626600000.5 + 978307200},
                         {"百度一下，你就知道", 626000120.412 + 60 + 978307200}}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SafariBackups,
    ::testing::Values(
        BackupCase{"ManifestDbHistoryInHomeDomain", sample::BackupMode::kManifestDb, sample::kSafariHistoryDomain,
                   true, {10, 50, 60, 90}},
        BackupCase{"ManifestDbHistoryInAppDomain", sample::BackupMode::kManifestDb,
                   sample::kSafariOldHistoryDomain, true, {10, 50, 60, 90}},
        BackupCase{"ManifestMbdb", sample::BackupMode::kManifestMbdb, sample::kSafariHistoryDomain, true,
                   {10, 50, 60, 90}},
        BackupCase{"Folder", sample::BackupMode::kFolder, sample::kSafariHistoryDomain, true, {10, 50, 60, 90}},
        BackupCase{"ProfilesManifestDb", sample::BackupMode::kManifestDb, sample::kSafariOldHistoryDomain, true,
                   {10, 50, 60, 90}, true},
        BackupCase{"ProfilesManifestMbdb", sample::BackupMode::kManifestMbdb, sample::kSafariHistoryDomain, true,
                   {10, 50, 60, 90}, true},
        BackupCase{"ProfilesFolder", sample::BackupMode::kFolder, sample::kSafariOldHistoryDomain, true,
                   {10, 50, 60, 90}, true},
        BackupCase{"ProfileOnly", sample::BackupMode::kManifestDb, nullptr, false, {10, 50}, true},
        BackupCase{"WithoutBookmarks", sample::BackupMode::kManifestDb, sample::kSafariHistoryDomain, false,
                   {10, 50}},
        BackupCase{"WithoutHistory", sample::BackupMode::kManifestMbdb, nullptr, true, {60, 90}},
        BackupCase{"WithNeither", sample::BackupMode::kManifestDb, nullptr, false, {}}),
    [](const auto& backupCase) { return std::string(backupCase.param.name); });

// A copy of a real file from the shared samples, or nothing when absent.
std::optional<fs::path> CopyOfSample(const platform::TempFolder& folder, const std::string& relative) {
  const fs::path source = fs::path(VELMORA_SHARED_DIR) / "samples" / relative;
  if (!fs::exists(source)) return std::nullopt;
  const fs::path copy = folder.Path() / source.filename();
  fs::copy_file(source, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  return copy;
}

TEST(CSafariDB, ReadsTheBookmarksOfARealIos7Phone) {
  const platform::TempFolder folder("velmora-safari");
  const auto copy = CopyOfSample(folder, "OTAPKI-iphone/HomeDomain_Library_Safari_Bookmarks.db");
  if (!copy) GTEST_SKIP() << "no OTAPKI Bookmarks.db";
  CSafariDB reader;
  ASSERT_TRUE(reader.Open(copy->string(), kSafariBookmarks).Ok());
  // Twelve rows, of which three are the phone's folders (Root,
  // BookmarksBar, com.apple.ReadingList).
  const std::vector<Shown> shown = ShownEntries(reader);
  ASSERT_EQ(shown.size(), 9u);
  EXPECT_EQ(shown[0], (Shown{"Google", "http://www.google.com/", 0}));
  EXPECT_EQ(reader.Entries()[0]->folder, "Root");
  EXPECT_EQ(shown[8], (Shown{"Yahoo", "http://www.yahoo.com/", 0}));
  EXPECT_EQ(reader.Entries()[8]->folder, "BookmarksBar");
}

TEST(LoadSafari, FindsHistoryInHomeDomainOfARealIos14Manifest) {
  const platform::TempFolder folder("velmora-safari");
  if (!CopyOfSample(folder, "mvt/Manifest.db") || !CopyOfSample(folder, "mvt/Info.plist")) {
    GTEST_SKIP() << "no real manifest sample";
  }
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  SafariCollection collection(&index);
  LoadSafari(collection, index);
  // Both are listed; their stored files were not kept in the sample, so
  // they contribute no records.
  EXPECT_EQ(collection.HistoryReaders().size(), 1u);
  EXPECT_NE(collection.BookmarksReader(), nullptr);
  EXPECT_TRUE(collection.Records().empty());
}

}  // namespace
}  // namespace readers
