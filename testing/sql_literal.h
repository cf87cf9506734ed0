#pragma once
// SQL literals for the sample databases' INSERT statements. The samples are
// built from the project's own data, never from a backup; the quoting still
// keeps any text a literal.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sample {

// The text in single quotes, a quote inside doubled.
std::string SqlText(std::string_view text);
// NULL for an empty text (as the phone leaves an unset column), else SqlText.
std::string SqlTextOrNull(std::string_view text);
// Enough digits for SQLite to read back the same double; a whole number
// stays whole, so a REAL column stores it as an integer as the phone's does.
std::string SqlReal(double value);
// X'..' with upper-case hexadecimal digits.
std::string SqlBlob(std::span<const std::uint8_t> bytes);

}  // namespace sample
