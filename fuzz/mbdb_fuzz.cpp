// libFuzzer target for the Manifest.mbdb reader. The reader reports damage
// by returning nothing or fewer records, never by throwing, so any exception,
// crash, sanitizer report, hang or runaway memory is a finding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "backup/mbdb.h"

namespace {

constexpr std::size_t kHeaderBytes = 6;
// Five absent strings (2 bytes each) and the 40-byte fixed part.
constexpr std::size_t kSmallestRecordBytes = 50;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto index = backup::MbdbIndex::Parse(std::span<const std::uint8_t>(data, size));
  if (!index) return 0;
  // The records kept must account for bytes that were really there: a record
  // length that disagrees with the walk would make callers read past the file.
  std::size_t consumed = kHeaderBytes;
  for (const backup::MbdbRecord& record : index->Records()) {
    if (record.lengthBytes < kSmallestRecordBytes) __builtin_trap();
    consumed += record.lengthBytes;
  }
  if (consumed > size) __builtin_trap();
  return 0;
}
