#include "readers/reminder_store_db.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "backup/file_list_db.h"
#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "readers/live_table.h"
#include "readers/recovered_row.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kListKind = 0;
constexpr int kReminderKind = 1;

constexpr char kReminderTable[] = "ZREMCDREMINDER";
constexpr char kListTable[] = "ZREMCDBASELIST";
// iOS 13-15 keep every entity of the store in this one table.
constexpr char kObjectTable[] = "ZREMCDOBJECT";
constexpr char kReminderEntity[] = "REMCDReminder";

constexpr char kGroupDomain[] = "AppDomainGroup-group.com.apple.reminders";
constexpr char kHomeDomain[] = "HomeDomain";
// Manifest lookups (LIKE patterns, matched at the end of the relative path).
constexpr char kGroupStores[] = "Container_v1/Stores/Data-%.sqlite";
constexpr char kHomeStores[] = "Library/Reminders/Container_v1/Stores/Data-%.sqlite";
// The folder search: a part of the path.
constexpr char kStoresFolder[] = "Container_v1/Stores/Data-";
constexpr std::string_view kStoreFolder = "Container_v1/Stores/";
constexpr std::string_view kStorePrefix = "Data-";
constexpr std::string_view kStoreExtension = ".sqlite";

// A store file itself: Data-<name>.sqlite right inside Container_v1/Stores/,
// not its -wal or -shm, nor a file of a folder whose name starts so.
bool IsStorePath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  const auto slash = path.rfind('/');
  const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string_view folder = std::string_view(path).substr(0, path.size() - name.size());
  return name.size() > kStorePrefix.size() + kStoreExtension.size() && name.starts_with(kStorePrefix) &&
         name.ends_with(kStoreExtension) && folder.ends_with(kStoreFolder);
}

// Core Data numbers an attribute's column when two entities of one table
// give it different types (ZTITLE1 beside ZTITLE): the first non-empty text
// of the columns, in order.
template <class Values>
std::string FirstText(const Values& row, std::initializer_list<const char*> columns) {
  for (const char* column : columns) {
    std::string text = row.Text(column);
    if (!text.empty()) return text;
  }
  return {};
}

// A Core Data date column (seconds since 2001) as Unix seconds; 0 when it is
// empty, missing or not above 0.
template <class Values>
double DateOf(const Values& row, const char* column) {
  const double stored = row.Real(column);
  return stored > 0 ? db::UnixFromAppleSeconds(stored) : 0;
}

// The dates of a reminder row.
constexpr const char* kReminderDates[] = {"ZDUEDATE", "ZDISPLAYDATEDATE", "ZCREATIONDATE", "ZLASTMODIFIEDDATE",
                                          "ZCOMPLETIONDATE"};

// A reminder's own fields from its row, live or rebuilt alike (not its key
// or its list).
template <class Values>
void FillReminder(const Values& row, DBITEM_CalendarFriend& item) {
  item.entityType = kCalendarReminder;
  item.summary = FirstText(row, {"ZTITLE1", "ZTITLE"});
  item.description = row.Text("ZNOTES");
  // As in Calendar.sqlitedb, a reminder without a due date is listed at its
  // creation.
  item.time = DateOf(row, "ZDUEDATE");
  if (item.time == 0) item.time = DateOf(row, "ZDISPLAYDATEDATE");
  if (item.time == 0) item.time = DateOf(row, "ZCREATIONDATE");
  item.endDate = DateOf(row, "ZLASTMODIFIEDDATE");
  item.completionDate = DateOf(row, "ZCOMPLETIONDATE");
  item.completed = row.Int("ZCOMPLETED") != 0;
  item.priority = static_cast<std::int32_t>(row.Int("ZPRIORITY"));
  item.flagged = row.Int("ZFLAGGED") != 0;
}

