#include "backup/mbdb.h"

#include <algorithm>
#include <cstdio>

#include "platform/fs.h"

namespace backup {
namespace {

constexpr std::uint8_t kHeader[6] = {'m', 'b', 'd', 'b', 0x05, 0x00};
constexpr std::uint16_t kAbsentLength = 0xFFFF;

// A bounds-checked big-endian reader over the manifest bytes. Every read
// checks what remains first; a failed read sets ok to false and returns 0.
class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> data, std::size_t offset) : data_(data), offset_(offset) {}

  bool Ok() const { return ok_; }
  std::size_t Offset() const { return offset_; }

  std::uint64_t ReadBigEndian(std::size_t width) {
    if (!Has(width)) return 0;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | data_[offset_ + i];
    offset_ += width;
    return value;
  }

  std::optional<std::string> ReadString(bool absentAllowed) {
    const auto length = static_cast<std::uint16_t>(ReadBigEndian(2));
    if (!ok_) return std::nullopt;
    if (absentAllowed && length == kAbsentLength) return std::nullopt;
    if (!Has(length)) return std::nullopt;
    std::string text(reinterpret_cast<const char*>(data_.data() + offset_), length);
    offset_ += length;
    return text;
  }

 private:
  bool Has(std::size_t width) {
    if (ok_ && offset_ <= data_.size() && data_.size() - offset_ >= width) return true;
    ok_ = false;
    return false;
  }

  std::span<const std::uint8_t> data_;
  std::size_t offset_;
  bool ok_ = true;
};

}  // namespace

std::optional<MbdbRecord> ParseMbdbRecord(std::span<const std::uint8_t> data, std::size_t offset) {
  Cursor in(data, offset);
  MbdbRecord record;
  record.domain = in.ReadString(true);
  record.path = in.ReadString(true);
  record.linkTarget = in.ReadString(true);
  record.dataHash = in.ReadString(true);
  record.encryptionKey = in.ReadString(true);
  record.mode = static_cast<std::uint16_t>(in.ReadBigEndian(2));
  record.inodeHigh = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.inodeLow = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.userId = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.groupId = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.lastModified = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.lastAccessed = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.created = static_cast<std::uint32_t>(in.ReadBigEndian(4));
  record.size = in.ReadBigEndian(8);
  record.flag = static_cast<std::uint8_t>(in.ReadBigEndian(1));
  const auto propertyCount = static_cast<std::size_t>(in.ReadBigEndian(1));
  for (std::size_t i = 0; i < propertyCount && in.Ok(); ++i) {
    auto name = in.ReadString(false);
    auto value = in.ReadString(false);
    if (name && value) record.properties.emplace_back(std::move(*name), std::move(*value));
  }
  if (!in.Ok()) return std::nullopt;
  record.lengthBytes = in.Offset() - offset;
  return record;
}

std::optional<MbdbIndex> MbdbIndex::Parse(std::span<const std::uint8_t> data) {
  if (data.empty()) {
    std::fputs("Unable to parse mbdb file\n", stderr);
    return std::nullopt;
  }
  if (data.size() < sizeof kHeader || !std::equal(std::begin(kHeader), std::end(kHeader), data.begin())) {
    std::fputs("Unable to identify this filetype\n", stderr);
    return std::nullopt;
  }
  MbdbIndex index;
  std::size_t offset = sizeof kHeader;
  while (offset < data.size()) {
    auto record = ParseMbdbRecord(data, offset);
    if (!record) {
      std::fprintf(stderr, "Unable to parse record at offset 0x%zx!\n", offset);
      break;
    }
    offset += record->lengthBytes;
    index.records_.push_back(std::move(*record));
  }
  return index;
}

std::optional<MbdbIndex> MbdbIndex::ParseFile(const std::string& path) {
  auto bytes = platform::ReadWholeFile(path);
  if (!bytes) {
    std::fputs("Unable to parse mbdb file\n", stderr);
    return std::nullopt;
  }
  return Parse(*bytes);
}

}  // namespace backup
