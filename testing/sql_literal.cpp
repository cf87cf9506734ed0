#include "testing/sql_literal.h"

#include <cstdio>

namespace sample {

std::string SqlText(std::string_view text) {
  std::string literal = "'";
  for (const char c : text) {
    literal += c;
    if (c == '\'') literal += '\'';
  }
  return literal + "'";
}

std::string SqlTextOrNull(std::string_view text) { return text.empty() ? std::string("NULL") : SqlText(text); }

std::string SqlReal(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string SqlBlob(std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (const std::uint8_t byte : bytes) {
    literal += kHex[byte >> 4];
    literal += kHex[byte & 0x0F];
  }
  return literal + "'";
}

}  // namespace sample
