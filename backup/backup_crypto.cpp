#include "backup/backup_crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>

namespace backup {
namespace {

constexpr std::size_t kAesBlock = 16;
constexpr std::size_t kAes256KeySize = 32;

std::optional<SecretBytes> Pbkdf2(const EVP_MD* digest, const SecretBytes& secret,
                                  const std::vector<std::uint8_t>& salt, std::uint32_t rounds,
                                  std::size_t outSize) {
  if (rounds == 0 || rounds > INT_MAX || secret.Size() > INT_MAX || salt.size() > INT_MAX || outSize > INT_MAX) {
    return std::nullopt;
  }
  SecretBytes out(outSize);
  const int done = PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(secret.Data()), static_cast<int>(secret.Size()),
                                     salt.data(), static_cast<int>(salt.size()), static_cast<int>(rounds), digest,
                                     static_cast<int>(outSize), out.Data());
  if (done != 1) return std::nullopt;
  return out;
}

}  // namespace

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Wipe();
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
  }
  return *this;
}

SecretBytes SecretBytes::FromText(std::string& text) {
  SecretBytes secret(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  WipeText(text);
  return secret;
}

void SecretBytes::Wipe() {
  if (!bytes_.empty()) OPENSSL_cleanse(bytes_.data(), bytes_.size());
  bytes_.clear();
}

void WipeText(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

std::optional<SecretBytes> Pbkdf2Sha256(const SecretBytes& secret, const std::vector<std::uint8_t>& salt,
                                        std::uint32_t rounds, std::size_t outSize) {
  return Pbkdf2(EVP_sha256(), secret, salt, rounds, outSize);
}

std::optional<SecretBytes> Pbkdf2Sha1(const SecretBytes& secret, const std::vector<std::uint8_t>& salt,
                                      std::uint32_t rounds, std::size_t outSize) {
  return Pbkdf2(EVP_sha1(), secret, salt, rounds, outSize);
}

std::optional<SecretBytes> AesUnwrapKey(const SecretBytes& kek, const std::uint8_t* wrapped, std::size_t size) {
  // RFC 3394 works on 64-bit half blocks: at least two of them plus the
  // integrity block.
  if (kek.Size() != kAes256KeySize || size < 24 || size % 8 != 0 || size > INT_MAX) return std::nullopt;
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  if (context == nullptr) return std::nullopt;
  SecretBytes out(size);
  int written = 0;
  int tail = 0;
  // Older libcrypto releases refuse the wrap modes unless asked for them.
  EVP_CIPHER_CTX_set_flags(context, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  const bool ok = EVP_DecryptInit_ex(context, EVP_aes_256_wrap(), nullptr, kek.Data(), nullptr) == 1 &&
                  EVP_DecryptUpdate(context, out.Data(), &written, wrapped, static_cast<int>(size)) == 1 &&
                  EVP_DecryptFinal_ex(context, out.Data() + written, &tail) == 1;
  EVP_CIPHER_CTX_free(context);
  if (!ok || written + tail != static_cast<int>(size - 8)) return std::nullopt;
  return SecretBytes(out.Data(), size - 8);
}

CbcDecryptor::CbcDecryptor(const SecretBytes& key) {
  if (key.Size() != kAes256KeySize) return;
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  if (context == nullptr) return;
  const std::uint8_t iv[kAesBlock] = {};
  if (EVP_DecryptInit_ex(context, EVP_aes_256_cbc(), nullptr, key.Data(), iv) != 1 ||
      EVP_CIPHER_CTX_set_padding(context, 0) != 1) {
    EVP_CIPHER_CTX_free(context);
    return;
  }
  context_ = context;
}

CbcDecryptor::~CbcDecryptor() {
  // Freeing the context wipes the key schedule it holds.
  EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(context_));
}

bool CbcDecryptor::Decrypt(const std::uint8_t* in, std::size_t size, std::uint8_t* out) {
  if (context_ == nullptr || size % kAesBlock != 0 || size > INT_MAX) return false;
  if (size == 0) return true;
  int written = 0;
  return EVP_DecryptUpdate(static_cast<EVP_CIPHER_CTX*>(context_), out, &written, in, static_cast<int>(size)) == 1 &&
         written == static_cast<int>(size);
}

std::size_t LengthWithoutPadding(const std::uint8_t* text, std::size_t size) {
  if (size == 0 || size % kAesBlock != 0) return size;
  const std::uint8_t pad = text[size - 1];
  if (pad == 0 || pad > kAesBlock) return size;
  for (std::size_t i = size - pad; i < size; ++i) {
    if (text[i] != pad) return size;
  }
  return size - pad;
}

}  // namespace backup
