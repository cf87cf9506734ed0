#include "readers/reminder_store_db.h"

#include <initializer_list>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "backup/file_list_db.h"
#include "db/item_time.h"

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
std::string FirstText(const db::CppSQLite3Query& query, std::initializer_list<const char*> columns) {
  for (const char* column : columns) {
    std::string text = db::FieldText(query, column);
    if (!text.empty()) return text;
  }
  return {};
}

// A Core Data date column (seconds since 2001) as Unix seconds; 0 when it is
// empty, missing or not above 0.
double DateOf(const db::CppSQLite3Query& query, const char* column) {
  const double stored = query.GetFloatField(query.FieldIndex(column));
  return stored > 0 ? db::UnixFromAppleSeconds(stored) : 0;
}

bool FlagOf(const db::CppSQLite3Query& query, const char* column) {
  return query.GetInt64Field(query.FieldIndex(column)) != 0;
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
    list.markedForDeletion = FlagOf(query, "ZMARKEDFORDELETION");
    return;
  }
  if (tableKind != kReminderKind) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  auto item = std::make_unique<DBITEM_CalendarFriend>();
  item->entityType = kCalendarReminder;
  item->rowId = query.GetIntField(query.FieldIndex("Z_PK"));
  item->summary = FirstText(query, {"ZTITLE1", "ZTITLE"});
  item->description = db::FieldText(query, "ZNOTES");
  // As in Calendar.sqlitedb, a reminder without a due date is listed at its
  // creation.
  item->time = DateOf(query, "ZDUEDATE");
  if (item->time == 0) item->time = DateOf(query, "ZDISPLAYDATEDATE");
  if (item->time == 0) item->time = DateOf(query, "ZCREATIONDATE");
  item->endDate = DateOf(query, "ZLASTMODIFIEDDATE");
  item->completionDate = DateOf(query, "ZCOMPLETIONDATE");
  item->completed = FlagOf(query, "ZCOMPLETED");
  item->priority = query.GetIntField(query.FieldIndex("ZPRIORITY"));
  item->flagged = FlagOf(query, "ZFLAGGED");
  bool listDeleted = false;
  if (const auto list = lists_.find(query.GetInt64Field(query.FieldIndex("ZLIST"))); list != lists_.end()) {
    item->listName = list->second.name;
    listDeleted = list->second.markedForDeletion;
  }
  // The phone keeps a deleted reminder (or the reminders of a deleted list)
  // as a marked row until it is purged: that is its Recently Deleted.
  if (FlagOf(query, "ZMARKEDFORDELETION") || listDeleted) {
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
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;

  std::string listSql;
  std::string reminderSql;
  std::vector<db::SqlValue> listArgs;
  std::vector<db::SqlValue> reminderArgs;
  std::int64_t reminderEntity = 0;
  if (HasTable(kReminderTable)) {
    reminderTable_ = kReminderTable;
    listTable_ = kListTable;
    listSql = std::string("SELECT * FROM ") + kListTable + ";";
    reminderSql = std::string("SELECT * FROM ") + kReminderTable + " ORDER BY Z_PK;";
  } else if (HasTable(kObjectTable) &&
             QueryInt64("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?;", reminderEntity,
                        {std::string(kReminderEntity)})) {
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
  return {};
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
