#include "readers/call_history_db.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/address_book_db.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kCallRecordKind = 0;
constexpr char kCallRecordTable[] = "ZCALLRECORD";

// The deleted-row layout of ZCALLRECORD; it reads 23 columns once a page
// shows the UUID at column 18 (the store without ZDEVICE_ID).
constexpr int kCallRecordLayout = 9;
constexpr int kStoreWithoutDeviceColumns = 23;
// A recovered row needs the values up to ZUNIQUE_ID (index 19 in the
// 21-column store).
constexpr std::size_t kMinRecoveredValues = 20;

// The columns the recovered values are read from by position (the same in
// both store shapes).
constexpr RecoveredColumn kRecoveredColumns[] = {
    {kCallOutgoingField, "ZORIGINATED"}, {12, "ZDATE"}, {13, "ZDURATION"}};

// The integer columns of a live row, in the order of intFields.
constexpr std::array<const char*, kCallIntFieldCount> kIntColumns = {
    "Z_PK",         "Z_ENT",         "Z_OPT",       "ZANSWERED",
    "ZCALL_CATEGORY", "ZCALLTYPE",   "ZDISCONNECTED_CAUSE", "ZFACE_TIME_DATA",
    "ZHANDLE_TYPE", "ZNUMBER_AVAILABILITY", "ZORIGINATED", "ZREAD"};

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
  // Without the live table's column count no recovered row could be told
  // from a partial match: nothing is rebuilt.
  if (callColumnCount_ < static_cast<int>(kMinRecoveredValues)) return;
  const bool noDeviceColumn = callColumnCount_ == kStoreWithoutDeviceColumns;
  const std::size_t i = noDeviceColumn ? 14 : 15;  // ZISO_COUNTRY_CODE
  const auto rebuild = [&](db::undark::UndarkRow& row) {
    auto call = std::make_unique<DBITEM_CallHistory>();
    for (std::size_t k = 0; k < kCallIntFieldCount; ++k) {
      call->intFields[k] = static_cast<std::int32_t>(db::undark::UndarkValueToInt64(row[k]));
    }
    call->time = db::UnixFromAppleSeconds(ValueDouble(row[12]));
    call->duration = RecoveredDuration(row[13]);
    if (!noDeviceColumn) call->deviceId = db::undark::UndarkValueText(row[14]);
    call->countryCode = db::undark::UndarkValueText(row[i]);
    call->location = db::undark::UndarkValueText(row[i + 1]);
    call->name = db::undark::UndarkValueText(row[i + 2]);
    call->serviceProvider = db::undark::UndarkValueText(row[i + 3]);
    call->uniqueId = db::undark::UndarkValueText(row[i + 4]);
    if (row.size() > i + 7) {
      call->address = db::undark::UndarkValueText(row[i + 7]);
    } else if (row.size() > i + 5) {
      call->address = db::undark::UndarkValueText(row[i + 5]);
    }
    call->deleted = 1;
    recoveredCalls_.push_back(std::move(call));
  };
  ScanTableRows(*this, kCallRecordTable, kCallRecordLayout, callColumnCount_, kRecoveredColumns, rebuild);
}

void CCallHistoryDB::MergeRecoveredCalls() {
  db::MergeRecovered(calls_, std::move(recoveredCalls_), CallKey);
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
    std::string line = db::CsvField(call->name) + "," + db::CsvField(call->address) + "," + db::FormatItemTime(call->time);
    line += call->Outgoing() ? ",呼出电话" : ",呼入电话";
    line += call->duration != 0 ? "," + db::FormatFixed(call->duration) + "秒\r\n" : std::string(",已取消的电话\r\n");
    writer.AddLine(exporting::kToCsvAndHtml, line, call->deleted != 0);
  }
}

}  // namespace readers
