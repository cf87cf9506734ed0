#include "readers/safari_db.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "backup/file_list_db.h"
#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/progress.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "readers/live_table.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kRecordsKind = 0;
constexpr int kPagesKind = 1;    // History.db only
constexpr int kFoldersKind = 2;  // Bookmarks.db only

constexpr char kHistoryTable[] =
    "history_visits inner join history_items on history_visits.history_item=history_items.id";
constexpr char kPagesTable[] = "history_items";
constexpr char kBookmarksTable[] = "bookmarks";
// bookmarks.type of a folder (a bookmark is 0).
constexpr int kBookmarkFolderType = 1;
constexpr char kBookmarkFoldersSql[] = "Select id, title From bookmarks Where type = 1;";
// A profile's history below kSafariProfilesFolder: "<folder>/History.db".
constexpr char kProfileHistoryName[] = "History.db";

// Deleted-row layouts of History.db and the shapes they were made for: every
// other shape is scanned with a layout made from its live table.
constexpr int kPagesLayout = 21;
constexpr std::size_t kPagesColumns = 9;
constexpr int kVisitsLayout = 10;
constexpr std::size_t kVisitsColumns = 13;
constexpr char kVisitsTable[] = "history_visits";

// Visit times are seconds since 2001; a value past 2^32 (the year 2137) is
// not one.
constexpr double kVisitTimeLimit = 4294967296.0;

bool IsInteger(const db::undark::UndarkValue& value) {
  return (value.type >= 1 && value.type <= 6) || value.type == 8 || value.type == 9;
}

// The value of the column at index in row (one value per column of the live
// table); NULL for a column the table lacks.
const db::undark::UndarkValue& ValueAt(const db::undark::UndarkRow& row, int index) {
  static const db::undark::UndarkValue kNull;
  return index >= 0 && static_cast<std::size_t>(index) < row.size() ? row[static_cast<std::size_t>(index)] : kNull;
}

// Where a recovered visit holds the columns it is read from, by name in
// the live table; -1 for a column it lacks.
struct VisitColumns {
  explicit VisitColumns(const LiveTable& table)
      : historyItem(table.Index("history_item")),
        visitTime(table.Index("visit_time")),
        title(table.Index("title")),
        flags{table.Index("load_successful"), table.Index("http_non_get"), table.Index("synthesized")} {}

  int historyItem, visitTime, title;
  std::array<int, 3> flags;
};

// The scan lets through byte runs that only look like a visit (the schema's
// own text on the first page passes); a visit must also hold the types its
// columns hold: a page id, a time (a whole one stored as an integer), a
// title or NULL, and its flags.
bool LooksLikeVisit(const db::undark::UndarkRow& row, const VisitColumns& at) {
  const db::undark::UndarkValue& item = ValueAt(row, at.historyItem);
  if (!IsInteger(item) || db::undark::UndarkValueToInt64(item) <= 0) return false;
  const db::undark::UndarkValue& time = ValueAt(row, at.visitTime);
  const double seconds = time.type == db::undark::kTypeDouble ? time.real : static_cast<double>(time.number);
  if ((time.type != db::undark::kTypeDouble && !IsInteger(time)) || !std::isfinite(seconds) || seconds < 0 ||
      seconds >= kVisitTimeLimit) {
    return false;
  }
  const db::undark::UndarkValue& title = ValueAt(row, at.title);
  if (title.type != db::undark::kTypeNull && title.type != db::undark::kTypeText) return false;
  return std::all_of(at.flags.begin(), at.flags.end(),
                     [&row](int flag) { return flag < 0 || IsInteger(ValueAt(row, flag)); });
}

// The key under which a recovered visit is a live one, older: its page and
// its time, which no two visits share.
std::string VisitMoment(std::int64_t historyItem, double time) {
  return std::to_string(historyItem) + "/" + db::FormatFixed(time);
}

// One live history_items row: a page's id and address.
class PageItem : public db::BaseItem {
 public:
  std::int64_t id = 0;
  std::string url;
};

// One bookmarks row that is a folder: its id and title.
class FolderItem : public db::BaseItem {
 public:
  std::int64_t id = 0;
  std::string title;
};

// The key under which a visit one history file listed is not listed again
// from another: VisitKey and the visit's time.
std::string ListedVisitKey(const DBITEM_Safari& record) {
  std::string key = VisitKey(record);
  key += '\0';
  key += db::FormatFixed(record.time);
  return key;
}

