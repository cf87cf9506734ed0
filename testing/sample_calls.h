#pragma once
// Sample CallHistory.storedata files: the Core Data store of the phone's
// call log with live calls and calls deleted with their bytes left in the
// file, in the two ZCALLRECORD shapes whose deleted rows the call reader
// rebuilds (deleted-row layout 9):
//   k21Columns  Z_PK, Z_ENT, Z_OPT, ZANSWERED, ZCALL_CATEGORY, ZCALLTYPE,
//               ZDISCONNECTED_CAUSE, ZFACE_TIME_DATA, ZHANDLE_TYPE,
//               ZNUMBER_AVAILABILITY, ZORIGINATED (10), ZREAD, ZDATE (12, a
//               double), ZDURATION, ZDEVICE_ID, ZISO_COUNTRY_CODE, ZLOCATION,
//               ZNAME, ZSERVICE_PROVIDER, ZUNIQUE_ID (19, a 36-character
//               UUID), ZADDRESS (20, a BLOB)
//   k23Columns  the same without ZDEVICE_ID (ZUNIQUE_ID at 18), then
//               ZPARTICIPANT_GROUP_UUID, ZLOCAL_PARTICIPANT_UUID, ZADDRESS
//               (21), ZREMOTE_PARTICIPANT_HANDLES; the names of the columns
//               after ZUNIQUE_ID other than ZADDRESS are the sample's own.
// As in the iOS 8 store, the integers come first, then the date and the
// duration, the texts and last the BLOBs.
//
// The functions return SQL text for sample::SqliteFile. Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

enum class CallStoreShape { k21Columns, k23Columns };

inline constexpr char kCallHistoryDomain[] = "HomeDomain";
inline constexpr char kCallHistoryRelativePath[] = "Library/CallHistoryDB/CallHistory.storedata";
// The store of the newest calls beside it (same ZCALLRECORD table).
inline constexpr char kCallHistoryTempRelativePath[] = "Library/CallHistoryDB/CallHistoryTemp.storedata";

// 21 or 23.
int CallRecordColumns(CallStoreShape shape);

struct SampleCall {
  // ZDATE: seconds since 2001-01-01 UTC. Give it a fraction, as the phone's
  // clock does: SQLite stores a whole number as an integer, and the deleted-row
  // layout then passes the row over.
  double appleSeconds = 0;
  double durationSeconds = 0;  // 0: a missed or cancelled call
  std::string address;         // the peer's number, stored as a BLOB as the phone does
  std::string name;            // ZNAME; the phone leaves it NULL for most calls
  std::string location;        // ZLOCATION, e.g. "北京"
  bool outgoing = false;       // ZORIGINATED
  bool answered = true;
  bool deleted = false;        // inserted, then deleted: only its bytes remain
};

// The CREATE statements of a store: ZCALLRECORD with its date index and the
// Core Data bookkeeping tables (Z_PRIMARYKEY, Z_METADATA).
std::string CallHistorySchemaSql(CallStoreShape shape);

// The INSERT of one call under Z_PK pk.
std::string CallInsertSql(CallStoreShape shape, std::int64_t pk, const SampleCall& call);

// A whole store: the schema, every call inserted in order (Z_PK 1, 2, ...),
// then the deleted ones deleted.
std::string CallHistorySql(CallStoreShape shape, const std::vector<SampleCall>& calls);

// A realistic log of a phone in China in late 2020: twelve calls in and
// out, missed ones, one with a stored name, one to an international number;
// three deleted.
std::vector<SampleCall> SampleCallLog();

// The newest calls of the same phone, for CallHistoryTemp.storedata: the
// log's last call again (not yet taken out after the move) and a newer one.
std::vector<SampleCall> SampleNewestCalls();

}  // namespace sample
