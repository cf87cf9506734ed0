#include "backup/file_list_db.h"

#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "backup/plist.h"
#include "db/wal_companion.h"
#include "platform/digest.h"
#include "platform/fs.h"

namespace backup {
namespace {

constexpr int kFilesKind = 0;
constexpr int kWalListKind = 1;
constexpr char kSeparator = std::filesystem::path::preferred_separator;
constexpr const char* kWalSuffix = "-wal";
// Deeper folders than this are not searched: no real backup nests so deep,
// and the walk recurses once per level.
constexpr int kMaxSearchDepth = 256;

std::string WithoutTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

// The first occurrence of suffix in path must end exactly where path ends.
bool EndsWithFirstOccurrence(const std::string& path, const std::string& suffix) {
  const auto at = path.find(suffix);
  return at != std::string::npos && at + suffix.size() == path.size();
}

// SQL LIKE as SQLite runs it on the manifest database: '%' any run of
// characters, '_' any one, ASCII letters compared ignoring case. Greedy with
// one resume point, so a pattern costs at most text × pattern steps.
bool MatchesLike(std::string_view pattern, std::string_view text) {
  auto same = [](char a, char b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
  };
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starAt = std::string_view::npos;
  std::size_t resumeAt = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      starAt = p++;
      resumeAt = t;
    } else if (p < pattern.size() && (pattern[p] == '_' || same(pattern[p], text[t]))) {
      ++p;
      ++t;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      t = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

// Whether a manifest path answers a lookup: a pattern with '%' as the
// manifest database's LIKE "%<pattern>" would, so that wildcard lookups find
// the same files in both manifest forms; a plain suffix as before.
bool MbdbPathMatches(const std::string& path, const std::string& relativePath) {
  if (relativePath.find('%') != std::string::npos) return MatchesLike("%" + relativePath, path);
  return EndsWithFirstOccurrence(path, relativePath);
}

std::unique_ptr<DBITEM_FileList> RecordFromRow(db::CppSQLite3Query& query) {
  auto record = std::make_unique<DBITEM_FileList>();
  record->fileID = query.GetStringField(0);
  record->domain = query.GetStringField(1);
  record->relativePath = query.GetStringField(2);
  record->flags = query.GetIntField(3);
  return record;
}

std::int64_t CountFilesBelow(const std::filesystem::path& folder, int depth) {
  if (depth > kMaxSearchDepth) return 0;
  std::int64_t count = 0;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
    if (entry.isFile) ++count;
    if (entry.isFolder) count += CountFilesBelow(folder / entry.name, depth + 1);
  }
  return count;
}

void SearchFolderAt(const std::string& folder, const std::string& pattern, std::vector<std::string>& out,
                    SearchMode mode, std::size_t maxCount, int depth) {
  if (depth > kMaxSearchDepth) return;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
    if (out.size() >= maxCount) return;
    const std::string full = folder + entry.name;
    if (entry.isFolder) {
      SearchFolderAt(full + kSeparator, pattern, out, mode, maxCount, depth + 1);
    } else if (entry.isFile) {
      const bool match = mode == SearchMode::kSubstring
                             ? full.find(pattern) != std::string::npos
                             : platform::EqualsIgnoringAsciiCase(entry.name, pattern);
      if (match) out.push_back(full);
    }
  }
}

}  // namespace

