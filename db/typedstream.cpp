// Reads the string of an archived attributed string; the bytes are laid out
// in docs/formats/typedstream.md.
#include "db/typedstream.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "db/text.h"

namespace db {
namespace {

// Tag bytes. As a signed char each lies below -110, the smallest integer a
// single byte holds, so a tag is never mistaken for a one-byte integer.
constexpr std::uint8_t kTagInt16 = 0x81;
constexpr std::uint8_t kTagInt32 = 0x82;
constexpr std::uint8_t kTagNew = 0x84;
constexpr std::uint8_t kTagNil = 0x85;
constexpr std::int64_t kSmallestByteInteger = -110;

constexpr std::uint8_t kStreamerVersion = 4;
constexpr std::string_view kSignature = "streamtyped";

constexpr std::string_view kObjectType = "@";
// An NSString writes its UTF-8 bytes under this type: a length, then the bytes.
constexpr std::string_view kByteStringType = "+";

constexpr std::array<std::string_view, 2> kAttributedStringClasses = {"NSAttributedString",
                                                                      "NSMutableAttributedString"};
constexpr std::array<std::string_view, 2> kStringClasses = {"NSString", "NSMutableString"};

// A body's class chains are two or three classes deep (NSMutableString,
// NSString, then a reference to NSObject); a longer chain is damage.
constexpr int kMaxClassDepth = 16;
// Shared strings kept for back-references. The walk reads the outer object's
// classes and the string in it, fewer than ten strings; a reference to one
// not kept fails like a reference to one never written.
constexpr std::size_t kMaxSharedStrings = 32;

bool IsOneOf(std::string_view name, std::span<const std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A position in the archive and the shared strings read so far. Every read
// checks what remains first and fails (an empty optional) rather than read
// past the end.
class ArchiveReader {
 public:
  ArchiveReader(std::span<const std::uint8_t> bytes, std::size_t offset) : bytes_(bytes), offset_(offset) {}

  std::size_t Offset() const { return offset_; }
  std::size_t Remaining() const { return bytes_.size() - offset_; }

  std::optional<std::uint8_t> Peek() const {
    if (Remaining() == 0) return std::nullopt;
    return bytes_[offset_];
  }

  std::optional<std::uint8_t> Byte() {
    const std::optional<std::uint8_t> byte = Peek();
    if (byte) ++offset_;
    return byte;
  }

  // One byte for -110..127, 0x81 and a little-endian int16, 0x82 and a
  // little-endian int32. Any other tag (0x83 introduces a real) fails.
  std::optional<std::int64_t> Integer() {
    const std::optional<std::uint8_t> tag = Byte();
    if (!tag) return std::nullopt;
    if (*tag == kTagInt16) {
      const std::optional<std::uint32_t> value = LittleEndian(2);
      if (!value) return std::nullopt;
      return static_cast<std::int16_t>(*value);
    }
    if (*tag == kTagInt32) {
      const std::optional<std::uint32_t> value = LittleEndian(4);
      if (!value) return std::nullopt;
      return static_cast<std::int32_t>(*value);
    }
    const std::int64_t value = static_cast<std::int8_t>(*tag);
    if (value < kSmallestByteInteger) return std::nullopt;
    return value;
  }

  // A reference to an earlier shared item, an integer counted from -110 (0x92)
  // for the first; the item's index.
  std::optional<std::int64_t> Reference() {
    const std::optional<std::int64_t> value = Integer();
    if (!value || *value < kSmallestByteInteger) return std::nullopt;
    return *value - kSmallestByteInteger;
  }

  // The next count bytes as text; fails for a negative count or one that runs
  // past the end.
  std::optional<std::string_view> Text(std::int64_t count) {
    if (count < 0 || static_cast<std::uint64_t>(count) > Remaining()) return std::nullopt;
    const std::span<const std::uint8_t> text = bytes_.subspan(offset_, static_cast<std::size_t>(count));
    offset_ += text.size();
    return std::string_view(reinterpret_cast<const char*>(text.data()), text.size());
  }

  // A shared string: 0x84, a length and the bytes (kept for later
  // references), or a reference to one read earlier.
  std::optional<std::string_view> SharedString() {
    if (Peek() == kTagNew) {
      ++offset_;
      const std::optional<std::int64_t> length = Integer();
      const std::optional<std::string_view> text = length ? Text(*length) : std::nullopt;
      if (text && stringCount_ < strings_.size()) strings_[stringCount_++] = *text;
      return text;
    }
    const std::optional<std::int64_t> index = Reference();
    if (!index || static_cast<std::uint64_t>(*index) >= stringCount_) return std::nullopt;
    return strings_[static_cast<std::size_t>(*index)];
  }

 private:
  std::optional<std::uint32_t> LittleEndian(std::size_t widthBytes) {
    if (Remaining() < widthBytes) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < widthBytes; ++i) value |= std::uint32_t{bytes_[offset_ + i]} << (8 * i);
    offset_ += widthBytes;
    return value;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t offset_;
  std::array<std::string_view, kMaxSharedStrings> strings_{};
  std::size_t stringCount_ = 0;
};

// Version 4, the signature "streamtyped" (the little-endian form) with its
// length, and the system version, which is taken whatever it is (1000 in
// every body seen).
bool ReadHeader(ArchiveReader& reader) {
  if (reader.Byte() != kStreamerVersion) return false;
  const std::optional<std::int64_t> signatureLength = reader.Integer();
  const std::optional<std::string_view> signature = signatureLength ? reader.Text(*signatureLength) : std::nullopt;
  return signature == kSignature && reader.Integer().has_value();
}

// The classes of an object, from the reader's position: new classes (0x84, a
// shared name, a version) down the superclass chain until none (0x85) or one
// read earlier (a reference). Whether one of the new classes is in names;
// empty when the chain is damaged or deeper than kMaxClassDepth.
std::optional<bool> ReadClassChain(ArchiveReader& reader, std::span<const std::string_view> names) {
  bool named = false;
  for (int depth = 0; depth < kMaxClassDepth; ++depth) {
    const std::optional<std::uint8_t> tag = reader.Peek();
    if (!tag) return std::nullopt;
    if (*tag == kTagNil) {
      reader.Byte();
      return named;
    }
    if (*tag != kTagNew) return reader.Reference() ? std::optional<bool>(named) : std::nullopt;
    reader.Byte();
    const std::optional<std::string_view> name = reader.SharedString();
    if (!name || !reader.Integer()) return std::nullopt;
    named = named || IsOneOf(*name, names);
  }
  return std::nullopt;
}

// An object's start: the type "@", 0x84 for a new object, and its classes.
// Whether one of them is in names; empty when damaged.
std::optional<bool> ReadObjectStart(ArchiveReader& reader, std::span<const std::string_view> names) {
  if (reader.SharedString() != kObjectType || reader.Byte() != kTagNew) return std::nullopt;
  return ReadClassChain(reader, names);
}

// What an NSString writes after its classes: the type "+", a length and the
// UTF-8 bytes.
std::string ReadStringContent(ArchiveReader& reader) {
  if (reader.SharedString() != kByteStringType) return {};
  const std::optional<std::int64_t> length = reader.Integer();
  const std::optional<std::string_view> text = length ? reader.Text(*length) : std::nullopt;
  return text ? RepairUtf8(*text) : std::string();
}

// Whether a new class named NSString or NSMutableString starts at offset:
// 0x84 (new class), 0x84 (new shared string), a one-byte length, the name.
bool StringClassStartsAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  for (std::string_view name : kStringClasses) {
    if (bytes.size() - offset < 3 + name.size()) continue;
    if (bytes[offset] != kTagNew || bytes[offset + 1] != kTagNew || bytes[offset + 2] != name.size()) continue;
    const std::span<const std::uint8_t> found = bytes.subspan(offset + 3, name.size());
    if (std::string_view(reinterpret_cast<const char*>(found.data()), found.size()) == name) return true;
  }
  return false;
}

// For an archive whose outer object is not an attributed string (an
// archived plain string, or a class this system has not met): the first
// string class written out after the header, read from there. The shared
// strings before it are skipped unread, so only a "+" written out after the
// class is taken, not a back-reference to one. One candidate is tried, so the
// search is a single pass over the bytes.
std::string SearchStringClass(std::span<const std::uint8_t> bytes, std::size_t from) {
  for (std::size_t offset = from; offset < bytes.size(); ++offset) {
    if (!StringClassStartsAt(bytes, offset)) continue;
    ArchiveReader reader(bytes, offset);
    return ReadClassChain(reader, kStringClasses) == true ? ReadStringContent(reader) : std::string();
  }
  return {};
}

}  // namespace

std::string AttributedBodyText(std::span<const std::uint8_t> bytes) {
  ArchiveReader reader(bytes, 0);
  if (!ReadHeader(reader)) return {};
  const std::size_t afterHeader = reader.Offset();
  const std::optional<bool> attributed = ReadObjectStart(reader, kAttributedStringClasses);
  if (!attributed) return {};
  if (!*attributed) return SearchStringClass(bytes, afterHeader);
  // An attributed string writes its string first, as an object of its own.
  if (ReadObjectStart(reader, kStringClasses) != true) return {};
  return ReadStringContent(reader);
}

}  // namespace db