// Whether relativePath is "<kSafariProfilesFolder>/<one folder>/History.db":
// a manifest lookup's wildcard also spans deeper folders.
bool IsProfileHistoryPath(std::string_view relativePath) {
  const std::string_view folder = kSafariProfilesFolder;
  if (relativePath.size() <= folder.size() + 1 || !relativePath.starts_with(folder) ||
      relativePath[folder.size()] != '/') {
    return false;
  }
  const std::string_view rest = relativePath.substr(folder.size() + 1);
  const auto slash = rest.find('/');
  return slash != std::string_view::npos && slash > 0 && rest.substr(slash + 1) == kProfileHistoryName;
}

// An address as one CSV and HTML cell: the characters that would end the
// cell or the line are percent-encoded, which leaves the address usable.
std::string UrlField(const std::string& url) {
  std::string field;
  field.reserve(url.size());
  for (const char c : url) {
    switch (c) {
      case ',': field += "%2C"; break;
      case '"': field += "%22"; break;
      case '\r': field += "%0D"; break;
      case '\n': field += "%0A"; break;
      default: field += c;
    }
  }
  return field;
}

}  // namespace

// ---- CSafariDB ----

CSafariDB::CSafariDB(backup::CFileListDB* index) : index_(index) {}

CSafariDB::~CSafariDB() = default;

std::string CSafariDB::GetTableName(int tableKind) {
  if (tableKind == kRecordsKind && openParam == kSafariHistory) return kHistoryTable;
  if (tableKind == kRecordsKind && openParam == kSafariBookmarks) return kBookmarksTable;
  if (tableKind == kPagesKind && openParam == kSafariHistory) return kPagesTable;
  if (tableKind == kFoldersKind && openParam == kSafariBookmarks) return kBookmarksTable;
  return "";
}

void CSafariDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (tableKind == kRecordsKind && (openParam == kSafariHistory || openParam == kSafariBookmarks)) {
    auto record = std::make_unique<DBITEM_Safari>();
    if (openParam == kSafariHistory) {
      record->historyItemId = query.GetIntField(query.FieldIndex("history_item"));
      record->time = db::UnixFromAppleSeconds(query.GetFloatField(query.FieldIndex("visit_time")));
    } else {
      // A folder is no page: only its name is kept, for its bookmarks.
      if (query.GetIntField(query.FieldIndex("type")) == kBookmarkFolderType) return;
      record->isBookmark = 1;
      const auto folder = folderById_.find(query.GetInt64Field(query.FieldIndex("parent"), -1));
      if (folder != folderById_.end()) record->folder = folder->second;
    }
    record->pageTitle = db::FieldText(query, "title");
    record->pageUrl = db::FieldText(query, "url");
    out = std::move(record);
    return;
  }
  if (tableKind == kPagesKind && openParam == kSafariHistory) {
    auto page = std::make_unique<PageItem>();
    page->id = query.GetInt64Field(query.FieldIndex("id"));
    page->url = db::FieldText(query, "url");
    out = std::move(page);
    return;
  }
  if (tableKind == kFoldersKind && openParam == kSafariBookmarks) {
    auto folder = std::make_unique<FolderItem>();
    folder->id = query.GetInt64Field(query.FieldIndex("id"));
    folder->title = db::FieldText(query, "title");
    out = std::move(folder);
    return;
  }
  CDbSqlite::ParseRow(tableKind, out, query);
}

base::Status CSafariDB::Open(const std::string& path, int which) {
  if (base::Status opened = CDbSqlite::Open(path, which); !opened.Ok()) return opened;
  entries_.clear();
  recoveredVisits_.clear();
  urlById_.clear();
  folderById_.clear();
  if (openParam == kSafariBookmarks) LoadFolderNames();
  db::ItemList loaded;
  LoadTable(kRecordsKind, loaded);
  for (auto& item : loaded) {
    // Kind 0 rows are made by ParseRow above, always as Safari records.
    entries_.emplace_back(static_cast<DBITEM_Safari*>(item.release()));
  }
  if (openParam == kSafariHistory) {
    SeedPageAddresses();
    RecoverSafariHistory();
  }
  MergeRecoveredVisits();
  folderById_.clear();
  return {};
}

