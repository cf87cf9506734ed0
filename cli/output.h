#pragma once
// Output helpers shared by the commands.

#include <cstdint>
#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

#include "backup/file_list_db.h"
#include "db/db_sqlite.h"

namespace cli {

// Exit statuses of every command.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUnreadable = 1;
inline constexpr int kExitUsage = 2;

// The message shown when a folder holds no backup that can be read.
inline constexpr const char* kNoBackupInfo = "未发现备份信息";

// Writes JSON to out, indented, one value; invalid UTF-8 from a backup is
// replaced rather than failing the whole output.
void PrintJson(std::ostream& out, const nlohmann::ordered_json& value);

// "YYYY-MM-DD HH:MM:SS" in UTC.
std::string FormatUtc(std::int64_t unixSeconds);

// The stored paths among the texts of value named as index's backup keeps
// them (BackupPathOf): what is shown of an encrypted backup outlives the run.
void ShowBackupPaths(nlohmann::ordered_json& value, const backup::CFileListDB& index);

// Prints "未发现备份信息: <reason>" to stderr and returns kExitUnreadable.
int ReportNoBackup(const std::string& reason);

}  // namespace cli
