#pragma once
// CCallHistoryDB: the phone's call log (CallHistory.storedata, a Core Data
// store whose calls are the rows of ZCALLRECORD). Live calls come through
// SQL; calls rebuilt from deleted rows of the store's file and of the frames
// of its write-ahead log come from the deleted-row scanner and are listed
// first, without those that repeat a live call (by CallKey, or by ZUNIQUE_ID
// for an older version of a live call). Each call without a stored name is
// named through the contacts reader.
//
// The two store shapes the numbered layout 9 was made for keep it (their
// values read by position):
//   21 columns  0-11 integers (Z_PK ... ZORIGINATED at 10, ZREAD), 12 ZDATE,
//               13 ZDURATION, 14 ZDEVICE_ID, 15 ZISO_COUNTRY_CODE,
//               16 ZLOCATION, 17 ZNAME, 18 ZSERVICE_PROVIDER,
//               19 ZUNIQUE_ID (a 36-character UUID), 20 ZADDRESS
//   23 columns  the same without ZDEVICE_ID (14 ZISO_COUNTRY_CODE ...
//               18 ZUNIQUE_ID), 21 ZADDRESS
// Every other store (iOS 8's 18 columns, columns elsewhere) is scanned with
// the layout made from its live table and read by column name; a column the
// store lacks leaves its field empty. A rebuilt call needs a date between
// 2001 and 2100 and, where the store has the column, a UUID in ZUNIQUE_ID.
// Live rows are read by column name and work with any shape.
//
// Threads: Open runs on the analysis worker; afterwards the calls are only
// read (by the browser and the recovery run) until the reader is destroyed.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/db_sqlite.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class CExportWriter;
}

namespace readers {

class CAddressBookDB;

// The integers of a call, by position.
inline constexpr std::size_t kCallIntFieldCount = 12;
inline constexpr std::size_t kCallPkField = 0;
inline constexpr std::size_t kCallOutgoingField = 10;  // ZORIGINATED

// The name of a call whose number belongs to no contact.
inline constexpr char kUnknownContactName[] = "未知联系人";

// One call. Texts are UTF-8.
class DBITEM_CallHistory : public db::BaseItem {
 public:
  const std::string& Title() const override { return name; }
  const std::string& SearchText() const override { return name; }

  // Live rows: Z_PK, Z_ENT, Z_OPT, ZANSWERED, ZCALL_CATEGORY, ZCALLTYPE,
  // ZDISCONNECTED_CAUSE, ZFACE_TIME_DATA, ZHANDLE_TYPE,
  // ZNUMBER_AVAILABILITY, ZORIGINATED, ZREAD (0 where the store lacks one).
  // Recovered rows: the same columns (Z_PK the row id where the record's
  // start survived, else -1).
  std::array<std::int32_t, kCallIntFieldCount> intFields{};
  double duration = 0;  // seconds
  std::string deviceId;
  std::string countryCode;
  std::string location;
  std::string name;  // the peer's name: ZNAME, else the contact's, else kUnknownContactName
  std::string serviceProvider;
  std::string uniqueId;
  std::string address;  // the peer's number or address
  // time: ZDATE as Unix seconds, its fraction kept.

  bool Outgoing() const { return intFields[kCallOutgoingField] != 0; }
};

class CCallHistoryDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index; contacts: the contacts reader
  // that names the peers, or null (then every call without a stored name is
  // kUnknownContactName). Neither is owned; both must outlive Open.
  CCallHistoryDB(backup::CFileListDB* index, CAddressBookDB* contacts);
  ~CCallHistoryDB() override;

  // Kind 0: "ZCALLRECORD" while the reader is opened with param 0, else "".
  std::string GetTableName(int tableKind) override;
  // Kind 0: one ZCALLRECORD row into a DBITEM_CallHistory (param 0 only).
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the live calls (param 0), rebuilds the deleted ones, names them.
  // Returns the base's status when the database cannot be opened, else ok; a
  // store without ZCALLRECORD opens with no calls.
  base::Status Open(const std::string& path, int param) override;

  // Recovered calls first (in the order the scan found them; of two with one
  // CallKey the later found, see db/merge_recovered.h), then the live calls
  // in table order. Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_CallHistory>>& Calls() const { return calls_; }
  // The same calls as plain pointers, for the browser and the export.
  std::vector<db::BaseItem*> CallItems() const;
  // The live table's column count as LoadTable reported it; 0 when it could
  // not be read.
  int CallColumnCount() const { return callColumnCount_; }

 private:
  void RecoverDeletedCalls();
  void MergeRecoveredCalls();
  void NameCalls();

  // The analysis's index, kept for lookups of the files a record names.
  [[maybe_unused]] backup::CFileListDB* index_;
  CAddressBookDB* contacts_;
  std::vector<std::unique_ptr<DBITEM_CallHistory>> calls_;
  std::vector<std::unique_ptr<DBITEM_CallHistory>> recoveredCalls_;
  int callColumnCount_ = 0;
};

// The key under which a recovered call repeats a live one: the time with six
// decimals followed by the address ("%f%s").
std::string CallKey(const DBITEM_CallHistory& call);

// The calls of a phone's call stores (CallHistory.storedata, then
// CallHistoryTemp.storedata with the newest calls) as one list: the deleted
// calls first, then the live ones, store after store, each in its order. A
// live call with the CallKey of a live call of an earlier store, and a
// deleted call with the key of any live call or of a deleted call listed
// before, are not listed again: the phone moves the newest calls into the
// call log and leaves the freed rows behind. With one store this is its
// Calls().
// The calls stay owned by their readers.
std::vector<db::BaseItem*> JoinCalls(const std::vector<std::unique_ptr<CCallHistoryDB>>& stores);

// Writes the header "名字,手机,日期,类型,持续时间" and one line per call (in
// the order given; records of other types are passed over) to writer, each
// with the call's deleted flag. A name or address holding a comma, a quote
// or a line break is passed through db::CsvQuoteField so the line keeps its
// five columns. Runs on the recovery worker.
void WriteCallsCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& calls);

}  // namespace readers
