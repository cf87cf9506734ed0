#pragma once
// Small decoders for the blobs of WeChat's contact table: the tagged fields
// (a simplified protocol-buffer reading) of dbContactRemark and
// dbContactChatRoom, the length-prefixed pieces of dbContactProfile, and the
// MD5 digest that names an account's folder and a contact's message tables.
//
// Tagged blob (dbContactRemark, dbContactChatRoom), field after field:
//   offset 0        tag byte; 0x18, 0xE4 and 0xE5 are followed by 2 value
//                   bytes and carry no text
//   offset 1        length, base 128, low group first, at most 5 bytes
//   after length    that many bytes of UTF-8 text
// Remark fields seen: 0x0A the name the app shows (a remark set by the user,
// else the nickname), 0x12 the WeChat ID, 0x1A the alias. The chat-room blob
// holds the member list as XML in field 0x32.
//
// Profile blob (dbContactProfile); L1..L3 read as signed bytes:
//   0..2            header
//   3               L1, province length (1-99, else nothing is decoded)
//   4               province, L1 bytes
//   4+L1            separator
//   5+L1 = q        L2, city length (0: no city; then q stays)
//   q+1             city, L2 bytes; q += L2
//   q+2             L3, district length (1-99); q += 2
//   q+1             district, L3 bytes; q += L3
//   q+3             signature, UTF-8 up to a zero byte or the end
// The address is "province/city district", pieces left out when absent.
//
// Every blob comes from a backup and is untrusted: nothing is read outside
// the bytes given, and a damaged blob yields fewer fields, never a failure.
//
// Threads: stateless; any thread may call these.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chat {

// One field of a tagged blob: its tag byte and its text (UTF-8, cut at the
// first zero byte, damaged sequences repaired).
struct TaggedField {
  std::uint8_t tag = 0;
  std::string text;
};

// The fields of a tagged blob in stored order. Tags 0x18, 0xE4 and 0xE5
// carry a 2-byte value, not a text, and are stepped over. Decoding stops at
// the first field whose length runs past the end of the data, or at a
// length whose base-128 form is itself cut off; the fields before it stay.
std::vector<TaggedField> DecodeTagged(std::span<const std::uint8_t> data);

// What the profile blob says: the region as "province/city district" and the
// personal signature, both UTF-8.
struct ProfileFields {
  std::string address;
  std::string signature;
};

// Decodes dbContactProfile. A blob of 4 bytes or fewer, or whose first
// length byte (offset 3) is not 1 to 99, gives nothing. A piece whose bytes
// run past the end ends decoding: the pieces before it stay, the signature
// is then empty.
ProfileFields DecodeProfile(std::span<const std::uint8_t> profile);

// The MD5 digest (RFC 1321) of the text's bytes as 32 lower-case
// hexadecimal digits.
std::string Md5Hex(std::string_view text);

}  // namespace chat
