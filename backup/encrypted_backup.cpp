#include "backup/encrypted_backup.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "backup/file_list_db.h"
#include "backup/keybag.h"
#include "backup/mbdb.h"
#include "backup/plist.h"
#include "db/cppsqlite3.h"
#include "platform/fs.h"
#include "platform/private_files.h"

namespace backup {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kAesBlock = 16;
// Files are decrypted in pieces of this size: a 4 GB video never sits in
// memory.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
// A stored key: the 4-byte protection class and a wrapped 32-byte key.
constexpr std::size_t kStoredKeySize = 4 + 40;
constexpr char kSqliteMagic[] = "SQLite format 3";

std::vector<std::uint8_t> DataValue(const PlistDictionary& top, const char* key) {
  const auto it = top.find(key);
  if (it == top.end() || !it->second.Is<PlistData>()) return {};
  return it->second.As<PlistData>();
}

// What a manifest record says about one stored file.
struct StoredFileEntry {
  bool listed = false;                              // the manifest has the file
  std::optional<std::vector<std::uint8_t>> key;     // its stored key
  std::optional<std::int64_t> size;                 // its plain size
};

StoredFileEntry EntryOfFileBlob(const std::vector<std::uint8_t>& blob) {
  StoredFileEntry entry;
  entry.listed = true;
  entry.key = StoredKeyOfFileBlob(blob);
  try {
    const PlistValue top = ReadPlistBuffer(blob.data(), blob.size());
    const PlistValue* objects = top.Find("$objects");
    if (objects == nullptr || !objects->Is<PlistArray>()) return entry;
    for (const PlistValue& object : objects->As<PlistArray>()) {
      if (!object.Is<PlistDictionary>()) continue;
      const PlistValue* size = object.Find("Size");
      if (size != nullptr && size->Is<std::int64_t>()) entry.size = size->As<std::int64_t>();
      break;
    }
  } catch (const Plist::Error&) {
    // No size: the padding decides where the file ends.
  }
  return entry;
}

}  // namespace

std::optional<ManifestEncryption> ReadManifestEncryption(const std::string& folder) {
  const auto path = platform::FindIgnoringCase(folder, "Manifest.plist");
  if (!path || !platform::IsRegularFile(*path)) return std::nullopt;
  try {
    const PlistValue top = ReadPlistFile(path->string());
    if (!top.Is<PlistDictionary>()) return std::nullopt;
    const auto& dictionary = top.As<PlistDictionary>();
    ManifestEncryption manifest;
    if (const PlistValue* encrypted = top.Find("IsEncrypted")) {
      if (encrypted->Is<bool>()) manifest.encrypted = encrypted->As<bool>();
      if (encrypted->Is<std::int64_t>()) manifest.encrypted = encrypted->As<std::int64_t>() != 0;
    }
    manifest.keybag = DataValue(dictionary, "BackupKeyBag");
    manifest.manifestKey = DataValue(dictionary, "ManifestKey");
    return manifest;
  } catch (const Plist::Error&) {
    return std::nullopt;
  }
}

bool IsEncryptedBackup(const std::string& folder) {
  const auto manifest = ReadManifestEncryption(folder);
  return manifest && manifest->encrypted;
}

std::optional<std::vector<std::uint8_t>> StoredKeyOfFileBlob(const std::vector<std::uint8_t>& blob) {
  if (blob.empty()) return std::nullopt;
  try {
    const PlistValue top = ReadPlistBuffer(blob.data(), blob.size());
    const PlistValue* objects = top.Find("$objects");
    if (objects == nullptr || !objects->Is<PlistArray>()) return std::nullopt;
    const PlistArray& list = objects->As<PlistArray>();
    // The file's own dictionary is the first one; its EncryptionKey refers
    // to an archived data object {NS.data, $class}. The reference itself is
    // not followed (the reader does not keep archive references), so the
    // key is the archived data of a stored key's size, of the file's class
    // when the file names one.
    const auto file = std::find_if(list.begin(), list.end(), [](const PlistValue& v) { return v.Is<PlistDictionary>(); });
    if (file == list.end() || file->Find("EncryptionKey") == nullptr) return std::nullopt;
    std::optional<std::int64_t> protectionClass;
    if (const PlistValue* value = file->Find("ProtectionClass"); value != nullptr && value->Is<std::int64_t>()) {
      protectionClass = value->As<std::int64_t>();
    }
    std::optional<std::vector<std::uint8_t>> anyClass;
    for (const PlistValue& object : list) {
      const PlistValue* data = object.Find("NS.data");
      if (data == nullptr || !data->Is<PlistData>() || data->As<PlistData>().size() != kStoredKeySize) continue;
      const PlistData& bytes = data->As<PlistData>();
      const std::int64_t keyClass = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::int64_t{bytes[3]} << 24);
      if (!protectionClass || keyClass == *protectionClass) return bytes;
      if (!anyClass) anyClass = bytes;
    }
    return anyClass;
  } catch (const Plist::Error&) {
    return std::nullopt;
  }
}

