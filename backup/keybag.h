#pragma once
// The backup keybag of an encrypted backup (Manifest.plist "BackupKeyBag")
// and its unlocking with the backup password. The format is laid out in
// docs/formats/encrypted_backup.md.
//
// Thread-safety: a Keybag is a plain value; Unlock may run on any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_crypto.h"

namespace backup {

// One class key as the keybag stores it, still wrapped.
struct KeybagClassKey {
  std::uint32_t protectionClass = 0;  // CLAS
  std::uint32_t wrap = 0;             // WRAP: 1 device key, 2 password key
  std::uint32_t keyType = 0;          // KTYP
  std::vector<std::uint8_t> wrappedKey;  // WPKY
};

class Keybag {
 public:
  // Reads the tagged records of a keybag. Nothing, with why set, when they
  // run past the end, a number is not 4 bytes, the salt or the round count
  // is missing or absurd, or no class key can be unwrapped with a password.
  static std::optional<Keybag> Parse(const std::uint8_t* bytes, std::size_t size, std::string& why);

  std::uint32_t Version() const { return version_; }
  std::uint32_t Type() const { return type_; }
  const std::vector<KeybagClassKey>& ClassKeys() const { return classKeys_; }
  // Whether the password first goes through PBKDF2-SHA256 (DPSL/DPIC; iOS
  // 10.2 and later), and that step's rounds (0 without it).
  bool HasSha256Step() const { return !sha256Salt_.empty(); }
  std::uint32_t Sha256Rounds() const { return sha256Rounds_; }
  std::uint32_t Sha1Rounds() const { return sha1Rounds_; }

  // The key the password derives: PBKDF2-HMAC-SHA256 with DPSL and DPIC,
  // then PBKDF2-HMAC-SHA1 with SALT and ITER, 32 bytes. progress, when
  // given, is called on the calling thread with 0-100 during the long step.
  std::optional<SecretBytes> DeriveKey(const SecretBytes& password, const std::function<void(int)>& progress = {}) const;

 private:
  std::uint32_t version_ = 0;
  std::uint32_t type_ = 0;
  std::vector<std::uint8_t> salt_;
  std::uint32_t sha1Rounds_ = 0;
  std::vector<std::uint8_t> sha256Salt_;
  std::uint32_t sha256Rounds_ = 0;
  std::vector<KeybagClassKey> classKeys_;
};

// The class keys of a keybag, unwrapped.
class UnlockedKeybag {
 public:
  enum class Result { kUnlocked, kWrongPassword, kDamaged };

  // Derives the password's key and unwraps every class key wrapped with it.
  // kWrongPassword as soon as the first of them fails to unwrap; kDamaged
  // when the derivation cannot run. progress, when given, is called on the
  // calling thread with 0-100 while the derivation runs.
  static Result Unlock(const Keybag& keybag, const SecretBytes& password, UnlockedKeybag& out,
                       const std::function<void(int)>& progress = {});

  // The class key of a protection class, or null.
  const SecretBytes* ClassKey(std::uint32_t protectionClass) const;
  // Unwraps a key stored as a 4-byte little-endian protection class and the
  // key wrapped with that class key (ManifestKey, a file's EncryptionKey).
  // Nothing when the class is unknown or the bytes do not unwrap.
  std::optional<SecretBytes> UnwrapStoredKey(const std::vector<std::uint8_t>& stored) const;

 private:
  std::map<std::uint32_t, SecretBytes> classKeys_;
};

}  // namespace backup
