// libFuzzer target for the backup keybag reader. A keybag comes from a
// backup's Manifest.plist and is untrusted: the reader reports damage by
// returning nothing, never by throwing, so any exception, crash, sanitizer
// report or hang is a finding. What it accepts must be usable as read: its
// class keys have the sizes the unwrapping relies on, and its round counts
// stay within what a run can afford.
#include <cstddef>
#include <cstdint>
#include <string>

#include "backup/keybag.h"

namespace {

constexpr std::uint32_t kMaxRounds = 100'000'000;
constexpr std::size_t kWrappedKeySize = 40;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string why;
  const auto keybag = backup::Keybag::Parse(data, size, why);
  if (!keybag) {
    if (why.empty()) __builtin_trap();
    return 0;
  }
  if (keybag->Sha1Rounds() == 0 || keybag->Sha1Rounds() > kMaxRounds || keybag->Sha256Rounds() > kMaxRounds) {
    __builtin_trap();
  }
  bool passwordKey = false;
  for (const backup::KeybagClassKey& key : keybag->ClassKeys()) {
    if (key.wrap != 2) continue;
    if (key.wrappedKey.size() != kWrappedKeySize) __builtin_trap();
    passwordKey = true;
  }
  if (!passwordKey) __builtin_trap();
  return 0;
}