// ---- the run's decrypted views ----

struct DecryptedBackup::State {
  std::string folder;
  std::vector<std::uint8_t> keybagBytes;
  UnlockedKeybag keys;
  std::optional<platform::TempFolder> privateFolder;
  bool mbdb = false;

  std::mutex mutex;
  db::CppSQLite3DB manifest;  // the manifest's file records, for the stored keys
  std::optional<std::map<std::string, StoredFileEntry>> mbdbEntries;
  std::set<std::string> ready;
  std::map<std::string, std::string> failed;  // fileID -> why

  std::string SourceOf(const std::string& fileID) const {
    const fs::path base(folder);
    return (mbdb ? base / fileID : base / fileID.substr(0, 2) / fileID).string();
  }

  StoredFileEntry EntryOf(const std::string& fileID) {
    if (mbdb) {
      if (!mbdbEntries) {
        mbdbEntries.emplace();
        const auto path = platform::FindIgnoringCase(folder, "Manifest.mbdb");
        const auto index = path ? MbdbIndex::ParseFile(path->string()) : std::nullopt;
        if (index) {
          for (const MbdbRecord& record : index->Records()) {
            if (!record.domain || !record.path || !record.IsRegularFile()) continue;
            StoredFileEntry entry;
            entry.listed = true;
            if (record.encryptionKey) entry.key.emplace(record.encryptionKey->begin(), record.encryptionKey->end());
            entry.size = static_cast<std::int64_t>(record.size);
            (*mbdbEntries)[MbdbFileId(*record.domain, *record.path)] = std::move(entry);
          }
        }
      }
      const auto it = mbdbEntries->find(fileID);
      return it != mbdbEntries->end() ? it->second : StoredFileEntry{};
    }
    if (!manifest.IsOpen()) return {};
    std::vector<std::uint8_t> blob;
    try {
      db::CppSQLite3Query row = manifest.ExecQuery("SELECT file FROM Files WHERE fileID = ?;", {fileID});
      if (row.Eof()) return {};
      const auto bytes = row.GetFieldBlob(0);
      blob.assign(bytes.begin(), bytes.end());
    } catch (const db::CppSQLite3Exception&) {
      return {};
    }
    return EntryOfFileBlob(blob);
  }
};

namespace {

// Decrypts (or, without a key, copies) source into target, cut to size when
// known, else without its PKCS#7 padding. The target appears under its name
// only when whole.
bool DecryptFile(const std::string& source, const std::string& target, const SecretBytes* key,
                 std::optional<std::int64_t> size, std::string& why) {
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    why = "the backup lacks the stored file";
    return false;
  }
  const std::string partial = target + ".part";
  std::optional<CbcDecryptor> decryptor;
  if (key != nullptr) {
    decryptor.emplace(*key);
    if (!decryptor->Ready()) {
      why = "its key is not an AES-256 key";
      return false;
    }
  }
  bool ok = true;
  std::uint64_t total = 0;
  std::array<std::uint8_t, kAesBlock> lastBlock{};
  {
    platform::PrivateFileWriter out(partial);
    if (!out.Ok()) {
      why = "cannot write into the private folder";
      return false;
    }
    std::vector<std::uint8_t> cipher(kChunkSize);
    std::vector<std::uint8_t> plain(kChunkSize);
    while (ok) {
      in.read(reinterpret_cast<char*>(cipher.data()), static_cast<std::streamsize>(cipher.size()));
      const auto got = static_cast<std::size_t>(in.gcount());
      if (got == 0) break;
      if (decryptor) {
        if (got % kAesBlock != 0) {
          why = "it is not whole AES blocks (damaged or cut short)";
          ok = false;
          break;
        }
        ok = decryptor->Decrypt(cipher.data(), got, plain.data());
        if (ok) std::copy(plain.begin() + static_cast<std::ptrdiff_t>(got - kAesBlock),
                          plain.begin() + static_cast<std::ptrdiff_t>(got), lastBlock.begin());
      } else {
        std::copy(cipher.begin(), cipher.begin() + static_cast<std::ptrdiff_t>(got), plain.begin());
      }
      ok = ok && out.Write(plain.data(), got);
      total += got;
      if (got < cipher.size()) break;
    }
    if (ok && in.bad()) {
      why = "the stored file cannot be read";
      ok = false;
    }
    if (ok && decryptor) {
      std::uint64_t length = total;
      if (size && *size >= 0) {
        length = std::min<std::uint64_t>(total, static_cast<std::uint64_t>(*size));
      } else if (total >= kAesBlock) {
        length = total - kAesBlock + LengthWithoutPadding(lastBlock.data(), kAesBlock);
      }
      ok = out.Truncate(length);
    }
    if (!out.Close() && ok) {
      why = "cannot write into the private folder";
      ok = false;
    }
    std::fill(std::begin(plain), std::end(plain), 0);
  }
  std::error_code ec;
  if (ok) fs::rename(partial, target, ec);
  if (!ok || ec) {
    if (ok) why = "cannot write into the private folder";
    fs::remove(partial, ec);
    return false;
  }
  return true;
}

