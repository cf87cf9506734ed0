#include "readers/calendar_db.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/live_table.h"
#include "readers/recovered_row.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kCalendarItemKind = 0;
constexpr int kLocationKind = 1;
constexpr char kCalendarItemTable[] = "CalendarItem";
constexpr char kLocationTable[] = "Location";

constexpr int kCalendarItemLayout = 12;
// How many UTF-16 units of the summary the key of an item holds.
constexpr std::size_t kKeySummaryUnits = 12;

// The positions of the recovered values the reader takes from a row of
// layout 12, by the column each holds in the live table the layout was made
// for (67 columns); a table of any other shape is read by the layout made
// from its own, by name.
constexpr std::size_t kRowIdValue = 0;
constexpr RecoveredColumn kSummary{1, "summary"};
constexpr RecoveredColumn kLocationId{2, "location_id"};
constexpr RecoveredColumn kDescription{4, "description"};
constexpr RecoveredColumn kStartDate{5, "start_date"};
constexpr RecoveredColumn kEndDate{7, "end_date"};
constexpr RecoveredColumn kLastModified{20, "last_modified"};
constexpr RecoveredColumn kEntityType{36, "entity_type"};
constexpr RecoveredColumn kPriority{37, "priority"};
constexpr RecoveredColumn kUuid{35, "UUID"};
constexpr RecoveredColumn kCompletionDate{41, "completion_date"};
constexpr std::array<RecoveredColumn, 10> kRecoveredColumns = {
    kSummary, kLocationId, kDescription, kStartDate, kEndDate, kLastModified, kUuid, kEntityType, kPriority,
    kCompletionDate};
// The dates of an item, which a rebuilt row must hold plausibly.
constexpr const char* kItemDates[] = {"start_date", "end_date",        "last_modified",
                                      "due_date",   "completion_date", "creation_date"};

// The stored end_date, or last_modified when it is not above 0 (an event
// saved without an end shows when it was last changed), as Unix seconds.
double EndTime(double endDate, double lastModified) {
  return db::UnixFromAppleSeconds(endDate > 0 ? endDate : lastModified);
}

// A stored completion_date as Unix seconds; 0 while the reminder is open
// (the store holds none above 0).
double CompletionTime(double completionDate) {
  return completionDate > 0 ? db::UnixFromAppleSeconds(completionDate) : 0;
}

// An item's fields from its row by column name, live or rebuilt alike (not
// its ROWID).
template <class Values>
void FillItem(const Values& row, int wantedEntityType, DBITEM_CalendarFriend& item) {
  item.summary = row.Text("summary");
  item.locationId = static_cast<std::int32_t>(row.Int("location_id"));
  item.description = row.Text("description");
  // A reminder without a due date has no start: it is listed at its
  // creation.
  double start = row.Real("start_date");
  if (!(start > 0)) start = row.Real("creation_date");
  item.time = db::UnixFromAppleSeconds(start);
  item.endDate = EndTime(row.Real("end_date"), row.Real("last_modified"));
  item.entityType = static_cast<std::int32_t>(row.Int("entity_type"));
  if (item.entityType != wantedEntityType) item.listMark = -1;
  item.priority = static_cast<std::int32_t>(row.Int("priority"));
  item.completionDate = CompletionTime(row.Real("completion_date"));
}

// Whether the table is the one layout 12 was made for: its column count,
// and the columns the reader takes at the layout's positions.
bool IsLayout12Shape(const LiveTable& table) {
  if (table.ColumnCount() != static_cast<std::size_t>(db::undark::LayoutColumnCount(kCalendarItemLayout))) {
    return false;
  }
  return std::all_of(kRecoveredColumns.begin(), kRecoveredColumns.end(), [&table](const RecoveredColumn& column) {
    return table.Index(column.name) == static_cast<int>(column.index);
  });
}

