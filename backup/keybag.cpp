#include "backup/keybag.h"

#include <algorithm>
#include <chrono>
#include <future>

namespace backup {
namespace {

constexpr std::size_t kTagSize = 4;
constexpr std::size_t kRecordHeader = 8;  // tag, 32-bit big-endian length
constexpr std::size_t kDerivedKeySize = 32;
// A phone asks for 10,000,000 SHA-256 rounds and 10,000 SHA-1 rounds (a few
// seconds); far more only makes a damaged or hostile keybag hold the run for
// hours.
constexpr std::uint32_t kMaxRounds = 100'000'000;
constexpr std::uint32_t kWrapPasswordKey = 2;
// A 32-byte class key wrapped by RFC 3394 carries 8 bytes of check value.
constexpr std::size_t kWrappedKeySize = 40;
// Rounds timed before a long derivation, to show its progress.
constexpr std::uint32_t kCalibrationRounds = 20'000;

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[3]) << 24) | (static_cast<std::uint32_t>(p[2]) << 16) |
         (static_cast<std::uint32_t>(p[1]) << 8) | p[0];
}

bool IsNumberTag(const std::string& tag) {
  static const char* const kNumbers[] = {"VERS", "TYPE", "WRAP", "ITER", "DPWT", "DPIC", "CLAS", "KTYP"};
  return std::any_of(std::begin(kNumbers), std::end(kNumbers), [&tag](const char* name) { return tag == name; });
}

// The PBKDF2-SHA256 step with its progress: the rounds are timed on a small
// run first, then the real run goes on a worker while this thread reports
// the share of the expected time that has passed.
std::optional<SecretBytes> Sha256StepWithProgress(const SecretBytes& password, const std::vector<std::uint8_t>& salt,
                                                  std::uint32_t rounds, const std::function<void(int)>& progress) {
  using Clock = std::chrono::steady_clock;
  const auto calibrationStart = Clock::now();
  Pbkdf2Sha256(password, salt, std::min(rounds, kCalibrationRounds), kDerivedKeySize);
  const double secondsPerRound = std::chrono::duration<double>(Clock::now() - calibrationStart).count() /
                                 std::min(rounds, kCalibrationRounds);
  const double expected = std::max(secondsPerRound * rounds, 1e-3);
  auto derivation = std::async(std::launch::async, [&] { return Pbkdf2Sha256(password, salt, rounds, kDerivedKeySize); });
  const auto start = Clock::now();
  progress(0);
  while (derivation.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    const double share = std::chrono::duration<double>(Clock::now() - start).count() / expected;
    progress(std::min(99, static_cast<int>(share * 100)));
  }
  progress(100);
  return derivation.get();
}

}  // namespace