bool IsSqliteFile(const std::string& path) {
  const auto start = platform::ReadFileStart(path, sizeof kSqliteMagic);
  return start && start->size() == sizeof kSqliteMagic && std::memcmp(start->data(), kSqliteMagic, sizeof kSqliteMagic) == 0;
}

// The manifest's file records by fileID, for the stored keys. Opened
// immutable: a manifest left in the clear is the backup's own file.
bool OpenKeyLookup(DecryptedBackup::State& state, const std::string& manifestPath) {
  try {
    state.manifest.OpenFile(manifestPath, db::CppSQLite3DB::OpenMode::kImmutable);
    state.manifest.ExecQuery("SELECT file FROM Files LIMIT 0;");
    return true;
  } catch (const db::CppSQLite3Exception&) {
    return false;
  }
}

class Registry {
 public:
  std::mutex mutex;
  std::vector<std::shared_ptr<DecryptedBackup>> backups;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::string FolderKey(const std::string& folder) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(folder, ec);
  return (ec ? fs::path(folder) : absolute).lexically_normal().string();
}

std::shared_ptr<DecryptedBackup> BackupHolding(const std::string& path) {
  const std::string parent = fs::path(path).parent_path().string();
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const auto& backup : registry.backups) {
    if (backup->PrivateFolder() == parent) return backup;
  }
  return nullptr;
}

}  // namespace

DecryptedBackup::DecryptedBackup(std::unique_ptr<State> state) : state_(std::move(state)) {
  privateFolder_ = state_->privateFolder->Path().string();
}

DecryptedBackup::~DecryptedBackup() = default;

base::Status DecryptedBackup::Open(const std::string& folder, const ManifestEncryption& manifest,
                                   std::string password, const std::function<void(int)>& progress,
                                   std::shared_ptr<DecryptedBackup>& out) {
  SecretBytes secret = SecretBytes::FromText(password);
  const std::string key = FolderKey(folder);
  Registry& registry = TheRegistry();
  {
    std::lock_guard lock(registry.mutex);
    for (const auto& backup : registry.backups) {
      if (backup->state_->folder == key && backup->state_->keybagBytes == manifest.keybag) {
        out = backup;
        return {};
      }
    }
  }
  const std::string plistName = (fs::path(folder) / "Manifest.plist").string();
  if (secret.Empty()) return base::Status::NeedsPassword(folder, kBackupNeedsPassword);
  std::string why;
  const auto keybag = Keybag::Parse(manifest.keybag.data(), manifest.keybag.size(), why);
  if (!keybag) return base::Status::Corrupt(plistName, "damaged keybag (" + why + ")");

  auto state = std::make_unique<State>();
  state->folder = key;
  state->keybagBytes = manifest.keybag;
  switch (UnlockedKeybag::Unlock(*keybag, secret, state->keys, progress)) {
    case UnlockedKeybag::Result::kUnlocked: break;
    case UnlockedKeybag::Result::kWrongPassword: return base::Status::WrongPassword(folder, kBackupWrongPassword);
    case UnlockedKeybag::Result::kDamaged: return base::Status::Corrupt(plistName, "damaged keybag");
  }
  secret.Wipe();

  const auto manifestDb = platform::FindIgnoringCase(folder, "Manifest.db");
  state->mbdb = !manifestDb || !platform::IsRegularFile(*manifestDb);
  std::optional<SecretBytes> manifestKey;
  // Backups of iOS 10.0 and 10.1 kept Manifest.db in the clear (no
  // ManifestKey) and encrypted only the files.
  const bool clearManifest = !state->mbdb && manifest.manifestKey.empty() && IsSqliteFile(manifestDb->string());
  if (!state->mbdb && !clearManifest) {
    if (manifest.manifestKey.size() != kStoredKeySize) {
      return base::Status::Corrupt(plistName, "damaged manifest key (not a class and a wrapped key)");
    }
    manifestKey = state->keys.UnwrapStoredKey(manifest.manifestKey);
    if (!manifestKey) return base::Status::Corrupt(plistName, "damaged manifest key (it does not unwrap)");
  }
  try {
    state->privateFolder.emplace("velmora-decrypted");
  } catch (const fs::filesystem_error& error) {
    return base::Status::Unreadable(platform::TempRoot().string(), std::string("no private folder: ") + error.what());
  }
  platform::RemoveWhenProcessEnds(state->privateFolder->Path());
  auto backup = std::shared_ptr<DecryptedBackup>(new DecryptedBackup(std::move(state)));
  if (manifestKey) {
    const std::string decrypted = (fs::path(backup->privateFolder_) / "Manifest.db").string();
    if (!DecryptFile(manifestDb->string(), decrypted, &*manifestKey, std::nullopt, why)) {
      return base::Status::Corrupt(manifestDb->string(), "cannot be decrypted (" + why + ")");
    }
    if (!IsSqliteFile(decrypted)) {
      return base::Status::Corrupt(manifestDb->string(), "does not decrypt with its manifest key");
    }
    backup->manifestPath_ = decrypted;
  } else if (clearManifest) {
    backup->manifestPath_ = manifestDb->string();
  }
  if (!backup->manifestPath_.empty() && !OpenKeyLookup(*backup->state_, backup->manifestPath_)) {
    return base::Status::Corrupt(manifestDb->string(), "not a backup manifest once decrypted");
  }
  std::lock_guard lock(registry.mutex);
  registry.backups.push_back(backup);
  out = backup;
  return {};
}