// A deleted item from a row of layout 12, by position.
std::unique_ptr<DBITEM_CalendarFriend> RebuildFromLayout12(const db::undark::UndarkRow& row, int wantedEntityType) {
  auto item = std::make_unique<DBITEM_CalendarFriend>();
  item->rowId = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(row[kRowIdValue]));
  item->summary = db::undark::UndarkValueText(row[kSummary.index]);
  item->description = db::undark::UndarkValueText(row[kDescription.index]);
  item->locationId = static_cast<std::int32_t>(IntOf(row[kLocationId.index]));
  const std::int64_t start = db::undark::UndarkValueToInt64(row[kStartDate.index]);
  item->time = db::UnixFromAppleSeconds(static_cast<double>(start));
  // As for a live item, a NULL end_date (read as 0) gives last_modified.
  const double end = static_cast<double>(IntOf(row[kEndDate.index]));
  item->endDate = EndTime(end, RealOf(row[kLastModified.index]));
  item->entityType = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(row[kEntityType.index]));
  if (item->entityType != wantedEntityType) item->listMark = -1;
  item->priority = static_cast<std::int32_t>(IntOf(row[kPriority.index]));
  // The row still says whether a deleted reminder was done.
  item->completionDate = CompletionTime(RealOf(row[kCompletionDate.index]));
  item->deleted = 1;
  return item;
}

std::string EventLine(const DBITEM_CalendarFriend& item) {
  return db::CsvField(item.summary) + "," + db::FormatItemTime(item.time) + "," + db::FormatItemTime(item.endDate) + "," +
         db::CsvField(item.locationTitle) + "," + db::CsvQuoteField(item.description) + "\r\n";
}

std::string ReminderLine(const DBITEM_CalendarFriend& item) {
  const std::string list = item.listName.empty() ? std::string("提醒") : db::CsvField(item.listName);
  const bool done = item.completed || item.completionDate > 0;
  return db::CsvField(item.summary) + "," + list + "," + (done ? "已完成" : "未完成") + "," +
         db::FormatItemTime(item.time) + "," + db::CsvField(item.locationTitle) + "," +
         (item.priority == 1 ? "高" : "普通") + "," + db::CsvQuoteField(item.description) + "\r\n";
}

}  // namespace

CCalendarDB::CCalendarDB(backup::CFileListDB* index) : index_(index) {}

CCalendarDB::~CCalendarDB() = default;

std::string CCalendarDB::GetTableName(int tableKind) {
  if (openParam != 0) return "";
  if (tableKind == kCalendarItemKind) return kCalendarItemTable;
  if (tableKind == kLocationKind) return kLocationTable;
  return "";
}

void CCalendarDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (openParam == 0 && tableKind == kCalendarItemKind) {
    const QueryRow row(query);
    auto item = std::make_unique<DBITEM_CalendarFriend>();
    item->rowId = static_cast<std::int32_t>(row.Int("ROWID"));
    liveRowIds_.insert(item->rowId);
    if (std::string uuid = row.Text("UUID"); !uuid.empty()) liveUuids_.insert(std::move(uuid));
    FillItem(row, wantedEntityType, *item);
    out = std::move(item);
    return;
  }
  if (openParam == 0 && tableKind == kLocationKind) {
    if (currentItem_ != nullptr) currentItem_->locationTitle = db::FieldText(query, "title");
    return;
  }
  CDbSqlite::ParseRow(tableKind, out, query);
}

base::Status CCalendarDB::Open(const std::string& path, int param) {
  entries_.clear();
  recoveredItems_.clear();
  liveRowIds_.clear();
  liveUuids_.clear();
  columnCount_ = 0;
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam == 0) {
    db::ItemList loaded;
    columnCount_ = LoadTable(kCalendarItemKind, loaded);
    for (auto& item : loaded) {
      // Kind 0 rows are made by ParseRow above, always as calendar items.
      entries_.emplace_back(static_cast<DBITEM_CalendarFriend*>(item.release()));
    }
    AttachLocations();
  }
  RecoverCalendarItems();
  MergeRecoveredItems();
  return {};
}

std::vector<db::BaseItem*> CCalendarDB::EntryItems() const { return db::ItemPointers(entries_); }

