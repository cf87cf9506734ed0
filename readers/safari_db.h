#pragma once
// The web browser's history and bookmarks (data category 7).
//
// CSafariDB reads one of two databases, chosen by the Open param:
//   0 History.db    the visits joined with their pages (history_visits,
//                   history_items), plus visits rebuilt from deleted rows of
//                   the file and of its write-ahead log (those of the log
//                   marked so): layout 21 finds the pages (id from the cell,
//                   url) and layout 10 the visits (history_item, visit_time,
//                   title) where the tables have the shapes those were made
//                   for, a layout made from the live table finds them in
//                   every other shape; values are taken by column name, and
//                   only from rows on the table's own or free pages. A
//                   rebuilt visit of a live visit's page and time (an older
//                   version of it) or that repeats a known one is dropped
//   1 Bookmarks.db  every bookmark of "bookmarks" (type 0) with the name of
//                   the folder it is in; the folders themselves (type 1)
//                   are no pages and are not listed
// The rebuilt visits are merged as every other reader merges (see
// db/merge_recovered.h): they stand in front of the live visits, in the
// order the scan found them, and of two with one VisitKey the later found is
// kept. Listing them after the live visits, last found first, would put what
// the user came to recover behind the whole live history, in an order no
// other category has; and that reversed order would tell nothing the scan
// order does not: both follow the layout of the file, not the time of the
// visits.
// SafariCollection finds them in a backup (in a folder backup under their
// relative paths): History.db of the default profile and, from iOS 17, one
// History.db per profile the owner made (Library/Safari/Profiles/<UUID>/),
// and Bookmarks.db. It keeps every reader and one list: the histories
// first, a visit listed once however many of the files hold it, then the
// bookmarks.
//
// Threads: LoadSafari and Open run on the analysis worker; afterwards the
// records are only read until the collection is destroyed.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/db_sqlite.h"
#include "db/progress.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class CExportWriter;
}

namespace readers {

// Open params of CSafariDB.
inline constexpr int kSafariHistory = 0;
inline constexpr int kSafariBookmarks = 1;

// One visited page or one bookmark. Texts are UTF-8.
class DBITEM_Safari : public db::BaseItem {
 public:
  const std::string& Title() const override { return pageTitle; }
  const std::string& SearchText() const override { return pageTitle; }

  std::int32_t isBookmark = 0;      // 1 for a bookmark, 0 for a visit
  std::int32_t historyItemId = -1;  // the visited page's history_items id
  std::string pageTitle;
  std::string pageUrl;
  std::string folder;  // a bookmark's folder: the title of its parent row ("BookmarksBar"); empty when unknown
  // time: a visit's visit_time as Unix seconds; 0 for a bookmark.
};

class CSafariDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index (not owned; may be null).
  explicit CSafariDB(backup::CFileListDB* index = nullptr);
  ~CSafariDB() override;

  // Kind 0: the visits joined with their pages (History.db) or "bookmarks"
  // (Bookmarks.db); kind 1 (History.db): "history_items". "" otherwise.
  // A bookmarks row that is a folder hands back nothing.
  std::string GetTableName(int tableKind) override;
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // which: kSafariHistory or kSafariBookmarks. Loads the records (and for
  // History.db the rebuilt visits). Returns the base's status when the database
  // cannot be opened, else ok.
  base::Status Open(const std::string& path, int which) override;

  // The rebuilt visits that were kept, in the order the scan found them,
  // then the live records in table order. Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_Safari>>& Entries() const { return entries_; }

 private:
  void SeedPageAddresses();
  void RecoverSafariHistory();
  void MergeRecoveredVisits();
  void LoadFolderNames();

  // The analysis's index, kept for lookups of the files a record names.
  [[maybe_unused]] backup::CFileListDB* index_;
  std::vector<std::unique_ptr<DBITEM_Safari>> entries_;
  std::vector<std::unique_ptr<DBITEM_Safari>> recoveredVisits_;
  std::map<std::int64_t, std::string> urlById_;  // history_items id -> address
  std::map<std::int64_t, std::string> folderById_;  // bookmarks id of a folder -> its title, inside Open only
};

// Where the two databases are in a backup. History.db moved between iOS
// versions: older backups list it in the browser's app domain, iOS 14 ones
// in HomeDomain; the app domain is looked at first.
inline constexpr char kSafariAppDomain[] = "AppDomain-com.apple.mobilesafari";
inline constexpr char kSafariHomeDomain[] = "HomeDomain";
inline constexpr char kSafariHistoryPath[] = "Library/Safari/History.db";
inline constexpr char kSafariBookmarksPath[] = "Library/Safari/Bookmarks.db";
// The folder of the profiles' own folders, each named by the profile's UUID
// and holding its History.db (iOS 17 and later, in the app domain).
inline constexpr char kSafariProfilesFolder[] = "Library/Safari/Profiles";

// The Safari group of one analysis: the backup file index, the readers (any
// may be absent) and their records in one list.
class SafariCollection {
 public:
  // index: the analysis's backup file index (not owned; may be null).
  explicit SafariCollection(backup::CFileListDB* index = nullptr);
  ~SafariCollection();
  SafariCollection(const SafariCollection&) = delete;
  SafariCollection& operator=(const SafariCollection&) = delete;

  // History records, then bookmarks; the records belong to the readers.
  const std::vector<DBITEM_Safari*>& Records() const { return records_; }
  // One reader per History.db found: the default profile's first, then the
  // other profiles' in the order of their folders' names.
  const std::vector<std::unique_ptr<CSafariDB>>& HistoryReaders() const { return histories_; }
  const CSafariDB* BookmarksReader() const { return bookmarks_.get(); }

 private:
  friend int LoadSafari(SafariCollection& collection, backup::CFileListDB& index, db::AnalysisProgress* progress);

  backup::CFileListDB* index_;
  std::vector<std::unique_ptr<CSafariDB>> histories_;
  std::unique_ptr<CSafariDB> bookmarks_;
  std::vector<DBITEM_Safari*> records_;
};

// Looks up the History.db files and Bookmarks.db through index, opens a
// reader for each one found into collection (replacing what it held;
// progress 10 and 50 around the histories, 60 and 90 around the bookmarks)
// and builds its list. A visit (VisitKey and time) that an earlier history
// file listed already is not listed again. A database the backup lacks, or
// one that cannot be opened, contributes nothing. Returns 1.
int LoadSafari(SafariCollection& collection, backup::CFileListDB& index, db::AnalysisProgress* progress = nullptr);

// The History.db files of the owner's profiles (not the default one's) that
// index holds, in the order of their folders' names; in a manifest backup
// in the app domain or HomeDomain, in a folder backup below
// kSafariProfilesFolder. Stored paths, each once.
std::vector<std::string> FindProfileHistories(backup::CFileListDB& index);

// The key under which a rebuilt visit repeats a known record: its whole
// title and its whole address, kept apart by a zero byte, so that records
// differing anywhere in either keep apart.
std::string VisitKey(const DBITEM_Safari& record);

// Writes the header "标题,链接" and one line per record (in the order given;
// records of other types are passed over) to writer, each with the record's
// deleted flag. The title passes db::CsvQuoteField; in the address a comma,
// a quote or a line break is percent-encoded, so the line keeps two columns
// and the address still leads to the page. Runs on the recovery worker.
void WriteSafariCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& records);

}  // namespace readers
