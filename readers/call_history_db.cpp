#include "readers/call_history_db.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/address_book_db.h"
#include "readers/live_table.h"
#include "readers/recovered_row.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kCallRecordKind = 0;
constexpr char kCallRecordTable[] = "ZCALLRECORD";

// The integer columns of a live row, in the order of intFields.
constexpr std::array<const char*, kCallIntFieldCount> kIntColumns = {
    "Z_PK",         "Z_ENT",         "Z_OPT",       "ZANSWERED",
    "ZCALL_CATEGORY", "ZCALLTYPE",   "ZDISCONNECTED_CAUSE", "ZFACE_TIME_DATA",
    "ZHANDLE_TYPE", "ZNUMBER_AVAILABILITY", "ZORIGINATED", "ZREAD"};

// Where the columns a rebuilt call is read from sit in a recovered row: their
// positions in the live table, -1 for a column the table lacks (that field
// stays empty).
struct CallColumns {
  std::array<int, kCallIntFieldCount> ints;
  int date, duration, deviceId, countryCode, location, name, serviceProvider, uniqueId, address;
  bool operator==(const CallColumns&) const = default;
};

CallColumns ColumnsByName(const LiveTable& table) {
  CallColumns columns{};
  for (std::size_t i = 0; i < kCallIntFieldCount; ++i) columns.ints[i] = table.Index(kIntColumns[i]);
  columns.date = table.Index("ZDATE");
  columns.duration = table.Index("ZDURATION");
  columns.deviceId = table.Index("ZDEVICE_ID");
  columns.countryCode = table.Index("ZISO_COUNTRY_CODE");
  columns.location = table.Index("ZLOCATION");
  columns.name = table.Index("ZNAME");
  columns.serviceProvider = table.Index("ZSERVICE_PROVIDER");
  columns.uniqueId = table.Index("ZUNIQUE_ID");
  columns.address = table.Index("ZADDRESS");
  return columns;
}