std::optional<Keybag> Keybag::Parse(const std::uint8_t* bytes, std::size_t size, std::string& why) {
  Keybag keybag;
  int uuids = 0;
  KeybagClassKey* current = nullptr;
  std::size_t at = 0;
  while (at < size) {
    if (size - at < kRecordHeader) {
      why = "a record is cut off at byte " + std::to_string(at);
      return std::nullopt;
    }
    const std::string tag(reinterpret_cast<const char*>(bytes + at), kTagSize);
    const std::uint32_t length = BigEndian32(bytes + at + kTagSize);
    at += kRecordHeader;
    if (length > size - at) {
      why = "record " + tag + " runs past the end";
      return std::nullopt;
    }
    const std::uint8_t* value = bytes + at;
    at += length;
    if (IsNumberTag(tag) && length != 4) {
      why = "record " + tag + " is not a 4-byte number";
      return std::nullopt;
    }
    const std::uint32_t number = length == 4 ? BigEndian32(value) : 0;
    if (tag == "UUID") {
      // The first UUID names the keybag; each later one starts a class key.
      if (++uuids >= 2) current = &keybag.classKeys_.emplace_back();
      continue;
    }
    if (current == nullptr) {
      if (tag == "VERS") keybag.version_ = number;
      if (tag == "TYPE") keybag.type_ = number;
      if (tag == "SALT") keybag.salt_.assign(value, value + length);
      if (tag == "ITER") keybag.sha1Rounds_ = number;
      if (tag == "DPSL") keybag.sha256Salt_.assign(value, value + length);
      if (tag == "DPIC") keybag.sha256Rounds_ = number;
      continue;
    }
    if (tag == "CLAS") current->protectionClass = number;
    if (tag == "WRAP") current->wrap = number;
    if (tag == "KTYP") current->keyType = number;
    if (tag == "WPKY") current->wrappedKey.assign(value, value + length);
  }
  if (keybag.salt_.empty() || keybag.sha1Rounds_ == 0 || keybag.sha1Rounds_ > kMaxRounds) {
    why = "no usable SALT and ITER";
    return std::nullopt;
  }
  if (keybag.sha256Salt_.empty() != (keybag.sha256Rounds_ == 0) || keybag.sha256Rounds_ > kMaxRounds) {
    why = "no usable DPSL and DPIC";
    return std::nullopt;
  }
  int passwordKeys = 0;
  for (const KeybagClassKey& key : keybag.classKeys_) {
    if (key.wrap != kWrapPasswordKey) continue;
    if (key.wrappedKey.size() != kWrappedKeySize) {
      why = "class key " + std::to_string(key.protectionClass) + " is not a wrapped 32-byte key";
      return std::nullopt;
    }
    ++passwordKeys;
  }
  if (passwordKeys == 0) {
    why = "no class key wrapped with the password";
    return std::nullopt;
  }
  return keybag;
}

std::optional<SecretBytes> Keybag::DeriveKey(const SecretBytes& password, const std::function<void(int)>& progress) const {
  if (!HasSha256Step()) return Pbkdf2Sha1(password, salt_, sha1Rounds_, kDerivedKeySize);
  const auto first = progress ? Sha256StepWithProgress(password, sha256Salt_, sha256Rounds_, progress)
                              : Pbkdf2Sha256(password, sha256Salt_, sha256Rounds_, kDerivedKeySize);
  if (!first) return std::nullopt;
  return Pbkdf2Sha1(*first, salt_, sha1Rounds_, kDerivedKeySize);
}

UnlockedKeybag::Result UnlockedKeybag::Unlock(const Keybag& keybag, const SecretBytes& password, UnlockedKeybag& out,
                                              const std::function<void(int)>& progress) {
  const std::optional<SecretBytes> key = keybag.DeriveKey(password, progress);
  if (!key) return Result::kDamaged;
  out.classKeys_.clear();
  for (const KeybagClassKey& stored : keybag.ClassKeys()) {
    // Keys wrapped with the device's own key only never leave the phone.
    if (stored.wrap != kWrapPasswordKey) continue;
    auto classKey = AesUnwrapKey(*key, stored.wrappedKey.data(), stored.wrappedKey.size());
    if (!classKey) {
      out.classKeys_.clear();
      return Result::kWrongPassword;
    }
    out.classKeys_[stored.protectionClass] = std::move(*classKey);
  }
  return out.classKeys_.empty() ? Result::kDamaged : Result::kUnlocked;
}

const SecretBytes* UnlockedKeybag::ClassKey(std::uint32_t protectionClass) const {
  const auto it = classKeys_.find(protectionClass);
  return it != classKeys_.end() ? &it->second : nullptr;
}

std::optional<SecretBytes> UnlockedKeybag::UnwrapStoredKey(const std::vector<std::uint8_t>& stored) const {
  if (stored.size() < 4) return std::nullopt;
  const SecretBytes* classKey = ClassKey(LittleEndian32(stored.data()));
  if (classKey == nullptr) return std::nullopt;
  return AesUnwrapKey(*classKey, stored.data() + 4, stored.size() - 4);
}

}  // namespace backup