bool IsStoredFileName(const std::string& fileID) {
  if (fileID.size() < 2) return false;
  for (char c : fileID) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

std::string MbdbFileId(const std::string& domain, const std::string& path) {
  return platform::Sha1Hex(domain + "-" + path);
}

base::Status CFileListDB::Open(const std::string& folder, int /*param*/) {
  backupFolder_ = WithoutTrailingSeparators(folder);
  mbdb_.reset();
  walIndex_.reset();
  walCompanions_.clear();
  decrypted_.reset();
  std::string password = std::move(password_);
  WipeText(password_);
  if (const auto encryption = ReadManifestEncryption(backupFolder_); encryption && encryption->encrypted) {
    const base::Status unlocked =
        DecryptedBackup::Open(backupFolder_, *encryption, std::move(password), unlockProgress_, decrypted_);
    if (!unlocked.Ok()) return unlocked;
  }
  WipeText(password);
  if (const auto manifest = platform::FindIgnoringCase(backupFolder_, "Manifest.db");
      manifest && platform::IsRegularFile(*manifest)) {
    sourceMode_ = SourceManifestDb;
    const std::string readable = decrypted_ ? decrypted_->ManifestPath() : manifest->string();
    if (base::Status opened = CDbSqlite::Open(readable, SourceManifestDb); !opened.Ok()) return opened;
    std::int64_t tables = 0;
    if (!QueryInt64("Select count(*) From sqlite_master WHERE type='table' AND name='Files';", tables) ||
        tables != 1) {
      const std::string reason = lastError.empty() ? "no table Files" : lastError;
      Close();
      return base::Status::Corrupt(manifest->string(), "not a backup manifest (" + reason + ")");
    }
    return {};
  }
  openParam = -1;
  dbFolder = backupFolder_ + kSeparator;
  if (const auto mbdb = platform::FindIgnoringCase(backupFolder_, "Manifest.mbdb");
      mbdb && platform::IsRegularFile(*mbdb)) {
    sourceMode_ = SourceManifestMbdb;
    openParam = SourceManifestMbdb;
    dbPath = mbdb->string();
    mbdb_ = MbdbIndex::ParseFile(dbPath);
    if (!mbdb_) return base::Status::Corrupt(dbPath, "not a readable Manifest.mbdb");
    return {};
  }
  sourceMode_ = SourceFolder;
  openParam = SourceFolder;
  return {};
}

std::string CFileListDB::WalCompanionOf(const std::string& storedPath) const {
  const auto it = walCompanions_.find(storedPath);
  return it != walCompanions_.end() ? it->second : std::string();
}

void CFileListDB::SetPassword(std::string password) {
  WipeText(password_);
  password_ = std::move(password);
}

base::Status CFileListDB::OpenDatabase(db::CDbSqlite& reader, const std::string& storedPath, int param) const {
  std::string wal = WalCompanionOf(storedPath);
  if (decrypted_) {
    std::string why;
    if (!decrypted_->Ready(storedPath, &why)) {
      // The reader stays closed; its file is reported as the backup stores it.
      reader.Close();
      base::Status failed = base::Status::Unreadable(decrypted_->StoredPathOf(storedPath), why);
      reader.NoteProblem(failed);
      return failed;
    }
    if (!wal.empty() && !decrypted_->Ready(wal, &why)) {
      reader.NoteProblem(base::Status::Unreadable(decrypted_->StoredPathOf(wal), why));
      wal.clear();
    }
  }
  reader.SetWalCompanion(wal);
  return reader.Open(storedPath, param);
}

std::string CFileListDB::BackupPathOf(const std::string& storedPath) const {
  if (!decrypted_ || std::filesystem::path(storedPath).parent_path() != decrypted_->PrivateFolder()) return storedPath;
  return decrypted_->StoredPathOf(storedPath);
}

std::string CFileListDB::GetTableName(int /*tableKind*/) {
  throw std::logic_error("The method or operation is not implemented.");
}

void CFileListDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (tableKind == kFilesKind) {
    auto record = RecordFromRow(query);
    const auto blob = query.GetFieldBlob(query.FieldIndex("file"));
    record->fileBlob.assign(blob.begin(), blob.end());
    ParseFileMetadata(*record);
    out = std::move(record);
    return;
  }
  if (tableKind == kWalListKind) {
    out = RecordFromRow(query);
    return;
  }
  CDbSqlite::ParseRow(tableKind, out, query);
}

std::string CFileListDB::StoredPathOf(const std::string& fileID) const {
  if (decrypted_ && sourceMode_ != SourceFolder) return decrypted_->PlainPathOf(fileID);
  switch (sourceMode_) {
    case SourceManifestDb: return dbFolder + fileID.substr(0, 2) + kSeparator + fileID;
    case SourceManifestMbdb: return dbFolder + fileID;
    default: return dbFolder;
  }
}

