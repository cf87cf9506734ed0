#include "chat/wechat_tagged.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include <boost/uuid/detail/md5.hpp>

#include "db/text.h"

namespace chat {
namespace {

// Longest base-128 length: five bytes give 35 bits, more than any blob.
constexpr std::size_t kMaxLengthBytes = 5;
// Profile pieces longer than this are taken for damage, not text.
constexpr int kMaxProfilePiece = 99;

bool IsFixedWidthTag(std::uint8_t tag) { return tag == 0x18 || tag == 0xE4 || tag == 0xE5; }

// The bytes [begin, begin + count) as text up to the first zero byte, or
// nothing when they do not lie inside data.
bool TextAt(std::span<const std::uint8_t> data, std::uint64_t begin, std::uint64_t count, std::string& out) {
  if (begin > data.size() || count > data.size() - begin) return false;
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(begin);
  const auto last = first + static_cast<std::ptrdiff_t>(count);
  const auto zero = std::find(first, last, std::uint8_t{0});
  out = db::RepairUtf8(std::string(first, zero));
  return true;
}

// The signed value of the byte at offset, as the profile's length bytes are
// read; false when offset lies outside data.
bool SignedByteAt(std::span<const std::uint8_t> data, std::uint64_t offset, int& value) {
  if (offset >= data.size()) return false;
  value = static_cast<std::int8_t>(data[offset]);
  return true;
}

}  // namespace

std::vector<TaggedField> DecodeTagged(std::span<const std::uint8_t> data) {
  std::vector<TaggedField> fields;
  const std::uint64_t length = data.size();
  std::uint64_t pos = 0;
  while (pos + 2 < length) {
    const std::uint8_t tag = data[pos];
    if (IsFixedWidthTag(tag)) {
      pos += 3;
      continue;
    }
    std::uint64_t value = 0;
    std::size_t lengthBytes = 0;
    bool more = true;
    while (more && lengthBytes < kMaxLengthBytes) {
      const std::uint64_t at = pos + 1 + lengthBytes;
      if (at >= length) return fields;  // the length itself is cut off
      const std::uint8_t byte = data[at];
      value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * lengthBytes);
      more = (byte & 0x80) != 0;
      ++lengthBytes;
    }
    const std::uint64_t begin = pos + 1 + lengthBytes;
    if (begin > length || value > length - begin) break;
    TaggedField field;
    field.tag = tag;
    TextAt(data, begin, value, field.text);
    fields.push_back(std::move(field));
    pos = begin + value;
  }
  return fields;
}

ProfileFields DecodeProfile(std::span<const std::uint8_t> profile) {
  ProfileFields fields;
  if (profile.size() <= 4) return fields;
  const int first = static_cast<std::int8_t>(profile[3]);
  if (first < 1 || first > kMaxProfilePiece) return fields;
  std::string piece;
  if (!TextAt(profile, 4, static_cast<std::uint64_t>(first), piece)) return fields;
  fields.address = piece;
  std::uint64_t q = 4 + static_cast<std::uint64_t>(first) + 1;
  int second = 0;
  if (!SignedByteAt(profile, q, second)) return fields;
  if (second > 0) {
    if (!TextAt(profile, q + 1, static_cast<std::uint64_t>(second), piece)) return fields;
    fields.address += "/" + piece;
    q += static_cast<std::uint64_t>(second);
  }
  int third = 0;
  if (!SignedByteAt(profile, q + 2, third)) return fields;
  q += 2;
  if (third >= 1 && third <= kMaxProfilePiece) {
    if (!TextAt(profile, q + 1, static_cast<std::uint64_t>(third), piece)) return fields;
    fields.address += " " + piece;
    q += static_cast<std::uint64_t>(third);
  }
  if (q + 3 <= profile.size()) TextAt(profile, q + 3, profile.size() - (q + 3), fields.signature);
  return fields;
}

std::string Md5Hex(std::string_view text) {
  boost::uuids::detail::md5 hash;
  hash.process_bytes(text.data(), text.size());
  boost::uuids::detail::md5::digest_type digest;
  hash.get_digest(digest);
  // Boost keeps the digest as four 32-bit words whose most significant byte
  // comes first in the RFC's byte order.
  std::string hex;
  hex.reserve(32);
  for (const unsigned int word : digest) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", word);
    hex += part;
  }
  return hex;
}

}  // namespace chat
