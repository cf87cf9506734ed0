#pragma once
// Encrypted backups: what Manifest.plist says about the encryption, and the
// decrypted view of such a backup for one run of the program.
//
// A backup is evidence: nothing is written into its folder. The decrypted
// manifest and each decrypted file live in a private folder (0700, files
// 0600) made for the run; it goes when the run ends, also when the run is
// stopped or fails. A stored file is decrypted when a reader first asks for
// it (ReadyStoredFile), streamed, and only once per run. The password is
// derived once per run: a backup unlocked before in this run opens again
// without it. The format is laid out in docs/formats/encrypted_backup.md.
//
// Threads: every function here may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_crypto.h"
#include "base/status.h"

namespace backup {

// The message for an encrypted backup opened without a password, and for
// one opened with another password than its own.
inline constexpr const char* kBackupNeedsPassword =
    "this backup is encrypted: give its password (--password-stdin, or the VELMORA_BACKUP_PASSWORD environment "
    "variable)";
inline constexpr const char* kBackupWrongPassword = "wrong password";

// What Manifest.plist says about a backup's encryption.
struct ManifestEncryption {
  bool encrypted = false;                // IsEncrypted
  std::vector<std::uint8_t> keybag;      // BackupKeyBag
  std::vector<std::uint8_t> manifestKey; // ManifestKey (iOS 10.2 and later)
};

// Reads Manifest.plist (name ignoring case) of a backup folder, XML or
// binary. Nothing when there is none or it cannot be read.
std::optional<ManifestEncryption> ReadManifestEncryption(const std::string& folder);
// Whether Manifest.plist says the backup is encrypted.
bool IsEncryptedBackup(const std::string& folder);

// The key a Manifest.db "file" blob holds for its stored file (MBFile
// "EncryptionKey": a 4-byte little-endian protection class, then the wrapped
// key), or nothing when it holds none or cannot be read.
std::optional<std::vector<std::uint8_t>> StoredKeyOfFileBlob(const std::vector<std::uint8_t>& blob);

class DecryptedBackup {
 public:
  ~DecryptedBackup();
  DecryptedBackup(const DecryptedBackup&) = delete;
  DecryptedBackup& operator=(const DecryptedBackup&) = delete;

  // The decrypted view of the encrypted backup at folder for this run: the
  // one made before in this run for the same folder and keybag, else a new
  // one with the keybag unlocked by password (wiped here either way). Fails
  // with NeedsPassword when password is empty and nothing was unlocked,
  // WrongPassword when it does not unlock the keybag, Corrupt when the
  // keybag, the manifest key or Manifest.db is damaged, Unreadable when the
  // private folder cannot be made. progress (0-100) reports the derivation.
  static base::Status Open(const std::string& folder, const ManifestEncryption& manifest, std::string password,
                           const std::function<void(int)>& progress, std::shared_ptr<DecryptedBackup>& out);

  // The decrypted Manifest.db, or empty for a Manifest.mbdb backup.
  const std::string& ManifestPath() const { return manifestPath_; }
  // Where the decrypted copy of the stored file fileID is (or will be).
  std::string PlainPathOf(const std::string& fileID) const;

  // Decrypts the stored file behind plainPath once; true when it is there
  // to read (the decrypted manifest always is). why tells what failed
  // otherwise.
  bool Ready(const std::string& plainPath, std::string* why = nullptr);
  // The plain size of the file behind plainPath as its manifest record
  // gives it, without decrypting it; nothing when unknown.
  std::optional<std::int64_t> SizeOf(const std::string& plainPath);
  // The encrypted file in the backup behind plainPath (for messages).
  std::string StoredPathOf(const std::string& plainPath) const;

  // The private folder.
  const std::string& PrivateFolder() const { return privateFolder_; }

  // What a view holds (keys, the manifest's records, the files done).
  struct State;

 private:
  explicit DecryptedBackup(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
  std::string privateFolder_;
  std::string manifestPath_;
};

// Whether the stored file at path can be read, decrypting it first when it
// is a file of an encrypted backup opened in this run; for any other path
// whether it is a regular file. why, when given, tells what failed.
bool ReadyStoredFile(const std::string& path, std::string* why = nullptr);
// The size of the stored file at path: for an encrypted backup's file the
// size its manifest gives (not decrypted for that), else the file's size.
// Nothing when it is unknown and the file cannot be read.
std::optional<std::int64_t> StoredFileSize(const std::string& path);

// Ends this run's decrypted views: their private folders are removed. What
// they handed out cannot be read afterwards. Also done at the end of the
// process.
void ForgetDecryptedBackups();

}  // namespace backup
