#pragma once
// ICategoryReader: the one interface through which a data category is
// analysed and recovered. The analysis, the recovery run, the command line
// and the record browser reach every category through it; what differs
// between categories lives in the reader behind it and in the category's row
// of base/categories.h.
//
// The life of one reader, on the analysis worker:
//   Open(index)  finds the category's files in the backup (no SQL yet);
//   Load(...)    reads them: live rows through SQL, deleted rows through the
//                scanner, merged into records;
// then, until the reader is destroyed, on any one thread at a time:
//   Accounts / ChooseAccount   the chat categories' accounts;
//   ResultList                 the records the category shows;
//   Export                     writes a selection of them;
//   RecordJson                 describes one of them.
// The reader owns every record it hands out.
//
// Failures: a file the backup does not hold is no failure (the app is not on
// the phone: fewer records). A file that is there but cannot be read is a
// FileProblem; the reader goes on with the other files and says so through
// Problems(). A problem with a file the category needs (its own database, not
// the contacts that only name the peers) is marked required.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/categories.h"
#include "base/status.h"
#include "db/items.h"
#include "db/progress.h"

namespace backup {
class CFileListDB;
}
namespace db {
class CDbSqlite;
}
namespace exporting {
class CExportWriter;
class IExportProgress;
}

namespace readers {

struct FileProblem {
  base::Status status;  // names the file
  bool required = false;
};

// One chat account as the account choice lists it.
struct AccountSummary {
  std::string userName;
  std::string displayName;
  std::string id;  // what people know the account by: a WeChat ID, a QQ number
  // Chats of the account are in the backup but locked: encrypted under a
  // key the backup does not hold (QQ's current builds).
  bool chatsEncrypted = false;
  // What to tell the user about chats in the backup that are not read (the
  // reason, in the program's language); "" when every chat found is read.
  std::string notice;
};

// What Load gets from the analysis.
struct LoadContext {
  db::AnalysisProgress* progress = nullptr;  // may be null
  // The browser's rows the media categories' top groups are bound to;
  // opaque here, null without a browser.
  std::array<void*, 5> groupRows{};
};

// Where a database of the phone is kept: its domain and relative path in a
// manifest backup, its path in a plain folder.
struct DatabaseLocation {
  const char* domain;
  const char* manifestPath;
  const char* folderPath;
};

class ICategoryReader {
 public:
  explicit ICategoryReader(const base::CategoryInfo& category) : category_(category) {}
  virtual ~ICategoryReader() = default;
  ICategoryReader(const ICategoryReader&) = delete;
  ICategoryReader& operator=(const ICategoryReader&) = delete;

  const base::CategoryInfo& Category() const { return category_; }

  // Finds the category's files through index, which must outlive the reader.
  // Returns ok when at least one was found, not found when the backup holds
  // none of them (the app is not on the phone), unreadable when the index
  // could not be asked (the problem is kept too).
  base::Status Open(backup::CFileListDB& index);
  // Reads what Open found; problems go to Problems(). Runs on the analysis
  // worker.
  virtual void Load(const LoadContext& context) = 0;

  // The chat categories: the accounts found, in order (none for the others).
  virtual std::vector<AccountSummary> Accounts() const { return {}; }
  // The account whose records ResultList and Export use (0 at first). An
  // index beyond Accounts() gives an empty result list.
  void ChooseAccount(std::size_t account) { account_ = account; }
  std::size_t ChosenAccount() const { return account_; }

  // The records the category shows, in order (group records for
  // conversations and media). They belong to the reader.
  virtual std::vector<db::BaseItem*> ResultList() const = 0;

  // Writes selection (records of ResultList, or for the media categories the
  // day groups of topGroup that hold ticked files) through writer, whose
  // category was begun, and finishes what it writes. progress may be null.
  // Returns ok, or unreadable naming what could not be written. Once
  // writer.Cancelled() (progress asked to stop) it adds no more records and
  // copies no more files; the run then reports cancelled (RunRecovery).
  virtual base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                              const db::FriendItem* topGroup, exporting::IExportProgress* progress) const = 0;

  // A record as JSON: "title", "deleted" (for a deleted record then
  // "deletedFrom": "free-space", "recently-deleted" or "wal", and
  // "deletedAt": Unix seconds or null), "time" (Unix seconds, or null), then
  // the fields of its type (DescribeRecord).
  nlohmann::ordered_json RecordJson(const db::BaseItem& record) const;
  // A group record with its members under "records".
  nlohmann::ordered_json GroupJson(const db::BaseItem& group) const;

  const std::vector<FileProblem>& Problems() const { return problems_; }

 protected:
  // Open's step of the category: finds its files through index.
  virtual base::Status FindFiles(backup::CFileListDB& index) = 0;
  // Adds the fields of a record of this category to out, under the names the
  // code uses. Records of another type add nothing.
  virtual void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const = 0;

  // The backup Open was given (null before).
  backup::CFileListDB* Index() const { return index_; }
  // The one way a category reads a database it found: reports 10 percent,
  // opens reader on storedPath with its stored log (which loads it), closes
  // the connection (the records stay) and keeps the reader's problems.
  void OpenAndLoad(db::CDbSqlite& reader, const std::string& storedPath, int param, const LoadContext& context,
                   bool required);
  // Looks a database up through the index (the first stored path the lookup
  // gives): ok with its path; not found (path empty) when the backup does
  // not hold it; unreadable when the index could not be asked, which is kept
  // as a required problem.
  base::Status Locate(const DatabaseLocation& location, std::string& path);

  void AddProblem(const base::Status& status, bool required);
  // Every problem reader kept (its failed Open, damaged pages, scans that
  // could not run); a null reader adds none.
  void AddProblems(const db::CDbSqlite* reader, bool required);

 private:
  const base::CategoryInfo& category_;
  backup::CFileListDB* index_ = nullptr;
  std::size_t account_ = 0;
  std::vector<FileProblem> problems_;
};

// The members of a group record, without null entries (none for other
// records).
std::vector<const db::BaseItem*> Members(const db::BaseItem& record);

// Where a deleted record was found, as JSON names it.
const char* DeletedFromName(db::BaseItem::DeletedFrom from);

// A record time (Unix seconds) as JSON: null for 0 (no time).
nlohmann::ordered_json TimeJson(double time);

}  // namespace readers