void CCalendarDB::AttachLocations() {
  // A store without the Location table (or without an item's row) leaves
  // the titles empty; the failed query is only remembered in LastError.
  for (const auto& item : entries_) {
    if (item->locationId == 0) continue;
    currentItem_ = item.get();
    db::ItemList none;
    Query(kLocationKind, std::string("SELECT * from ") + kLocationTable + " where  ROWID=?;", none,
          {static_cast<std::int64_t>(item->locationId)});
  }
  currentItem_ = nullptr;
  db::DeleteAll(rows);
}

void CCalendarDB::RecoverCalendarItems() {
  // Without the live table's shape a recovered row could neither be told
  // from a partial match nor be mapped to the right fields: nothing is
  // rebuilt.
  const std::optional<LiveTable> table = columnCount_ > 0 ? LiveTable::Read(*this, kCalendarItemTable) : std::nullopt;
  if (!table) return;
  const auto deletedFrom = [](const RowPlace& place) {
    return place.inWal ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace;
  };
  if (IsLayout12Shape(*table)) {
    ScanTableRows(*this, kCalendarItemTable, kCalendarItemLayout, columnCount_, kRecoveredColumns,
                  [&](db::undark::UndarkRow& row, const RowPlace& place) {
                    if (liveUuids_.contains(db::undark::UndarkValueText(row[kUuid.index]))) return;
                    auto item = RebuildFromLayout12(row, wantedEntityType);
                    item->deletedFrom = deletedFrom(place);
                    recoveredItems_.push_back(std::move(item));
                  });
    return;
  }
  ScanLiveTable(*this, *table, [&](db::undark::UndarkRow& values, const RowPlace& place) {
    const RecoveredRow row(*table, values);
    const std::optional<std::int64_t> rowId = row.RowId();
    // The live row, or an older version of it.
    if ((rowId && liveRowIds_.contains(*rowId)) || liveUuids_.contains(row.Text("UUID"))) return;
    const std::int64_t entityType = row.Int("entity_type");
    if (entityType != kCalendarEvent && entityType != kCalendarReminder) return;
    for (const char* date : kItemDates) {
      if (!row.HoldsPlausibleAppleDate(date)) return;
    }
    auto item = std::make_unique<DBITEM_CalendarFriend>();
    FillItem(row, wantedEntityType, *item);
    if (rowId) item->rowId = static_cast<std::int32_t>(*rowId);
    item->deleted = 1;
    item->deletedFrom = deletedFrom(place);
    recoveredItems_.push_back(std::move(item));
  });
}

void CCalendarDB::MergeRecoveredItems() {
  db::MergeRecovered(entries_, std::move(recoveredItems_), CalendarKey);
  recoveredItems_.clear();
}

std::string CalendarKey(const DBITEM_CalendarFriend& item) {
  return db::LeftUtf16(item.summary, kKeySummaryUnits) + db::FormatFixed(item.time);
}

void WriteCalendarCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& items, int wantedEntityType) {
  std::vector<const DBITEM_CalendarFriend*> selected;
  for (const db::BaseItem* item : items) {
    if (const auto* calendarItem = dynamic_cast<const DBITEM_CalendarFriend*>(item)) selected.push_back(calendarItem);
  }
  // The list page is laid out by BeginList, which wants at least one line.
  writer.BeginList(std::max<int>(1, static_cast<int>(selected.size())));
  if (wantedEntityType == kCalendarEvent) {
    writer.SetHeader("标题,开始日期,结束日期,位置,备注\r\n");
    for (const DBITEM_CalendarFriend* item : selected) {
      if (writer.Cancelled()) return;
      writer.AddLine(exporting::kToCsvAndHtml, EventLine(*item), item->deleted != 0);
    }
  } else if (wantedEntityType == kCalendarReminder) {
    writer.SetHeader("标题,列表,状态,日期,位置,优先级,备注\r\n");
    for (const DBITEM_CalendarFriend* item : selected) {
      if (writer.Cancelled()) return;
      writer.AddLine(exporting::kToCsvAndHtml, ReminderLine(*item), item->deleted != 0);
    }
  }
}

}  // namespace readers
