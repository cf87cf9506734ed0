#pragma once
// The text of a message body kept as an archived attributed string. From iOS
// 16 on the messages database (sms.db) often leaves message.text NULL and
// keeps the body only in message.attributedBody: an NSAttributedString (or
// NSMutableAttributedString) written by NSArchiver in the "streamtyped"
// archive format. The bytes this decoder reads, and what it rejects, are laid
// out in docs/formats/typedstream.md.
//
// Thread-safety: stateless; any thread may call it.

#include <cstdint>
#include <span>
#include <string>

namespace db {

// The plain string of the archived attributed string in bytes, with invalid
// UTF-8 sequences replaced by U+FFFD. Empty when the bytes are no such
// archive: a header other than version 4 and "streamtyped", no NSString or
// NSMutableString class for the string, no "+" type before its bytes, or a
// length that is negative or runs past the end. Never reads outside bytes;
// the work is linear in their size, and the text taken is at most as long as
// they are (before repair, which may widen an invalid byte to three).
std::string AttributedBodyText(std::span<const std::uint8_t> bytes);

}  // namespace db
