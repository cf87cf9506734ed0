#pragma once
// The cryptography of encrypted backups, done by OpenSSL's libcrypto: the
// password's key derivation (PBKDF2), AES key unwrapping (RFC 3394) and
// AES-256-CBC decryption. Nothing here is written by hand; these are thin,
// checked calls with the secrets held in wiped memory.
//
// Thread-safety: stateless; any thread may call it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace backup {

// Secret bytes (a password, a derived key, a class key): wiped with
// OPENSSL_cleanse when they go, never copied by accident.
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::size_t size) : bytes_(size) {}
  SecretBytes(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes, bytes + size) {}
  ~SecretBytes() { Wipe(); }
  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  // Takes text's bytes and wipes text.
  static SecretBytes FromText(std::string& text);

  std::uint8_t* Data() { return bytes_.data(); }
  const std::uint8_t* Data() const { return bytes_.data(); }
  std::size_t Size() const { return bytes_.size(); }
  bool Empty() const { return bytes_.empty(); }
  void Wipe();

 private:
  std::vector<std::uint8_t> bytes_;
};

// Wipes text's bytes in place (as OPENSSL_cleanse does) and empties it.
void WipeText(std::string& text);

// PBKDF2 with HMAC-SHA256 / HMAC-SHA1: outSize bytes from secret, salt and
// rounds. Nothing when libcrypto refuses (zero rounds, say).
std::optional<SecretBytes> Pbkdf2Sha256(const SecretBytes& secret, const std::vector<std::uint8_t>& salt,
                                        std::uint32_t rounds, std::size_t outSize);
std::optional<SecretBytes> Pbkdf2Sha1(const SecretBytes& secret, const std::vector<std::uint8_t>& salt,
                                      std::uint32_t rounds, std::size_t outSize);

// RFC 3394 AES key unwrap of wrapped under a 32-byte key encryption key.
// Nothing when the wrapped bytes do not check out: a wrong key encryption
// key or damaged bytes (the two cannot be told apart here).
std::optional<SecretBytes> AesUnwrapKey(const SecretBytes& kek, const std::uint8_t* wrapped, std::size_t size);

// AES-256-CBC decryption with a zero IV, fed in pieces of whole blocks, as
// the backup stores its manifest and files. Padding is left in: the caller
// cuts the plain text to its known size or removes PKCS#7 padding itself.
class CbcDecryptor {
 public:
  // key must be 32 bytes.
  explicit CbcDecryptor(const SecretBytes& key);
  ~CbcDecryptor();
  CbcDecryptor(const CbcDecryptor&) = delete;
  CbcDecryptor& operator=(const CbcDecryptor&) = delete;

  // Whether libcrypto accepted the key.
  bool Ready() const { return context_ != nullptr; }
  // Decrypts size bytes (a multiple of 16) into out (size bytes). Returns
  // false when it cannot.
  bool Decrypt(const std::uint8_t* in, std::size_t size, std::uint8_t* out);

 private:
  void* context_ = nullptr;  // EVP_CIPHER_CTX
};

// The length of text without a valid PKCS#7 padding at its end, or the
// whole length when the end is no such padding.
std::size_t LengthWithoutPadding(const std::uint8_t* text, std::size_t size);

}  // namespace backup
