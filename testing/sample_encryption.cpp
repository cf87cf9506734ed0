#include "testing/sample_encryption.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace sample {
namespace {

constexpr std::uint32_t kClassCount = 11;
constexpr std::uint32_t kWrapPasswordKey = 2;

std::vector<std::uint8_t> RandomBytes(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  if (RAND_bytes(bytes.data(), static_cast<int>(size)) != 1) throw std::runtime_error("sample: no random bytes");
  return bytes;
}

std::vector<std::uint8_t> Pbkdf2(const EVP_MD* digest, const std::vector<std::uint8_t>& secret,
                                 const std::vector<std::uint8_t>& salt, std::uint32_t rounds) {
  std::vector<std::uint8_t> out(32);
  if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(secret.data()), static_cast<int>(secret.size()), salt.data(),
                        static_cast<int>(salt.size()), static_cast<int>(rounds), digest, 32, out.data()) != 1) {
    throw std::runtime_error("sample: PBKDF2 failed");
  }
  return out;
}

std::vector<std::uint8_t> Wrap(const std::vector<std::uint8_t>& kek, const std::vector<std::uint8_t>& key) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX_set_flags(context, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  std::vector<std::uint8_t> out(key.size() + 8);
  int written = 0;
  int tail = 0;
  const bool ok = EVP_EncryptInit_ex(context, EVP_aes_256_wrap(), nullptr, kek.data(), nullptr) == 1 &&
                  EVP_EncryptUpdate(context, out.data(), &written, key.data(), static_cast<int>(key.size())) == 1 &&
                  EVP_EncryptFinal_ex(context, out.data() + written, &tail) == 1;
  EVP_CIPHER_CTX_free(context);
  if (!ok || written + tail != static_cast<int>(out.size())) throw std::runtime_error("sample: key wrap failed");
  return out;
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag, const std::vector<std::uint8_t>& value) {
  out.insert(out.end(), tag, tag + 4);
  const auto size = static_cast<std::uint32_t>(value.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(size >> shift));
  out.insert(out.end(), value.begin(), value.end());
}

void PutNumber(std::vector<std::uint8_t>& out, const char* tag, std::uint32_t number) {
  PutTag(out, tag, {static_cast<std::uint8_t>(number >> 24), static_cast<std::uint8_t>(number >> 16),
                    static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)});
}

}  // namespace

SampleEncryptor::SampleEncryptor(const BackupEncryption& settings)
    : settings_(settings), salt_(RandomBytes(20)), sha256Salt_(RandomBytes(20)) {
  const std::vector<std::uint8_t> password(settings.password.begin(), settings.password.end());
  const std::vector<std::uint8_t> first =
      settings.sha256Step ? Pbkdf2(EVP_sha256(), password, sha256Salt_, settings.sha256Rounds) : password;
  passwordKey_ = Pbkdf2(EVP_sha1(), first, salt_, settings.sha1Rounds);
  for (std::uint32_t i = 0; i < kClassCount; ++i) classKeys_.push_back(RandomBytes(32));
}

std::vector<std::uint8_t> SampleEncryptor::Keybag() const {
  std::vector<std::uint8_t> out;
  PutNumber(out, "VERS", 4);
  PutNumber(out, "TYPE", 1);  // a backup keybag
  PutTag(out, "UUID", RandomBytes(16));
  PutTag(out, "HMCK", RandomBytes(40));
  PutNumber(out, "WRAP", 0);
  PutTag(out, "SALT", salt_);
  PutNumber(out, "ITER", settings_.sha1Rounds);
  if (settings_.sha256Step) {
    PutNumber(out, "DPWT", 1);
    PutNumber(out, "DPIC", settings_.sha256Rounds);
    PutTag(out, "DPSL", sha256Salt_);
  }
  for (std::uint32_t protectionClass = 1; protectionClass <= kClassCount; ++protectionClass) {
    PutTag(out, "UUID", RandomBytes(16));
    PutNumber(out, "CLAS", protectionClass);
    PutNumber(out, "WRAP", kWrapPasswordKey);
    PutNumber(out, "KTYP", 0);
    PutTag(out, "WPKY", Wrap(passwordKey_, classKeys_[protectionClass - 1]));
  }
  if (settings_.editKeybag) settings_.editKeybag(out);
  return out;
}

std::vector<std::uint8_t> SampleEncryptor::NewStoredKey(std::uint32_t protectionClass,
                                                        std::vector<std::uint8_t>& plainKey) const {
  if (protectionClass < 1 || protectionClass > kClassCount) throw std::runtime_error("sample: no such class");
  plainKey = RandomBytes(32);
  std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(protectionClass), 0, 0, 0};
  const std::vector<std::uint8_t> wrapped = Wrap(classKeys_[protectionClass - 1], plainKey);
  out.insert(out.end(), wrapped.begin(), wrapped.end());
  return out;
}

std::vector<std::uint8_t> SampleEncryptor::Encrypt(const std::vector<std::uint8_t>& plain,
                                                   const std::vector<std::uint8_t>& key) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[16] = {};
  std::vector<std::uint8_t> out(plain.size() + 16);
  int written = 0;
  int tail = 0;
  const bool ok = EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr, key.data(), iv) == 1 &&
                  EVP_EncryptUpdate(context, out.data(), &written, plain.data(), static_cast<int>(plain.size())) == 1 &&
                  EVP_EncryptFinal_ex(context, out.data() + written, &tail) == 1;
  EVP_CIPHER_CTX_free(context);
  if (!ok) throw std::runtime_error("sample: encryption failed");
  out.resize(static_cast<std::size_t>(written + tail));
  return out;
}

}  // namespace sample
