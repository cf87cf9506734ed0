#pragma once
// Archived attributed strings for the sample-backup builder and the tests:
// the bytes the phone's Messages app keeps in sms.db's message.attributedBody,
// an NSAttributedString written by NSArchiver ("streamtyped"), so that the
// readers meet real-shaped bodies. The layout is in
// docs/formats/typedstream.md. The product itself never writes archives.
//
// Thread-safety: stateless; any thread may call it.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// The archive of utf8 as one attributed string with one run carrying the
// message-part attribute (__kIMMessagePartAttributeName = 0), as Messages
// writes a plain text body: header, the attributed string's classes, the
// string object (type "+", its UTF-8 length, the bytes), then the run (its
// length in UTF-16 units) and the attribute dictionary. mutableForm writes an
// NSMutableAttributedString holding an NSMutableString instead. Integers take
// the shortest form: one byte up to 127, 0x81 and two bytes up to 32767, 0x82
// and four bytes beyond.
std::vector<std::uint8_t> ArchivedAttributedString(const std::string& utf8, bool mutableForm = false);

}  // namespace sample
