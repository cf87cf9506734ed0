#pragma once
// Digests the program forms from text: the SHA-1 that names a file stored in
// a backup, and the one-way hash behind the machine identifier.
//
// Threads: stateless; any thread may call these.

#include <string>
#include <string_view>

namespace platform {

// The SHA-1 digest (FIPS 180-1) of the text's bytes as 40 lower-case
// hexadecimal digits.
std::string Sha1Hex(std::string_view text);

}  // namespace platform
