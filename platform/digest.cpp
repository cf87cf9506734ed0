#include "platform/digest.h"

#include <cstdio>

#include <boost/uuid/detail/sha1.hpp>

namespace platform {

std::string Sha1Hex(std::string_view text) {
  boost::uuids::detail::sha1 sha;
  sha.process_bytes(text.data(), text.size());
  boost::uuids::detail::sha1::digest_type digest;
  sha.get_digest(digest);
  // Boost keeps the digest as five 32-bit words, most significant byte first.
  std::string hex;
  hex.reserve(40);
  for (const auto word : digest) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(word));
    hex += part;
  }
  return hex;
}

}  // namespace platform