void CSafariDB::LoadFolderNames() {
  db::ItemList folders;
  Query(kFoldersKind, kBookmarkFoldersSql, folders);
  for (const auto& item : folders) {
    const auto& folder = static_cast<const FolderItem&>(*item);
    folderById_.try_emplace(folder.id, folder.title);
  }
}

void CSafariDB::SeedPageAddresses() {
  // The pages SQL still returns come first: the scan cannot read a page whose
  // address spills onto overflow pages, and a freed cell's id bytes are
  // overwritten, so a rebuilt page may carry another page's id.
  db::ItemList pages;
  LoadTable(kPagesKind, pages);
  for (const auto& item : pages) {
    const auto& page = static_cast<const PageItem&>(*item);
    urlById_.try_emplace(page.id, page.url);
  }
}

void CSafariDB::RecoverSafariHistory() {
  // Pages: the address of a page whose live row is gone.
  if (const std::optional<LiveTable> pages = LiveTable::Read(*this, kPagesTable)) {
    const int id = pages->Index("id");
    const int url = pages->Index("url");
    const FoundRowSink page = [&](db::undark::UndarkRow& row, const RowPlace&) {
      std::int64_t number = 0;
      const std::string& idText = ValueAt(row, id).text;
      if (std::from_chars(idText.data(), idText.data() + idText.size(), number).ec != std::errc() || number <= 0) {
        return;  // no id: the cell's start was overwritten (ids start at 1)
      }
      urlById_.try_emplace(number, db::undark::UndarkValueText(ValueAt(row, url)));
    };
    if (pages->HasShape(kPagesColumns, {{0, "id"}, {1, "url"}})) {
      ScanLiveTable(*this, *pages, kPagesLayout, page);
    } else {
      ScanLiveTable(*this, *pages, page);
    }
  }
  const std::optional<LiveTable> visits = LiveTable::Read(*this, kVisitsTable);
  if (!visits) return;
  const VisitColumns at(*visits);
  const FoundRowSink visit = [&](db::undark::UndarkRow& row, const RowPlace& place) {
    if (!LooksLikeVisit(row, at)) return;
    auto recovered = std::make_unique<DBITEM_Safari>();
    recovered->historyItemId = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(ValueAt(row, at.historyItem)));
    recovered->pageTitle = db::undark::UndarkValueText(ValueAt(row, at.title));
    const db::undark::UndarkValue& time = ValueAt(row, at.visitTime);
    recovered->time =
        db::UnixFromAppleSeconds(time.type == db::undark::kTypeDouble ? time.real : static_cast<double>(time.number));
    recovered->deleted = 1;
    if (place.inWal) recovered->deletedFrom = db::BaseItem::DeletedFrom::kWal;
    recoveredVisits_.push_back(std::move(recovered));
  };
  if (visits->HasShape(kVisitsColumns, {{1, "history_item"}, {2, "visit_time"}, {3, "title"}})) {
    ScanLiveTable(*this, *visits, kVisitsLayout, visit);
  } else {
    ScanLiveTable(*this, *visits, visit);
  }
}

void CSafariDB::MergeRecoveredVisits() {
  // A live visit rewritten since (its title came after the page loaded)
  // leaves its older version behind: the same page at the same time.
  std::set<std::string> liveMoments;
  for (const auto& entry : entries_) {
    if (entry->isBookmark == 0) liveMoments.insert(VisitMoment(entry->historyItemId, entry->time));
  }
  const auto momentOf = [](const DBITEM_Safari& visit) { return VisitMoment(visit.historyItemId, visit.time); };
  std::erase_if(recoveredVisits_, [&](const std::unique_ptr<DBITEM_Safari>& visit) {
    return liveMoments.contains(momentOf(*visit));
  });
  db::DropLogCopiesOfFileRecords(recoveredVisits_, momentOf);
  // A visit is keyed by its page's address as well, so every visit gets it
  // first.
  for (const auto& visit : recoveredVisits_) {
    if (const auto url = urlById_.find(visit->historyItemId); url != urlById_.end()) visit->pageUrl = url->second;
  }
  db::MergeRecovered(entries_, std::move(recoveredVisits_), VisitKey);
  recoveredVisits_.clear();
}

// ---- SafariCollection ----

SafariCollection::SafariCollection(backup::CFileListDB* index) : index_(index) {}
SafariCollection::~SafariCollection() = default;

