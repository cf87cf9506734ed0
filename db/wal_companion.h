#pragma once
// Where a database's write-ahead log lives, and the private working copy that
// lets SQLite read the two together without touching the backup.
//
// Modern phones keep their newest rows in the "-wal" file beside a database.
// In a backup folder that companion is stored under its own hashed name, so
// whoever found the database in the backup (the backup file index) names its
// log to the reader; a loose database (a plain folder, a copied file) has its
// "-wal" right beside it.

#include <optional>
#include <string>

#include "platform/fs.h"

namespace db {

// The write-ahead log to read with a database: storedWalPath when it is not
// empty, else databasePath + "-wal", when that is a regular file. A log of 0
// bytes holds no rows and is not reported.
std::optional<std::string> WalCompanionOf(const std::string& databasePath, const std::string& storedWalPath);

// A database and its log copied under matching names into a private folder
// below the temporary root; the folder goes away with this object.
class WorkingCopy {
 public:
  // Throws std::filesystem::filesystem_error when a copy fails.
  WorkingCopy(const std::string& databasePath, const std::string& walPath);
  const std::string& DatabasePath() const { return databasePath_; }

 private:
  platform::TempFolder folder_;
  std::string databasePath_;
};

}  // namespace db
