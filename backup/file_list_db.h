#pragma once
// CFileListDB, the backup file index: opens a backup folder, picks its source
// mode and resolves an app's file (domain and relative-path suffix) to the
// file stored in the backup.
//
// Source modes, fixed by Open:
//   0 SourceManifestDb    "Manifest.db" in the folder: its table "Files"
//   1 SourceManifestMbdb  no Manifest.db, "Manifest.mbdb": its records
//   2 SourceFolder        neither: the folder tree itself
//
// The manifest formats are laid out in docs/formats/manifest_db.md and
// docs/formats/mbdb.md.
//
// Every database it hands out that has a "-wal" companion in the backup is
// remembered with it; OpenDatabase opens a reader on the two, so readers see
// the newest rows. Nothing in the backup folder is written.
//
// An encrypted backup (Manifest.plist IsEncrypted) opens with its password
// (SetPassword) or when it was unlocked before in this run. Its stored paths
// then name decrypted copies in the run's private folder, made when a reader
// first asks for them: OpenDatabase does so for databases, and readers call
// ReadyStoredFile (encrypted_backup.h) before they read any other stored
// file, and StoredFileSize for a size.
//
// Threads: used by one thread at a time (the analysis worker).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backup/encrypted_backup.h"
#include "backup/mbdb.h"
#include "db/db_sqlite.h"

namespace backup {

enum SourceMode : int {
  SourceManifestDb = 0,
  SourceManifestMbdb = 1,
  SourceFolder = 2,
};

// A count limit meaning "no limit" (the unsigned -1).
inline constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// One file found in a backup.
class DBITEM_FileList : public db::BaseItem {
 public:
  const std::string& Title() const override { return relativePath; }
  const std::string& SearchText() const override { return relativePath; }

  std::string fileID;        // the stored file's name, 40 hexadecimal digits
  std::string domain;        // e.g. "HomeDomain"
  std::string relativePath;  // inside the domain, '/'-separated; in folder mode the found path
  std::int32_t flags = 0;    // the manifest's flags (1 regular file)
  std::vector<std::uint8_t> fileBlob;  // the manifest's "file" column, a binary property list
  std::string storedPath;    // full path of the stored file
  std::string fileName;      // relativePath after its last '/'; in folder mode the found path
  std::int64_t lastModified = 0;  // Unix seconds, from the manifest (mode 0)
  std::int64_t lastStatusChange = 0;
  std::int64_t birth = 0;
  std::int64_t size = 0;
};

using FileRecordList = std::vector<std::unique_ptr<DBITEM_FileList>>;

class CFileListDB : public db::CDbSqlite {
 public:
  CFileListDB() = default;

  // Opens a backup folder (param is ignored). Returns corrupt or unreadable
  // (naming the manifest) when a Manifest.db is there but cannot be opened or
  // holds no table Files, or a Manifest.mbdb cannot be parsed: the caller
  // then reports "未发现备份信息". A folder with neither is read in folder
  // mode and opens (ok). An encrypted backup fails with NeedsPassword,
  // WrongPassword or Corrupt (a damaged keybag or manifest key) as
  // DecryptedBackup::Open tells.
  base::Status Open(const std::string& folder, int param) override;

  // The password the next Open uses for an encrypted backup; Open wipes it.
  void SetPassword(std::string password);
  // Called with 0-100 while Open derives the password's key (a few seconds).
  void SetUnlockProgress(std::function<void(int)> progress) { unlockProgress_ = std::move(progress); }
  // Whether the open backup is an encrypted one.
  bool Encrypted() const { return decrypted_ != nullptr; }

  // The stored write-ahead log of a database this index handed out by its
  // stored path, or empty (none in the backup, or not handed out).
  std::string WalCompanionOf(const std::string& storedPath) const;
  // Opens reader on a database this index found, with its stored log: the
  // one way readers open a backup's database. Returns reader.Open's status.
  base::Status OpenDatabase(db::CDbSqlite& reader, const std::string& storedPath, int param) const;

  // The index never loads whole tables: throws std::logic_error.
  std::string GetTableName(int tableKind) override;
  // Kind 0: a row of "Files" into a DBITEM_FileList with its metadata;
  // kind 1: the same without metadata (the "-wal" list).
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;