// The two store shapes the numbered layout of ZCALLRECORD was made for (it
// reads 23 columns once a page shows the UUID at column 18, the store
// without ZDEVICE_ID): their column counts and where those columns sit.
constexpr int kCallRecordLayout = 9;
struct NumberedShape {
  int columnCount;
  CallColumns columns;
};
constexpr std::array<int, kCallIntFieldCount> kLeadingIntegers = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr NumberedShape kNumberedShapes[] = {
    {21, {kLeadingIntegers, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
    {23, {kLeadingIntegers, 12, 13, -1, 14, 15, 16, 17, 18, 21}},
};

// Calls are dated from the phone's epoch (2001) on; a date before it, or
// after 2100, is bytes of another kind that passed the column rules.

const db::undark::UndarkValue& At(const db::undark::UndarkRow& row, int column) {
  static const db::undark::UndarkValue kNone;
  return column >= 0 && static_cast<std::size_t>(column) < row.size() ? row[static_cast<std::size_t>(column)] : kNone;
}

double ValueDouble(const db::undark::UndarkValue& value) {
  if (value.type == db::undark::kTypeDouble) return value.real;
  return static_cast<double>(db::undark::UndarkValueToInt64(value));
}

// ZDURATION holds a double, or an integer when SQLite stored a whole number
// compactly. Taking the double itself keeps the fraction a live row shows.
double RecoveredDuration(const db::undark::UndarkValue& value) {
  if (value.type == db::undark::kTypeDouble) return value.real;
  if (value.type >= 1 && value.type <= 9) return static_cast<double>(db::undark::UndarkValueToInt64(value));
  const std::string text = db::undark::UndarkValueText(value);
  return static_cast<double>(std::strtoll(text.c_str(), nullptr, 10));
}

// A recovered row's integer as a call's int field: 0 for NULL and for a
// column the store lacks, as a live row reads; the row id for Z_PK, -1 when
// it is unknown (the numbered layout gives 0 then; Core Data counts from 1).
std::int32_t IntField(const db::undark::UndarkValue& value) {
  if (value.type == db::undark::kTypeRowId) {
    const long long rowId = value.text.empty() ? -1 : std::strtoll(value.text.c_str(), nullptr, 10);
    return rowId >= 1 && rowId <= INT32_MAX ? static_cast<std::int32_t>(rowId) : -1;
  }
  if (value.type == db::undark::kTypeNull) return 0;
  return static_cast<std::int32_t>(db::undark::UndarkValueToInt64(value));
}

// The call of a recovered row, or nothing when the row does not look like a
// call: a date within the phone's years and, where the store has the
// column, a UUID in ZUNIQUE_ID.
std::unique_ptr<DBITEM_CallHistory> CallFromRow(const db::undark::UndarkRow& row, const CallColumns& columns) {
  const double time = db::UnixFromAppleSeconds(ValueDouble(At(row, columns.date)));
  if (!(time >= db::kAppleEpochOffsetSeconds && time < kLatestPlausibleTime)) return nullptr;
  const std::string uniqueId = db::undark::UndarkValueText(At(row, columns.uniqueId));
  if (columns.uniqueId >= 0 && !db::IsUuidText(uniqueId)) return nullptr;
  auto call = std::make_unique<DBITEM_CallHistory>();
  for (std::size_t k = 0; k < kCallIntFieldCount; ++k) call->intFields[k] = IntField(At(row, columns.ints[k]));
  call->time = time;
  call->duration = RecoveredDuration(At(row, columns.duration));
  call->deviceId = db::undark::UndarkValueText(At(row, columns.deviceId));
  call->countryCode = db::undark::UndarkValueText(At(row, columns.countryCode));
  call->location = db::undark::UndarkValueText(At(row, columns.location));
  call->name = db::undark::UndarkValueText(At(row, columns.name));
  call->serviceProvider = db::undark::UndarkValueText(At(row, columns.serviceProvider));
  call->uniqueId = uniqueId;
  call->address = db::undark::UndarkValueText(At(row, columns.address));
  call->deleted = 1;
  return call;
}

}  // namespace

CCallHistoryDB::CCallHistoryDB(backup::CFileListDB* index, CAddressBookDB* contacts)
    : index_(index), contacts_(contacts) {}

CCallHistoryDB::~CCallHistoryDB() = default;

std::string CCallHistoryDB::GetTableName(int tableKind) {
  if (openParam != 0 || tableKind != kCallRecordKind) return "";
  return kCallRecordTable;
}

void CCallHistoryDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (openParam == 0 && tableKind == kCallRecordKind) {
    auto call = std::make_unique<DBITEM_CallHistory>();
    for (std::size_t i = 0; i < kCallIntFieldCount; ++i) {
      call->intFields[i] = query.GetIntField(query.FieldIndex(kIntColumns[i]));
    }
    call->time = db::UnixFromAppleSeconds(query.GetFloatField(query.FieldIndex("ZDATE")));
    call->duration = query.GetFloatField(query.FieldIndex("ZDURATION"));
    call->deviceId = db::FieldText(query, "ZDEVICE_ID");
    call->countryCode = db::FieldText(query, "ZISO_COUNTRY_CODE");
    call->location = db::FieldText(query, "ZLOCATION");
    call->serviceProvider = db::FieldText(query, "ZSERVICE_PROVIDER");
    call->uniqueId = db::FieldText(query, "ZUNIQUE_ID");
    call->name = db::FieldText(query, "ZNAME");
    call->address = db::FieldText(query, "ZADDRESS");
    out = std::move(call);
    return;
  }
  CDbSqlite::ParseRow(tableKind, out, query);
}

base::Status CCallHistoryDB::Open(const std::string& path, int param) {
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  calls_.clear();
  recoveredCalls_.clear();
  callColumnCount_ = 0;
  if (openParam == 0) {
    db::ItemList loaded;
    callColumnCount_ = LoadTable(kCallRecordKind, loaded);
    for (auto& item : loaded) {
      // Kind 0 rows are made by ParseRow above, always as calls.
      calls_.emplace_back(static_cast<DBITEM_CallHistory*>(item.release()));
    }
  }
  RecoverDeletedCalls();
  MergeRecoveredCalls();
  NameCalls();
  return {};
}

std::vector<db::BaseItem*> CCallHistoryDB::CallItems() const { return db::ItemPointers(calls_); }