int CFileListDB::LookupFiles(const std::string& relativePath, const std::string& domain, FileRecordList& out) {
  FileRecordList found;
  if (sourceMode_ == SourceManifestDb) {
    db::ItemList rowsRead;
    const int result = Query(kFilesKind,
                             "Select * From Files WHERE domain like ? and flags=1 and relativePath LIKE ?;",
                             rowsRead, {domain, "%" + relativePath});
    if (result == 0) return 0;
    for (auto& item : rowsRead) {
      found.emplace_back(static_cast<DBITEM_FileList*>(item.release()));
    }
  } else if (sourceMode_ == SourceManifestMbdb) {
    if (!mbdb_) return 0;
    for (const MbdbRecord& record : mbdb_->Records()) {
      // Files only, as Manifest.db's flags=1: a folder has no stored file.
      if (!record.domain || !record.path || !record.IsRegularFile()) continue;
      if (!platform::EqualsIgnoringAsciiCase(*record.domain, domain)) continue;
      if (!MbdbPathMatches(*record.path, relativePath)) continue;
      auto item = std::make_unique<DBITEM_FileList>();
      item->domain = *record.domain;
      item->relativePath = *record.path;
      item->fileID = MbdbFileId(*record.domain, *record.path);
      found.push_back(std::move(item));
    }
  } else {
    return 0;
  }
  for (auto& record : found) {
    if (!IsStoredFileName(record->fileID)) continue;
    record->storedPath = StoredPathOf(record->fileID);
    out.push_back(std::move(record));
  }
  RememberWalCompanions(out);
  return 1;
}

const std::map<std::pair<std::string, std::string>, std::string>& CFileListDB::WalIndex() {
  if (walIndex_) return *walIndex_;
  walIndex_.emplace();
  const std::string suffix = kWalSuffix;
  auto add = [&](const std::string& domain, const std::string& path, const std::string& fileID) {
    if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return;
    }
    (*walIndex_)[{platform::AsciiLower(domain), path.substr(0, path.size() - suffix.size())}] = fileID;
  };
  if (sourceMode_ == SourceManifestDb) {
    db::ItemList walRows;
    Query(kWalListKind, "Select fileID, domain, relativePath, flags From Files WHERE flags=1 and relativePath LIKE ?;",
          walRows, {std::string("%") + kWalSuffix});
    for (const auto& item : walRows) {
      const auto& record = static_cast<const DBITEM_FileList&>(*item);
      if (IsStoredFileName(record.fileID)) add(record.domain, record.relativePath, record.fileID);
    }
  } else if (sourceMode_ == SourceManifestMbdb && mbdb_) {
    for (const MbdbRecord& record : mbdb_->Records()) {
      if (record.domain && record.path) add(*record.domain, *record.path, MbdbFileId(*record.domain, *record.path));
    }
  }
  return *walIndex_;
}

void CFileListDB::RememberWalCompanions(const FileRecordList& records) {
  for (const auto& record : records) {
    const auto& index = WalIndex();
    const auto it = index.find({platform::AsciiLower(record->domain), record->relativePath});
    if (it != index.end()) walCompanions_[record->storedPath] = StoredPathOf(it->second);
  }
}

int CFileListDB::FindInFolder(const std::string& relativePath, bool search, std::size_t maxCount,
                              std::vector<std::string>& out) const {
  if (search) {
    std::string pattern;
    for (char c : relativePath) {
      if (c == '%') continue;
      pattern += (c == '/' || c == '\\') ? kSeparator : c;
    }
    SearchFolder(dbFolder, pattern, out, SearchMode::kSubstring, maxCount);
  } else if (!relativePath.empty()) {
    if (const auto found = platform::FindIgnoringCase(backupFolder_, relativePath);
        found && platform::IsRegularFile(*found)) {
      out.push_back(found->string());
    }
  }
  return static_cast<int>(out.size());
}

