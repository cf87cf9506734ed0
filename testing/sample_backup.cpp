#include "testing/sample_backup.h"

#include <sqlite3.h>

#include <fstream>
#include <stdexcept>

#include "backup/file_list_db.h"
#include "testing/plist_writer.h"
#include "testing/sample_calendar.h"
#include "testing/sample_calls.h"
#include "testing/sample_contacts.h"
#include "testing/sample_media.h"
#include "testing/sample_messages.h"
#include "testing/sample_notes.h"
#include "testing/sample_safari.h"
#include "testing/sample_qq.h"
#include "testing/sample_reminders.h"
#include "testing/sample_voice_memos.h"
#include "testing/sample_wechat.h"
#include "testing/sample_wechat_split.h"
#include "testing/sample_whatsapp.h"

namespace sample {
namespace {

void Exec(sqlite3* db, const std::string& sql) {
  if (sql.empty()) return;
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("sample database: " + text);
  }
}

std::vector<std::uint8_t> ReadFileOrEmpty(const fs::path& path) {
  auto bytes = platform::ReadWholeFile(path);
  return bytes ? std::move(*bytes) : std::vector<std::uint8_t>();
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

constexpr char kSampleUdid[] = "1cb128eafa77c5be74283e9a3a2130af36a3c059";
// The protection class of Manifest.db's key, and of every file of an
// encrypted Manifest.mbdb sample (most files carry it).
constexpr std::uint32_t kManifestClass = 4;
constexpr std::uint32_t kMbdbFileClass = 3;

// Big-endian fields of Manifest.mbdb.
class MbdbWriter {
 public:
  MbdbWriter() { bytes_ = {'m', 'b', 'd', 'b', 0x05, 0x00}; }
  void Put(std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) bytes_.push_back(static_cast<std::uint8_t>(value >> (i * 8)));
  }
  void PutString(const std::optional<std::string>& text) {
    if (!text) {
      Put(0xFFFF, 2);
      return;
    }
    Put(text->size(), 2);
    bytes_.insert(bytes_.end(), text->begin(), text->end());
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("sample: cannot write " + path.string());
}

// ---- SqliteFile ----

SqliteFile::SqliteFile(const std::string& setupSql, const std::string& recentSql, Journal journal)
    : folder_("velmora-sample-db"), path_(folder_.Path() / "sample.sqlite") {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("sample database: cannot create " + path_.string());
  }
  try {
    // Debian builds SQLite with secure_delete on; a phone's SQLite leaves
    // deleted rows in the file, which is what the recovery reads.
    Exec(db, "PRAGMA secure_delete=OFF;");
    if (journal != Journal::kRollback) Exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
    Exec(db, setupSql);
    if (journal != Journal::kRollback) Exec(db, "PRAGMA wal_checkpoint(TRUNCATE);");
    Exec(db, recentSql);
    if (journal == Journal::kWalPending) {
      // Leave the newest rows in the -wal file when the connection closes.
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    } else if (journal == Journal::kWalCheckpointed) {
      Exec(db, "PRAGMA wal_checkpoint(TRUNCATE);");
    }
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

SqliteFile::~SqliteFile() = default;

std::vector<std::uint8_t> SqliteFile::DatabaseBytes() const { return ReadFileOrEmpty(path_); }

std::vector<std::uint8_t> SqliteFile::WalBytes() const {
  return ReadFileOrEmpty(fs::path(path_.string() + "-wal"));
}

void SqliteFile::WriteTo(const fs::path& path) const {
  WriteBytes(path, DatabaseBytes());
  if (const std::vector<std::uint8_t> wal = WalBytes(); !wal.empty()) WriteBytes(fs::path(path.string() + "-wal"), wal);
}

// ---- SampleBackupBuilder ----

void SampleBackupBuilder::AddFile(BackupFile file) { files_.push_back(std::move(file)); }

void SampleBackupBuilder::AddFile(const std::string& domain, const std::string& relativePath,
                                  std::vector<std::uint8_t> content) {
  BackupFile file;
  file.domain = domain;
  file.relativePath = relativePath;
  file.content = std::move(content);
  AddFile(std::move(file));
}

void SampleBackupBuilder::AddText(const std::string& domain, const std::string& relativePath,
                                  const std::string& text) {
  AddFile(domain, relativePath, Bytes(text));
}

void SampleBackupBuilder::AddFolder(const std::string& domain, const std::string& relativePath) {
  BackupFile folder;
  folder.domain = domain;
  folder.relativePath = relativePath;
  folder.mode = 040755;
  folder.isFolder = true;
  AddFile(std::move(folder));
}

void SampleBackupBuilder::AddDatabase(const std::string& domain, const std::string& relativePath,
                                      const SqliteFile& database) {
  AddFile(domain, relativePath, database.DatabaseBytes());
  std::vector<std::uint8_t> wal = database.WalBytes();
  if (!wal.empty()) AddFile(domain, relativePath + "-wal", std::move(wal));
}

void SampleBackupBuilder::Write(const fs::path& folder, BackupMode mode, const BackupEncryption* encryption) const {
  fs::create_directories(folder);
  std::optional<SampleEncryptor> encryptor;
  std::vector<std::uint8_t> keybag;
  if (encryption != nullptr && mode != BackupMode::kFolder) {
    encryptor.emplace(*encryption);
    keybag = encryptor->Keybag();
  }
  const SampleEncryptor* keys = encryptor ? &*encryptor : nullptr;
  switch (mode) {
    case BackupMode::kManifestDb: {
      WriteInfoPlist(folder);
      std::vector<std::uint8_t> manifestKey;
      std::vector<std::uint8_t> plainManifestKey;
      if (keys != nullptr) {
        manifestKey = keys->NewStoredKey(kManifestClass, plainManifestKey);
        if (encryption->editManifestKey) encryption->editManifestKey(manifestKey);
      }
      WriteManifestPlist(folder, keybag, manifestKey);
      WriteManifestDb(folder, keys, encryption);
      if (keys != nullptr) {
        const fs::path manifest = folder / "Manifest.db";
        WriteBytes(manifest, SampleEncryptor::Encrypt(ReadFileOrEmpty(manifest), plainManifestKey));
      }
      break;
    }
    case BackupMode::kManifestMbdb:
      WriteInfoPlist(folder);
      WriteManifestPlist(folder, keybag, {});
      WriteManifestMbdb(folder, keys, encryption);
      break;
    case BackupMode::kFolder:
      for (const BackupFile& file : files_) {
        if (file.isFolder) {
          fs::create_directories(folder / file.relativePath);
        } else {
          WriteBytes(folder / file.relativePath, file.content);
        }
      }
      break;
  }
}

void SampleBackupBuilder::WriteManifestDb(const fs::path& folder, const SampleEncryptor* encryptor,
                                          const BackupEncryption* encryption) const {
  const fs::path manifest = folder / "Manifest.db";
  fs::remove(manifest);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(manifest.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("sample backup: cannot create " + manifest.string());
  }
  try {
    // The phone writes its manifest in WAL mode; the checkpointed file keeps
    // that mark in its header, which is what makes an in-place open write
    // -wal and -shm files beside it.
    Exec(db,
         "PRAGMA journal_mode=WAL;"
         "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB);"
         "CREATE INDEX FilesDomainIdx ON Files(domain);"
         "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
         "CREATE INDEX FilesFlagsIdx ON Files(flags);"
         "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);"
         "BEGIN;");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Files VALUES (?, ?, ?, ?, ?);", -1, &insert, nullptr);
    std::int64_t inode = 40000;
    for (const BackupFile& file : files_) {
      const std::string fileID = backup::MbdbFileId(file.domain, file.relativePath);
      ManifestFileInfo info;
      info.relativePath = file.relativePath;
      info.size = file.isFolder ? 0 : static_cast<std::int64_t>(file.content.size());
      info.birth = file.birth;
      info.lastModified = file.lastModified;
      info.lastStatusChange = file.lastStatusChange;
      info.mode = file.mode;
      info.inode = ++inode;
      std::vector<std::uint8_t> stored = file.content;
      if (encryptor != nullptr && !file.isFolder) {
        std::vector<std::uint8_t> fileKey;
        info.encryptionKey = encryptor->NewStoredKey(static_cast<std::uint32_t>(info.protectionClass), fileKey);
        if (file.relativePath == encryption->damagedKeyPath) info.encryptionKey[20] ^= 0x5a;
        stored = SampleEncryptor::Encrypt(file.content, fileKey);
      }
      if (file.isFolder) info.protectionClass = 0;
      const std::vector<std::uint8_t> blob = MakeManifestFileBlob(info);
      sqlite3_bind_text(insert, 1, fileID.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, file.domain.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, file.relativePath.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 4, file.isFolder ? 2 : 1);
      sqlite3_bind_blob(insert, 5, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) {
        sqlite3_finalize(insert);
        throw std::runtime_error(std::string("sample backup: ") + sqlite3_errmsg(db));
      }
      sqlite3_reset(insert);
      if (!file.isFolder) WriteBytes(folder / fileID.substr(0, 2) / fileID, stored);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE);");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
  fs::remove(fs::path(manifest.string() + "-wal"));
  fs::remove(fs::path(manifest.string() + "-shm"));
}

void SampleBackupBuilder::WriteManifestMbdb(const fs::path& folder, const SampleEncryptor* encryptor,
                                            const BackupEncryption* encryption) const {
  MbdbWriter out;
  std::uint32_t inode = 40000;
  for (const BackupFile& file : files_) {
    std::vector<std::uint8_t> stored = file.content;
    std::optional<std::string> storedKey;
    if (encryptor != nullptr && !file.isFolder) {
      std::vector<std::uint8_t> fileKey;
      std::vector<std::uint8_t> key = encryptor->NewStoredKey(kMbdbFileClass, fileKey);
      if (file.relativePath == encryption->damagedKeyPath) key[20] ^= 0x5a;
      storedKey.emplace(key.begin(), key.end());
      stored = SampleEncryptor::Encrypt(file.content, fileKey);
    }
    out.PutString(file.domain);
    out.PutString(file.relativePath);
    out.PutString(std::nullopt);  // link target
    out.PutString(file.isFolder ? std::nullopt : std::optional<std::string>(std::string(20, '\x5a')));
    out.PutString(storedKey);
    out.Put(file.mode, 2);
    out.Put(0, 4);
    out.Put(++inode, 4);
    out.Put(501, 4);
    out.Put(501, 4);
    out.Put(static_cast<std::uint32_t>(file.lastModified), 4);
    out.Put(static_cast<std::uint32_t>(file.lastModified), 4);
    out.Put(static_cast<std::uint32_t>(file.birth), 4);
    out.Put(file.isFolder ? 0 : file.content.size(), 8);
    out.Put(kMbdbFileClass, 1);  // protection class
    out.Put(0, 1);  // no properties
    if (!file.isFolder) WriteBytes(folder / backup::MbdbFileId(file.domain, file.relativePath), stored);
  }
  WriteBytes(folder / "Manifest.mbdb", out.Bytes());
}

void SampleBackupBuilder::WriteManifestPlist(const fs::path& folder, const std::vector<std::uint8_t>& keybag,
                                             const std::vector<std::uint8_t>& manifestKey) const {
  PlistNode lockdown = PlistNode::Dictionary({});
  lockdown.Add("BuildVersion", PlistNode::Text(device_.buildVersion))
      .Add("DeviceName", PlistNode::Text(device_.deviceName))
      .Add("ProductType", PlistNode::Text(device_.productType))
      .Add("ProductVersion", PlistNode::Text(device_.productVersion))
      .Add("SerialNumber", PlistNode::Text("F17ZK0SAMPLE"))
      .Add("UniqueDeviceID", PlistNode::Text(kSampleUdid));
  PlistNode manifest = PlistNode::Dictionary({});
  if (!keybag.empty()) manifest.Add("BackupKeyBag", PlistNode::Data(keybag));
  manifest.Add("Date", PlistNode::Date(device_.lastBackupDate))
      .Add("IsEncrypted", PlistNode::Boolean(!keybag.empty()))
      .Add("Lockdown", std::move(lockdown));
  if (!manifestKey.empty()) manifest.Add("ManifestKey", PlistNode::Data(manifestKey));
  manifest.Add("SystemDomainsVersion", PlistNode::Text("24.0"))
      .Add("Version", PlistNode::Text(keybag.empty() || !manifestKey.empty() ? "10.0" : "9.1"))
      .Add("WasPasscodeSet", PlistNode::Boolean(false));
  WriteBytes(folder / "Manifest.plist", WriteBinaryPlist(manifest));
}

void SampleBackupBuilder::WriteInfoPlist(const fs::path& folder) const {
  const std::string udid = kSampleUdid;
  PlistNode info = PlistNode::Dictionary({});
  info.Add("Build Version", PlistNode::Text(device_.buildVersion))
      .Add("Device Name", PlistNode::Text(device_.deviceName))
      .Add("Display Name", PlistNode::Text(device_.deviceName))
      .Add("GUID", PlistNode::Text("5D2A0C2E4B7F4F0C8E8F0A1B2C3D4E5F"))
      .Add("Last Backup Date", PlistNode::Date(device_.lastBackupDate))
      .Add("Product Type", PlistNode::Text(device_.productType))
      .Add("Product Version", PlistNode::Text(device_.productVersion))
      .Add("Serial Number", PlistNode::Text("F17ZK0SAMPLE"))
      .Add("Target Identifier", PlistNode::Text(udid))
      .Add("Target Type", PlistNode::Text("Device"))
      .Add("Unique Identifier", PlistNode::Text(udid))
      .Add("iTunes Version", PlistNode::Text("12.12.2"));
  if (device_.binaryInfoPlist) {
    WriteBytes(folder / "Info.plist", WriteBinaryPlist(info));
  } else {
    WriteBytes(folder / "Info.plist", Bytes(WriteXmlPlist(info)));
  }
}

SampleBackupBuilder DemoBackup() {
  SampleBackupBuilder builder;
  builder.AddFolder("HomeDomain", "Library");
  builder.AddFolder("HomeDomain", "Library/SMS");
  // Messages: the handle table as iOS 14 has it. One handle was deleted (its
  // bytes stay in a free block); the newest handle is only in sms.db-wal.
  const SqliteFile sms(
      "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT,"
      " service TEXT NOT NULL, uncanonicalized_id TEXT, person_centric_id TEXT, UNIQUE (id, service) );"
      "INSERT INTO handle (id, country, service) VALUES ('+8613800138000', 'cn', 'SMS');"
      "INSERT INTO handle (id, country, service) VALUES ('+8613912345678', 'cn', 'iMessage');"
      "INSERT INTO handle (id, country, service) VALUES ('lin.mei@example.com', 'cn', 'iMessage');"
      "DELETE FROM handle WHERE id = '+8613912345678';",
      "INSERT INTO handle (id, country, service) VALUES ('+8618600001111', 'cn', 'SMS');",
      SqliteFile::Journal::kWalPending);
  builder.AddDatabase("HomeDomain", "Library/SMS/sms.db", sms);
  builder.AddFolder("HomeDomain", "Library/Preferences");
  PlistNode preferences = PlistNode::Dictionary({});
  preferences.Add("AppleLanguages", PlistNode::Array({PlistNode::Text("zh-Hans-CN"), PlistNode::Text("en-CN")}))
      .Add("AppleLocale", PlistNode::Text("zh_CN"));
  builder.AddText("HomeDomain", "Library/Preferences/.GlobalPreferences.plist", WriteXmlPlist(preferences));
  builder.AddFile("HomeDomain", "Library/Preferences/com.apple.springboard.plist",
                  WriteBinaryPlist(PlistNode::Dictionary({{"SBShowBatteryPercentage", PlistNode::Boolean(true)}})));
  return builder;
}

namespace {

// Files the apps keep beside their databases: message attachments (a photo,
// a video, a document and a voice message in a format no type list knows)
// and WhatsApp's media, on three days.
void AddAppAttachmentFiles(SampleBackupBuilder& builder) {
  struct File {
    const char* domain;
    const char* relativePath;
    std::int64_t birth;  // Unix seconds
  };
  constexpr char kWhatsApp[] = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared";
  std::vector<File> files;
  // The message attachments sms.db names, and one it no longer names.
  const std::vector<SmsAttachmentFile> smsFiles = SampleSmsAttachmentFiles();
  for (const SmsAttachmentFile& file : smsFiles) files.push_back({"MediaDomain", file.relativePath.c_str(), file.birth});
  const File appFiles[] = {
      {kWhatsApp, "Message/Media/8613800138000@s.whatsapp.net/4/a/4a1f0c2e.jpg", 1638322200},
      {kWhatsApp, "Message/Media/8613800138000@s.whatsapp.net/7/c/7c02b9d1.opus", 1638322260},
      {kWhatsApp, "Message/Media/14155550123@s.whatsapp.net/0/e/0e9d3a77.mp4", 1638324000},
  };
  files.insert(files.end(), std::begin(appFiles), std::end(appFiles));
  int variant = 20;
  for (const File& file : files) {
    BackupFile entry;
    entry.domain = file.domain;
    entry.relativePath = file.relativePath;
    entry.content = SampleMediaFile(file.relativePath, variant++);
    entry.birth = file.birth;
    entry.lastModified = file.birth;
    entry.lastStatusChange = file.birth;
    builder.AddFile(std::move(entry));
  }
}

}  // namespace

SampleBackupBuilder AppsDemoBackup() {
  SampleBackupBuilder builder;
  // The apps' databases replace the demo's small sms.db.
  const SampleBackupBuilder base = DemoBackup();
  for (const BackupFile& file : base.Files()) {
    if (file.relativePath.rfind("Library/SMS/sms.db", 0) != 0) builder.AddFile(file);
  }
  builder.AddFolder("HomeDomain", "Library/AddressBook");
  builder.AddDatabase("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", ContactsDatabase());
  builder.AddDatabase("HomeDomain", "Library/SMS/sms.db", *MakeSampleSmsDbIos17(SqliteFile::Journal::kWalPending));
  builder.AddFolder("HomeDomain", "Library/CallHistoryDB");
  builder.AddDatabase(kCallHistoryDomain, kCallHistoryRelativePath,
                      SqliteFile(CallHistorySql(CallStoreShape::k21Columns, SampleCallLog())));
  builder.AddDatabase(kCallHistoryDomain, kCallHistoryTempRelativePath,
                      SqliteFile(CallHistorySql(CallStoreShape::k21Columns, SampleNewestCalls())));
  builder.AddDatabase("AppDomain-com.apple.mobilesafari", "Library/Safari/History.db",
                      SqliteFile(SafariHistorySql(SampleHistoryPages(), SampleHistoryVisits())));
  builder.AddDatabase("AppDomain-com.apple.mobilesafari", kSafariProfileHistoryRelativePath,
                      SqliteFile(SafariHistorySql(SampleProfileHistoryPages(), SampleProfileHistoryVisits())));
  builder.AddDatabase("HomeDomain", "Library/Safari/Bookmarks.db", SqliteFile(SafariBookmarksSql(SampleBookmarks())));
  AddNotesApps(builder);
  AddCalendarApp(builder);
  AddRemindersApp(builder);
  AddVoiceMemosApp(builder);
  AddWhatsAppApp(builder);
  AddWeChatApp(builder);
  // A second account as current builds keep it (chats in message_<n>.sqlite).
  AddWeChatSplitAccount(builder);
  AddQqApp(builder);
  // A current QQ build whose chats are encrypted.
  AddQqNtAccountFiles(builder, kQqNtSampleHash);
  AddCameraRollIos17(builder);
  AddAppAttachmentFiles(builder);
  return builder;
}

void WriteDemoBackups(const fs::path& root) {
  const SampleBackupBuilder builder = AppsDemoBackup();
  builder.Write(root / "manifest-db", BackupMode::kManifestDb);
  builder.Write(root / "manifest-mbdb", BackupMode::kManifestMbdb);
  builder.Write(root / "folder", BackupMode::kFolder);
  BackupEncryption encryption;
  encryption.password = kDemoBackupPassword;
  builder.Write(root / "encrypted", BackupMode::kManifestDb, &encryption);
}

}  // namespace sample
