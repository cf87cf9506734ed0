#pragma once
// Text conversions at the edges of the system. Inside, all text is UTF-8.

#include <string>
#include <string_view>

namespace platform {

// UTF-8 to GB18030, the encoding of the CSV tables: byte-identical to GBK for
// every GBK character and lossless for all others. Invalid UTF-8 sequences
// become '?'. Never throws on bad input.
std::string Utf8ToGb18030(std::string_view utf8);

// GB18030 (and so GBK and GB2312) to UTF-8; invalid sequences become U+FFFD.
std::string Gb18030ToUtf8(std::string_view gb);

}  // namespace platform