int CFileListDB::FindFilePaths(const std::string& relativePath, const std::string& domain,
                               std::vector<std::string>& out, bool search, std::size_t maxCount) {
  if (sourceMode_ == SourceFolder) return FindInFolder(relativePath, search, maxCount, out);
  FileRecordList records;
  if (LookupFiles(relativePath, domain, records) == 0) return 0;
  for (const auto& record : records) out.push_back(record->storedPath);
  return 1;
}

int CFileListDB::FindFileRecords(const std::string& relativePath, const std::string& domain,
                                 FileRecordList& out, bool search, std::size_t maxCount) {
  if (sourceMode_ != SourceFolder) return LookupFiles(relativePath, domain, out);
  std::vector<std::string> paths;
  FindInFolder(relativePath, search, maxCount, paths);
  for (const std::string& path : paths) {
    auto record = std::make_unique<DBITEM_FileList>();
    record->relativePath = path;
    record->fileName = path;
    record->storedPath = path;
    out.push_back(std::move(record));
  }
  return static_cast<int>(out.size());
}

std::int64_t CFileListDB::CountFiles() {
  if (sourceMode_ == SourceManifestDb) {
    std::int64_t count = 0;
    if (QueryInt64("Select count(*) From Files WHERE flags=1;", count)) return count;
    return 0;
  }
  if (sourceMode_ == SourceManifestMbdb) {
    std::int64_t count = 0;
    if (mbdb_) {
      for (const MbdbRecord& record : mbdb_->Records()) count += record.IsRegularFile() ? 1 : 0;
    }
    return count;
  }
  return CountFilesBelow(backupFolder_, 0);
}

void ParseFileMetadata(DBITEM_FileList& record) {
  const auto slash = record.relativePath.rfind('/');
  record.fileName = slash == std::string::npos ? record.relativePath : record.relativePath.substr(slash + 1);
  if (record.fileBlob.empty()) return;
  try {
    const PlistValue top = ReadPlistBuffer(record.fileBlob.data(), record.fileBlob.size());
    const PlistValue* objects = top.Find("$objects");
    if (objects == nullptr || !objects->Is<PlistArray>()) return;
    for (const PlistValue& object : objects->As<PlistArray>()) {
      if (!object.Is<PlistDictionary>()) continue;
      auto copy = [&object](const char* key, std::int64_t& field) {
        const PlistValue* value = object.Find(key);
        if (value != nullptr && value->Is<std::int64_t>()) field = value->As<std::int64_t>();
      };
      copy("LastModified", record.lastModified);
      copy("LastStatusChange", record.lastStatusChange);
      copy("Birth", record.birth);
      copy("Size", record.size);
      break;
    }
  } catch (const Plist::Error&) {
    // A damaged blob costs this file its times and size, nothing more.
  }
  record.time = static_cast<double>(record.birth);
}

void SearchFolder(const std::string& folder, const std::string& pattern, std::vector<std::string>& out,
                  SearchMode mode, std::size_t maxCount) {
  SearchFolderAt(folder, pattern, out, mode, maxCount, 0);
}

int IsBackupFolder(const std::string& folder, std::string& chosen) {
  static const char* const kMarkers[] = {"Manifest.db", "Manifest.mbdb", "mmsetting.archive",
                                         "DB/WCDB_Contact.sqlite"};
  auto hasMarker = [](const std::string& candidate) {
    for (const char* marker : kMarkers) {
      if (platform::FindIgnoringCase(candidate, marker)) return true;
    }
    return false;
  };
  const std::string base = WithoutTrailingSeparators(folder);
  if (hasMarker(base)) {
    chosen = base;
    return 1;
  }
  int result = 0;
  for (const platform::FolderEntry& entry : platform::ListFolder(base)) {
    if (!entry.isFolder) continue;
    const std::string candidate = base + kSeparator + entry.name;
    if (hasMarker(candidate)) {
      chosen = candidate;
      result = 1;
    }
  }
  return result;
}

}  // namespace backup
