// libFuzzer target for the property list reader (binary and XML forms).
// Plist::Error is the reader's one expected failure; any other exception, a
// crash, a sanitizer report, a hang or runaway memory is a finding.
#include <cstddef>
#include <cstdint>

#include "backup/plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    backup::ReadPlistBuffer(data, size);
  } catch (const backup::Plist::Error&) {
  }
  return 0;
}
