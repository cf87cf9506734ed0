#include "readers/calendar_db.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
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

// The positions of the recovered values the reader takes, by the column
// each holds in the live table.
constexpr std::size_t kRowIdValue = 0;
constexpr RecoveredColumn kSummary{1, "summary"};
constexpr RecoveredColumn kLocationId{2, "location_id"};
constexpr RecoveredColumn kDescription{4, "description"};
constexpr RecoveredColumn kStartDate{5, "start_date"};
constexpr RecoveredColumn kEndDate{7, "end_date"};
constexpr RecoveredColumn kLastModified{20, "last_modified"};
constexpr RecoveredColumn kEntityType{36, "entity_type"};
constexpr RecoveredColumn kPriority{37, "priority"};
constexpr RecoveredColumn kCompletionDate{41, "completion_date"};
constexpr std::array<RecoveredColumn, 9> kRecoveredColumns = {kSummary,     kLocationId, kDescription,
                                                              kStartDate,   kEndDate,    kLastModified,
                                                              kEntityType,  kPriority,   kCompletionDate};

bool IsNumber(const db::undark::UndarkValue& value) { return value.type >= 1 && value.type <= 9; }

// A recovered number as SQL would give it for the live row: NULL (and
// anything that is no number) is 0, not the scanner's -1, so an empty
// column reads as it does in a live item.
std::int64_t ValueInt(const db::undark::UndarkValue& value) {
  return IsNumber(value) ? db::undark::UndarkValueToInt64(value) : 0;
}

double ValueDouble(const db::undark::UndarkValue& value) {
  if (value.type == db::undark::kTypeDouble) return value.real;
  return static_cast<double>(ValueInt(value));
}

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
    auto item = std::make_unique<DBITEM_CalendarFriend>();
    item->rowId = query.GetIntField(query.FieldIndex("ROWID"));
    item->summary = db::FieldText(query, "summary");
    item->locationId = query.GetIntField(query.FieldIndex("location_id"));
    item->description = db::FieldText(query, "description");
    // A reminder without a due date has no start: it is listed at its
    // creation.
    double start = query.GetFloatField(query.FieldIndex("start_date"));
    if (!(start > 0)) start = query.GetFloatField(query.FieldIndex("creation_date"));
    item->time = db::UnixFromAppleSeconds(start);
    item->endDate = EndTime(query.GetFloatField(query.FieldIndex("end_date")),
                            query.GetFloatField(query.FieldIndex("last_modified")));
    item->entityType = query.GetIntField(query.FieldIndex("entity_type"));
    if (item->entityType != wantedEntityType) item->listMark = -1;
    item->priority = query.GetIntField(query.FieldIndex("priority"));
    item->completionDate = CompletionTime(query.GetFloatField(query.FieldIndex("completion_date")));
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
  if (columnCount_ <= static_cast<int>(kCompletionDate.index)) return;
  const auto rebuild = [&](db::undark::UndarkRow& row) {
    auto item = std::make_unique<DBITEM_CalendarFriend>();
    item->rowId = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(row[kRowIdValue]));
    item->summary = db::undark::UndarkValueText(row[kSummary.index]);
    item->description = db::undark::UndarkValueText(row[kDescription.index]);
    item->locationId = static_cast<std::int32_t>(ValueInt(row[kLocationId.index]));
    const std::int64_t start = db::undark::UndarkValueToInt64(row[kStartDate.index]);
    item->time = db::UnixFromAppleSeconds(static_cast<double>(start));
    // As for a live item, a NULL end_date (read as 0) gives last_modified.
    const double end = static_cast<double>(ValueInt(row[kEndDate.index]));
    item->endDate = EndTime(end, ValueDouble(row[kLastModified.index]));
    item->entityType = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(row[kEntityType.index]));
    if (item->entityType != wantedEntityType) item->listMark = -1;
    item->priority = static_cast<std::int32_t>(ValueInt(row[kPriority.index]));
    // The row still says whether a deleted reminder was done.
    item->completionDate = CompletionTime(ValueDouble(row[kCompletionDate.index]));
    item->deleted = 1;
    recoveredItems_.push_back(std::move(item));
  };
  ScanTableRows(*this, kCalendarItemTable, kCalendarItemLayout, columnCount_, kRecoveredColumns, rebuild);
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
      writer.AddLine(exporting::kToCsvAndHtml, EventLine(*item), item->deleted != 0);
    }
  } else if (wantedEntityType == kCalendarReminder) {
    writer.SetHeader("标题,列表,状态,日期,位置,优先级,备注\r\n");
    for (const DBITEM_CalendarFriend* item : selected) {
      writer.AddLine(exporting::kToCsvAndHtml, ReminderLine(*item), item->deleted != 0);
    }
  }
}

}  // namespace readers