std::vector<std::string> FindProfileHistories(backup::CFileListDB& index) {
  std::vector<std::string> paths;
  if (index.Mode() == backup::SourceFolder) {
    const auto profiles = platform::FindIgnoringCase(index.BackupFolder(), kSafariProfilesFolder);
    if (!profiles || !platform::IsFolder(*profiles)) return paths;
    for (const platform::FolderEntry& entry : platform::ListFolder(*profiles)) {
      if (!entry.isFolder) continue;
      const auto history = platform::FindIgnoringCase(*profiles / entry.name, kProfileHistoryName);
      if (history && platform::IsRegularFile(*history)) paths.push_back(history->string());
    }
    return paths;
  }
  std::vector<std::pair<std::string, std::string>> found;  // relative path, stored path
  for (const char* domain : {kSafariAppDomain, kSafariHomeDomain}) {
    backup::FileRecordList records;
    index.FindFileRecords(std::string(kSafariProfilesFolder) + "/%/" + kProfileHistoryName, domain, records, false);
    for (const auto& record : records) {
      if (IsProfileHistoryPath(record->relativePath)) found.emplace_back(record->relativePath, record->storedPath);
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [relativePath, storedPath] : found) {
    if (std::find(paths.begin(), paths.end(), storedPath) == paths.end()) paths.push_back(storedPath);
  }
  return paths;
}

int LoadSafari(SafariCollection& collection, backup::CFileListDB& index, db::AnalysisProgress* progress) {
  collection.index_ = &index;
  collection.records_.clear();
  collection.histories_.clear();
  collection.bookmarks_.reset();

  std::vector<std::string> histories;
  for (const char* domain : {kSafariAppDomain, kSafariHomeDomain}) {
    histories.clear();
    if (index.FindFilePaths(kSafariHistoryPath, domain, histories, false) != 0 && !histories.empty()) break;
  }
  histories.resize(std::min<std::size_t>(histories.size(), 1));
  for (const std::string& path : FindProfileHistories(index)) histories.push_back(path);
  if (!histories.empty()) db::ReportProgress(progress, false, 10);
  for (const std::string& path : histories) {
    auto history = std::make_unique<CSafariDB>(&index);
    index.OpenDatabase(*history, path, kSafariHistory);
    history->Close();  // the records stay; the connection is not needed again
    collection.histories_.push_back(std::move(history));
  }
  if (!histories.empty()) db::ReportProgress(progress, false, 50);

  std::vector<std::string> paths;
  if (index.FindFilePaths(kSafariBookmarksPath, kSafariHomeDomain, paths, false) != 0 && !paths.empty()) {
    db::ReportProgress(progress, false, 60);
    collection.bookmarks_ = std::make_unique<CSafariDB>(&index);
    index.OpenDatabase(*collection.bookmarks_, paths.front(), kSafariBookmarks);
    collection.bookmarks_->Close();
    db::ReportProgress(progress, false, 90);
  }

  // Each profile keeps its own file; a visit found in two of them (or the
  // same file listed twice) is one visit. Repeats inside one file stay, as
  // they always have.
  std::set<std::string> listed;
  for (const auto& history : collection.histories_) {
    for (const auto& entry : history->Entries()) {
      if (listed.count(ListedVisitKey(*entry)) == 0) collection.records_.push_back(entry.get());
    }
    for (const auto& entry : history->Entries()) listed.insert(ListedVisitKey(*entry));
  }
  if (collection.bookmarks_) {
    for (const auto& entry : collection.bookmarks_->Entries()) collection.records_.push_back(entry.get());
  }
  return 1;
}

std::string VisitKey(const DBITEM_Safari& record) {
  std::string key = record.pageTitle;
  key += '\0';
  key += record.pageUrl;
  return key;
}

void WriteSafariCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& records) {
  std::vector<const DBITEM_Safari*> selected;
  for (const db::BaseItem* item : records) {
    if (const auto* record = dynamic_cast<const DBITEM_Safari*>(item)) selected.push_back(record);
  }
  writer.BeginList(std::max<int>(1, static_cast<int>(selected.size())));
  writer.SetHeader("标题,链接\r\n");
  for (const DBITEM_Safari* record : selected) {
    if (writer.Cancelled()) return;
    const std::string line = db::CsvQuoteField(record->pageTitle) + "," + UrlField(record->pageUrl) + "\r\n";
    writer.AddLine(exporting::kToCsvAndHtml, line, record->deleted != 0);
  }
}

}  // namespace readers