// The keys that tell a reminder row from every other, and so an older
// version of a live row from a deleted row: the cloud record's name and the
// reminder's own identifier (a UUID's 16 bytes).
template <class Values>
std::vector<std::string> IdentityOf(const Values& row) {
  std::vector<std::string> keys;
  if (std::string cloud = row.Text("ZCKIDENTIFIER"); !cloud.empty()) keys.push_back("ck:" + cloud);
  if (const auto identifier = row.Blob("ZIDENTIFIER"); !identifier.empty()) {
    keys.push_back("id:" + std::string(identifier.begin(), identifier.end()));
  }
  return keys;
}

}  // namespace

CReminderStoreDB::CReminderStoreDB(backup::CFileListDB* index) : index_(index) {}

CReminderStoreDB::~CReminderStoreDB() = default;

std::string CReminderStoreDB::GetTableName(int tableKind) {
  if (tableKind == kListKind) return listTable_;
  if (tableKind == kReminderKind) return reminderTable_;
  return "";
}

void CReminderStoreDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (tableKind == kListKind) {
    // Core Data keys start at 1: a row without one could only be matched by
    // a reminder without a list.
    const std::int64_t key = query.GetInt64Field(query.FieldIndex("Z_PK"));
    if (key <= 0) return;
    ReminderList& list = lists_[key];
    list.name = db::FieldText(query, "ZNAME");
    list.markedForDeletion = QueryRow(query).Int("ZMARKEDFORDELETION") != 0;
    return;
  }
  if (tableKind != kReminderKind) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  const QueryRow row(query);
  auto item = std::make_unique<DBITEM_CalendarFriend>();
  item->rowId = static_cast<std::int32_t>(row.Int("Z_PK"));
  livePks_.insert(item->rowId);
  for (std::string& key : IdentityOf(row)) liveKeys_.insert(std::move(key));
  FillReminder(row, *item);
  const bool listDeleted = FillList(row.Int("ZLIST"), *item);
  // The phone keeps a deleted reminder (or the reminders of a deleted list)
  // as a marked row until it is purged: that is its Recently Deleted.
  if (row.Int("ZMARKEDFORDELETION") != 0 || listDeleted) {
    item->deleted = 1;
    item->deletedFrom = db::BaseItem::DeletedFrom::kRecentlyDeleted;
    item->deletedAt = item->endDate;
  }
  out = std::move(item);
}

base::Status CReminderStoreDB::Open(const std::string& path, int param) {
  reminders_.clear();
  lists_.clear();
  listTable_.clear();
  reminderTable_.clear();
  reminderEntity_.reset();
  livePks_.clear();
  liveKeys_.clear();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;

  std::string listSql;
  std::string reminderSql;
  std::vector<db::SqlValue> listArgs;
  std::vector<db::SqlValue> reminderArgs;
  std::int64_t reminderEntity = 0;
  const bool entityKnown = QueryInt64("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?;", reminderEntity,
                                      {std::string(kReminderEntity)});
  if (entityKnown) reminderEntity_ = reminderEntity;
  if (HasTable(kReminderTable)) {
    reminderTable_ = kReminderTable;
    listTable_ = kListTable;
    listSql = std::string("SELECT * FROM ") + kListTable + ";";
    reminderSql = std::string("SELECT * FROM ") + kReminderTable + " ORDER BY Z_PK;";
  } else if (HasTable(kObjectTable) && entityKnown) {
    reminderTable_ = kObjectTable;
    listTable_ = kObjectTable;
    listSql = std::string("SELECT * FROM ") + kObjectTable + " WHERE Z_ENT <> ?;";
    reminderSql = std::string("SELECT * FROM ") + kObjectTable + " WHERE Z_ENT = ? ORDER BY Z_PK;";
    listArgs = {reminderEntity};
    reminderArgs = {reminderEntity};
  } else {
    return {};
  }
  // A store without the list table (or the list column) leaves the list
  // names empty; the failed query is only remembered in LastError.
  db::ItemList none;
  Query(kListKind, listSql, none, listArgs);
  db::ItemList loaded;
  Query(kReminderKind, reminderSql, loaded, reminderArgs);
  for (auto& item : loaded) {
    // Kind 1 rows are made by ParseRow above, always as calendar items.
    reminders_.emplace_back(static_cast<DBITEM_CalendarFriend*>(item.release()));
  }
  RecoverReminders();
  return {};
}

