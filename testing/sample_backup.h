#pragma once
// The sample-backup builder: realistic backups made from code, for the
// tests, `velmora demo` and the benchmarks.
//
// A builder collects files (domain, relative path, bytes, times) and writes
// them as a backup in one of the three forms the system reads:
//   kManifestDb    Info.plist, Manifest.db (table "Files" with keyed-archive
//                  "file" blobs, as written by iOS 10 and later), stored
//                  files under <first two digits>/<SHA-1 name>
//   kManifestMbdb  Info.plist, Manifest.mbdb, stored files under their SHA-1
//                  names in the folder itself
//   kFolder        the files under their relative paths, no manifest
// The two manifest forms also get a Manifest.plist, and may be written
// encrypted (sample_encryption.h).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "testing/sample_encryption.h"

namespace sample {

namespace fs = std::filesystem;

enum class BackupMode { kManifestDb, kManifestMbdb, kFolder };

// Writes bytes as the whole file at path (its folder made if missing),
// replacing an older file. Throws std::runtime_error when it cannot.
void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);

struct DeviceInfo {
  std::string deviceName = "Lin's iPhone";
  std::string productType = "iPhone12,1";
  std::string productVersion = "14.3";
  std::string buildVersion = "18C66";
  std::int64_t lastBackupDate = 1638559914;  // Unix seconds
  bool binaryInfoPlist = false;              // iTunes writes XML; some tools binary
};

struct BackupFile {
  std::string domain;
  std::string relativePath;
  std::vector<std::uint8_t> content;
  std::int64_t birth = 1566918489;
  std::int64_t lastModified = 1638501497;
  std::int64_t lastStatusChange = 1638559914;
  std::uint16_t mode = 0100644;  // a folder has 040755
  bool isFolder = false;
};

// A SQLite database built in a temporary folder by running SQL on it. Rows
// deleted with secure_delete off keep their bytes in the file, as on a phone.
class SqliteFile {
 public:
  enum class Journal {
    kRollback,
    // WAL mode, checkpointed at the end: the header says WAL, no -wal file.
    kWalCheckpointed,
    // WAL mode with the rows written after the first checkpoint left in the
    // -wal file, as a phone leaves its newest rows.
    kWalPending,
  };

  // Runs setupSql (the schema and the older rows), then, in WAL modes after
  // a checkpoint, recentSql (rows that stay in the -wal file for
  // kWalPending). Throws std::runtime_error with SQLite's text on a failed
  // statement.
  SqliteFile(const std::string& setupSql, const std::string& recentSql = "",
             Journal journal = Journal::kRollback);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  std::vector<std::uint8_t> DatabaseBytes() const;
  // Empty unless kWalPending.
  std::vector<std::uint8_t> WalBytes() const;
  // Writes the database as the file at path and, when it has one, its log
  // beside it as path + "-wal", as a backup holds them (folders made).
  void WriteTo(const fs::path& path) const;

 private:
  platform::TempFolder folder_;
  fs::path path_;
};

class SampleBackupBuilder {
 public:
  SampleBackupBuilder() = default;

  void SetDevice(const DeviceInfo& device) { device_ = device; }
  void AddFile(BackupFile file);
  void AddFile(const std::string& domain, const std::string& relativePath, std::vector<std::uint8_t> content);
  void AddText(const std::string& domain, const std::string& relativePath, const std::string& text);
  void AddFolder(const std::string& domain, const std::string& relativePath);
  // Adds a database, and its "-wal" companion when the file has one.
  void AddDatabase(const std::string& domain, const std::string& relativePath, const SqliteFile& database);

  // Writes the backup into folder (made if missing), encrypted with
  // encryption when given (the manifest forms only). Throws on I/O errors.
  void Write(const fs::path& folder, BackupMode mode, const BackupEncryption* encryption = nullptr) const;

  const std::vector<BackupFile>& Files() const { return files_; }

 private:
  void WriteManifestDb(const fs::path& folder, const SampleEncryptor* encryptor,
                       const BackupEncryption* encryption) const;
  void WriteManifestMbdb(const fs::path& folder, const SampleEncryptor* encryptor,
                         const BackupEncryption* encryption) const;
  void WriteInfoPlist(const fs::path& folder) const;
  // keybag and manifestKey empty for a backup that is not encrypted.
  void WriteManifestPlist(const fs::path& folder, const std::vector<std::uint8_t>& keybag,
                          const std::vector<std::uint8_t>& manifestKey) const;

  DeviceInfo device_;
  std::vector<BackupFile> files_;
};


// The built-in sample: a small iPhone backup with messages (newest rows only
// in sms.db-wal, one deleted handle), preferences, a folder row and a photo.
SampleBackupBuilder DemoBackup();

// The built-in sample with the phone's own apps besides: contacts, messages
// (newest rows in the -wal), call history (and its store of the newest
// calls), Safari, notes, calendar and reminders (in Calendar.sqlitedb and in
// an iOS 17 reminders store), WhatsApp, a WeChat account with its contacts and chats, a QQ
// and a TIM account with their chats, each
// with live and deleted rows, voice memos with their recordings, a camera
// roll and app files.
SampleBackupBuilder AppsDemoBackup();

// Writes the built-in sample with its apps in all three forms below root,
// as root/"manifest-db", root/"manifest-mbdb" and root/"folder", and
// encrypted with kDemoBackupPassword as root/"encrypted".
void WriteDemoBackups(const fs::path& root);

// The password of the demo's encrypted backup.
inline constexpr const char* kDemoBackupPassword = "velmora-demo";

}  // namespace sample