void CCallHistoryDB::RecoverDeletedCalls() {
  // Without the live table no recovered row could be told from junk.
  if (callColumnCount_ == 0) return;
  const std::optional<LiveTable> table = LiveTable::Read(*this, kCallRecordTable);
  if (!table) return;
  const CallColumns columns = ColumnsByName(*table);
  const auto keep = [&](db::undark::UndarkRow& row, const RowPlace& place) {
    std::unique_ptr<DBITEM_CallHistory> call = CallFromRow(row, columns);
    if (call == nullptr) return;
    if (place.inWal) call->deletedFrom = db::BaseItem::DeletedFrom::kWal;
    recoveredCalls_.push_back(std::move(call));
  };
  for (const NumberedShape& shape : kNumberedShapes) {
    if (callColumnCount_ == shape.columnCount && columns == shape.columns) {
      ScanTableRows(*this, kCallRecordTable, kCallRecordLayout, callColumnCount_, {}, keep);
      return;
    }
  }
  // Every other store (the 18 columns of iOS 8, a store whose columns sit
  // elsewhere) is scanned with the layout made from its live shape.
  ScanLiveTable(*this, *table, keep);
}

void CCallHistoryDB::MergeRecoveredCalls() {
  // A recovered call repeats a live one by its CallKey, or by its unique id:
  // an older version of a live call (marked read since, say) keeps the id.
  std::unordered_set<std::string> known;
  for (const auto& call : calls_) {
    known.insert(CallKey(*call));
    if (!call->uniqueId.empty()) known.insert(call->uniqueId);
  }
  auto kept = db::KeepRecovered(std::move(recoveredCalls_), [&known](const DBITEM_CallHistory& call) {
    if (known.contains(CallKey(call)) || (!call.uniqueId.empty() && known.contains(call.uniqueId))) return false;
    known.insert(CallKey(call));
    if (!call.uniqueId.empty()) known.insert(call.uniqueId);
    return true;
  });
  db::PrependRecords(calls_, std::move(kept));
  recoveredCalls_.clear();
}

void CCallHistoryDB::NameCalls() {
  for (const auto& call : calls_) {
    if (!call->name.empty()) continue;
    const DBITEM_AdrBFriend* contact =
        contacts_ != nullptr && !call->address.empty() ? contacts_->FindContactByNumber(call->address) : nullptr;
    call->name = contact != nullptr && !contact->displayName.empty() ? contact->displayName : kUnknownContactName;
  }
}

std::string CallKey(const DBITEM_CallHistory& call) { return db::FormatFixed(call.time) + call.address; }

std::vector<db::BaseItem*> JoinCalls(const std::vector<std::unique_ptr<CCallHistoryDB>>& stores) {
  // A store's own live calls are all listed; a live call repeating one of
  // an earlier store is that call, moved.
  std::unordered_set<std::string> liveKeys;
  std::vector<db::BaseItem*> live;
  for (const auto& store : stores) {
    std::vector<std::string> storeKeys;
    for (const auto& call : store->Calls()) {
      if (call->deleted != 0) continue;
      std::string key = CallKey(*call);
      if (liveKeys.contains(key)) continue;
      live.push_back(call.get());
      storeKeys.push_back(std::move(key));
    }
    liveKeys.insert(storeKeys.begin(), storeKeys.end());
  }
  std::unordered_set<std::string> deletedKeys;
  std::vector<db::BaseItem*> list;
  for (const auto& store : stores) {
    for (const auto& call : store->Calls()) {
      if (call->deleted == 0) continue;
      const std::string key = CallKey(*call);
      if (!liveKeys.contains(key) && deletedKeys.insert(key).second) list.push_back(call.get());
    }
  }
  list.insert(list.end(), live.begin(), live.end());
  return list;
}

void WriteCallsCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& calls) {
  std::vector<const DBITEM_CallHistory*> selected;
  for (const db::BaseItem* item : calls) {
    if (const auto* call = dynamic_cast<const DBITEM_CallHistory*>(item)) selected.push_back(call);
  }
  // The list page is laid out by BeginList; without it the HTML page of the
  // calls would stay empty.
  writer.BeginList(std::max<int>(1, static_cast<int>(selected.size())));
  writer.SetHeader("名字,手机,日期,类型,持续时间\r\n");
  for (const DBITEM_CallHistory* call : selected) {
    if (writer.Cancelled()) return;
    std::string line = db::CsvField(call->name) + "," + db::CsvField(call->address) + "," + db::FormatItemTime(call->time);
    line += call->Outgoing() ? ",呼出电话" : ",呼入电话";
    line += call->duration != 0 ? "," + db::FormatFixed(call->duration) + "秒\r\n" : std::string(",已取消的电话\r\n");
    writer.AddLine(exporting::kToCsvAndHtml, line, call->deleted != 0);
  }
}

}  // namespace readers