bool CReminderStoreDB::FillList(std::int64_t listPk, DBITEM_CalendarFriend& item) const {
  const auto list = lists_.find(listPk);
  if (list == lists_.end()) return false;
  item.listName = list->second.name;
  return list->second.markedForDeletion;
}

void CReminderStoreDB::RecoverReminders() {
  const std::optional<LiveTable> table = LiveTable::Read(*this, reminderTable_);
  if (!table) return;
  std::vector<std::unique_ptr<DBITEM_CalendarFriend>> recovered;
  // Of the versions of one reminder (saved again before it went), the last
  // found stands where the first was.
  std::map<std::string, std::size_t> byKey;
  ScanLiveTable(*this, *table, [&](db::undark::UndarkRow& values, const RowPlace& place) {
    const RecoveredRow row(*table, values);
    // The lists share the table in the iOS 13 shape.
    if (reminderEntity_ && row.Int("Z_ENT") != *reminderEntity_) return;
    const std::optional<std::int64_t> pk = row.RowId();
    std::vector<std::string> keys = IdentityOf(row);
    // A live row, or an older version of one.
    if (pk && (livePks_.contains(*pk) || (listTable_ == reminderTable_ && lists_.contains(*pk)))) return;
    if (std::any_of(keys.begin(), keys.end(), [this](const std::string& key) { return liveKeys_.contains(key); })) {
      return;
    }
    for (const char* date : kReminderDates) {
      if (!row.HoldsPlausibleAppleDate(date)) return;
    }
    auto item = std::make_unique<DBITEM_CalendarFriend>();
    FillReminder(row, *item);
    if (item->summary.empty()) return;  // nothing to show it by
    if (pk) item->rowId = static_cast<std::int32_t>(*pk);
    FillList(row.Int("ZLIST"), *item);
    item->deleted = 1;
    item->deletedFrom = place.inWal ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace;
    if (pk) keys.push_back("pk:" + std::to_string(*pk));
    std::optional<std::size_t> known;
    for (const std::string& key : keys) {
      if (const auto at = byKey.find(key); !known && at != byKey.end()) known = at->second;
    }
    const std::size_t slot = known.value_or(recovered.size());
    if (!known) recovered.emplace_back();
    recovered[slot] = std::move(item);
    for (std::string& key : keys) byKey[std::move(key)] = slot;
  });
  db::MergeRecovered(reminders_, std::move(recovered), CalendarKey);
}

base::Status FindReminderStores(backup::CFileListDB& index, std::vector<std::string>& paths) {
  backup::FileRecordList records;
  if (index.Mode() == backup::SourceFolder) {
    index.FindFileRecords(kStoresFolder, "", records, true);
  } else {
    for (const auto& [domain, pattern] : {std::pair{kGroupDomain, kGroupStores}, std::pair{kHomeDomain, kHomeStores}}) {
      if (index.FindFileRecords(pattern, domain, records, false) == 0) {
        return base::Status::Unreadable(index.DbPath(), std::string("the backup's manifest could not be searched for ") +
                                                            pattern + " (" + index.LastError() + ")");
      }
    }
  }
  for (const auto& record : records) {
    if (IsStorePath(record->relativePath)) paths.push_back(record->storedPath);
  }
  return {};
}

std::vector<db::BaseItem*> ListReminders(const std::vector<std::unique_ptr<CReminderStoreDB>>& stores,
                                         const CCalendarDB* calendar) {
  std::vector<db::BaseItem*> list;
  std::unordered_set<std::string> keys;
  for (const auto& store : stores) {
    for (const auto& reminder : store->Reminders()) {
      list.push_back(reminder.get());
      keys.insert(CalendarKey(*reminder));
    }
  }
  if (calendar == nullptr) return list;
  for (const auto& item : calendar->Entries()) {
    if (item->listMark == 0 && item->entityType == kCalendarReminder && !keys.contains(CalendarKey(*item))) {
      list.push_back(item.get());
    }
  }
  return list;
}

}  // namespace readers