std::string DecryptedBackup::PlainPathOf(const std::string& fileID) const {
  return (fs::path(privateFolder_) / fileID).string();
}

std::string DecryptedBackup::StoredPathOf(const std::string& plainPath) const {
  return state_->SourceOf(fs::path(plainPath).filename().string());
}

bool DecryptedBackup::Ready(const std::string& plainPath, std::string* why) {
  if (!manifestPath_.empty() && plainPath == manifestPath_) return true;
  const std::string fileID = fs::path(plainPath).filename().string();
  State& state = *state_;
  std::lock_guard lock(state.mutex);
  if (state.ready.count(fileID) != 0) return true;
  std::string failure;
  if (const auto failed = state.failed.find(fileID); failed != state.failed.end()) {
    failure = failed->second;
  } else if (!IsStoredFileName(fileID) || PlainPathOf(fileID) != plainPath) {
    failure = "not a stored file of this backup";
  } else {
    const StoredFileEntry entry = state.EntryOf(fileID);
    std::optional<SecretBytes> key;
    if (!entry.listed) {
      failure = "the manifest does not list it";
    } else if (entry.key && !(key = state.keys.UnwrapStoredKey(*entry.key))) {
      failure = "its key does not unwrap (damaged)";
    } else if (DecryptFile(state.SourceOf(fileID), plainPath, key ? &*key : nullptr, entry.size, failure)) {
      state.ready.insert(fileID);
      return true;
    }
    state.failed[fileID] = failure;
  }
  if (why != nullptr) *why = "cannot be decrypted: " + failure;
  return false;
}

std::optional<std::int64_t> DecryptedBackup::SizeOf(const std::string& plainPath) {
  const std::string fileID = fs::path(plainPath).filename().string();
  std::lock_guard lock(state_->mutex);
  if (!IsStoredFileName(fileID)) return std::nullopt;
  return state_->EntryOf(fileID).size;
}

bool ReadyStoredFile(const std::string& path, std::string* why) {
  if (const auto backup = BackupHolding(path)) return backup->Ready(path, why);
  if (platform::IsRegularFile(path)) return true;
  if (why != nullptr) *why = "no such file";
  return false;
}

std::optional<std::int64_t> StoredFileSize(const std::string& path) {
  if (const auto backup = BackupHolding(path)) {
    if (auto size = backup->SizeOf(path)) return size;
    if (!backup->Ready(path)) return std::nullopt;
  }
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return std::nullopt;
  return static_cast<std::int64_t>(size);
}

void ForgetDecryptedBackups() {
  std::vector<std::shared_ptr<DecryptedBackup>> gone;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  gone.swap(registry.backups);
}

}  // namespace backup