  // Appends the stored paths of the files whose relative path ends with
  // relativePath in domain (SQL wildcards allowed in the manifest modes).
  // Modes 0 and 1 return 1 when the lookup ran, even without a match, and 0
  // when it failed; mode 2 returns the number of paths in out. search and
  // maxCount apply to mode 2 only. Callers check out for emptiness.
  int FindFilePaths(const std::string& relativePath, const std::string& domain,
                    std::vector<std::string>& out, bool search, std::size_t maxCount = kNoLimit);

  // The same lookup returning records with storedPath set; modes 0 and 1
  // return 1 (0 on failure), mode 2 the number of records in out.
  int FindFileRecords(const std::string& relativePath, const std::string& domain, FileRecordList& out,
                      bool search, std::size_t maxCount = kNoLimit);

  // Where the file named fileID is stored: mode 0 the folder, the first two
  // digits and the name; mode 1 the folder and the name; mode 2 the folder.
  // For an encrypted backup: where its decrypted copy is (or will be).
  std::string StoredPathOf(const std::string& fileID) const;

  int Mode() const { return sourceMode_; }
  // The records of Manifest.mbdb (mode 1), for readers that go through a
  // whole domain; null in the other modes.
  const MbdbIndex* Mbdb() const { return mbdb_ ? &*mbdb_ : nullptr; }
  const std::string& BackupFolder() const { return backupFolder_; }
  // The folder the stored paths lie in: the backup folder, or for an
  // encrypted backup the run's private folder of decrypted copies.
  const std::string& StoredFilesRoot() const { return decrypted_ ? decrypted_->PrivateFolder() : backupFolder_; }
  // A stored path as the backup keeps it, for showing: an encrypted
  // backup's decrypted copy (gone when the run ends) is named by the
  // encrypted file in the backup; any other path as it is.
  std::string BackupPathOf(const std::string& storedPath) const;
  // The number of regular files the manifest lists (mode 2: in the tree).
  std::int64_t CountFiles();

 private:
  int LookupFiles(const std::string& relativePath, const std::string& domain, FileRecordList& out);
  int FindInFolder(const std::string& relativePath, bool search, std::size_t maxCount,
                   std::vector<std::string>& out) const;
  void RememberWalCompanions(const FileRecordList& records);
  // (domain in lower case, relative path of the database) -> fileID of its
  // "-wal" file; built on first use.
  const std::map<std::pair<std::string, std::string>, std::string>& WalIndex();

  int sourceMode_ = SourceFolder;
  std::string backupFolder_;
  std::optional<MbdbIndex> mbdb_;
  std::optional<std::map<std::pair<std::string, std::string>, std::string>> walIndex_;
  // stored path of a database handed out -> stored path of its log
  std::map<std::string, std::string> walCompanions_;
  std::string password_;
  std::function<void(int)> unlockProgress_;
  std::shared_ptr<DecryptedBackup> decrypted_;
};

// Reads LastModified, LastStatusChange, Birth and Size from the record's
// "file" blob (the first dictionary of the keyed archive's "$objects"), sets
// fileName from relativePath and time from birth. A blob that cannot be read
// leaves the metadata at 0; a value of another type than integer is skipped.
void ParseFileMetadata(DBITEM_FileList& record);

enum class SearchMode { kSubstring, kExactName };

// Walks folder (which ends with a separator) depth first, names in sorted
// order, without following links, appending folder + name of each file that
// matches: in substring mode when the full path contains pattern
// (case-sensitive), in exact-name mode when the name equals pattern ignoring
// ASCII case. Stops once out holds maxCount entries.
void SearchFolder(const std::string& folder, const std::string& pattern, std::vector<std::string>& out,
                  SearchMode mode, std::size_t maxCount);

// Whether folder is a backup the user may analyse: a marker file
// ("Manifest.db", "Manifest.mbdb", "mmsetting.archive", "DB/WCDB_Contact.sqlite")
// in the folder itself, or else in one of its immediate subfolders (the last
// such subfolder in name order wins). Returns 1 and sets chosen, or 0.
int IsBackupFolder(const std::string& folder, std::string& chosen);

// Whether a manifest's fileID may become part of a path: only a name of at
// least two hexadecimal digits may, so that a damaged manifest cannot point
// outside the backup.
bool IsStoredFileName(const std::string& fileID);

// The SHA-1 of domain "-" path as 40 lowercase hexadecimal digits: the name
// under which an mbdb backup stores that file.
std::string MbdbFileId(const std::string& domain, const std::string& path);

}  // namespace backup
