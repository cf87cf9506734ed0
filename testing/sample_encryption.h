#pragma once
// Encrypted sample backups, written as iOS 10.2 and later write them: a
// backup keybag in Manifest.plist whose class keys are wrapped with the key
// the password derives, Manifest.db encrypted with ManifestKey, and each
// stored file with a key of its own kept (wrapped) in its manifest record.
// The layout is in docs/formats/encrypted_backup.md. Uses libcrypto; small
// round counts keep tests fast.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sample {

struct BackupEncryption {
  std::string password = "velmora-demo";
  std::uint32_t sha256Rounds = 1000;  // DPIC; a phone asks for 10,000,000
  std::uint32_t sha1Rounds = 10;      // ITER; a phone asks for 10,000
  // Manifest.db form only: false gives the older form without DPSL/DPIC.
  bool sha256Step = true;
  // Test knobs: change the keybag or the manifest key before they are
  // written, or damage the wrapped key of the file at this relative path.
  std::function<void(std::vector<std::uint8_t>&)> editKeybag;
  std::function<void(std::vector<std::uint8_t>&)> editManifestKey;
  std::string damagedKeyPath;
};

// The keys of one encrypted backup, made from fresh random bytes.
class SampleEncryptor {
 public:
  explicit SampleEncryptor(const BackupEncryption& settings);

  // The keybag with every class key wrapped with the password's key.
  std::vector<std::uint8_t> Keybag() const;
  // A 4-byte little-endian class and a new random key wrapped with that
  // class's key; plainKey receives the key.
  std::vector<std::uint8_t> NewStoredKey(std::uint32_t protectionClass, std::vector<std::uint8_t>& plainKey) const;
  // AES-256-CBC with a zero IV and PKCS#7 padding.
  static std::vector<std::uint8_t> Encrypt(const std::vector<std::uint8_t>& plain, const std::vector<std::uint8_t>& key);

 private:
  BackupEncryption settings_;
  std::vector<std::uint8_t> salt_;
  std::vector<std::uint8_t> sha256Salt_;
  std::vector<std::uint8_t> passwordKey_;
  std::vector<std::vector<std::uint8_t>> classKeys_;  // index: class - 1
};

}  // namespace sample
