#pragma once
// Text helpers of the readers. All text inside the system is UTF-8; UTF-16
// appears only where a length is counted in UTF-16 units, as the phone's apps
// count it ("the first N characters").

#include <cstddef>
#include <string>
#include <string_view>

namespace db {

// Makes a free-text CSV field safe: every ASCII comma becomes U+FF0C, every
// double quote is doubled, and the field is framed by the marker U+001F '"'
// on both sides, which the export writer turns into a quote in CSV output and
// drops in HTML output.
std::string CsvQuoteField(std::string_view text);

// A short field of a CSV line (a name, an address, a title): as it is,
// unless it holds a comma, a quote or a line break, which would split the
// line or shift every later column; such a field passes CsvQuoteField.
std::string CsvField(const std::string& text);

// UTF-8 to UTF-16 and back. Invalid UTF-8 sequences become U+FFFD; unpaired
// surrogates become U+FFFD. A null input gives an empty string.
std::u16string Utf8ToWide(const char* utf8);
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);

// Text in the system code page, which is UTF-8 here: these keep every
// character and only turn a null input into an empty string and repair
// invalid sequences.
std::string Utf8ToAnsi(const char* utf8);
std::string AnsiToUtf8(const char* ansi);

// The first count UTF-16 units of a text, never splitting a surrogate pair
// (a pair that would be cut is left out whole).
std::string LeftUtf16(std::string_view utf8, std::size_t count);

// The text with invalid UTF-8 sequences replaced by U+FFFD.
std::string RepairUtf8(std::string_view text);
// Whether text is valid UTF-8 throughout.
bool IsValidUtf8(std::string_view text);
// Whether text is a UUID as the phone writes one: 36 characters, hex digits
// in groups of 8-4-4-4-12 parted by '-'.
bool IsUuidText(std::string_view text);

// A number as "%f" writes it (six decimals): the time in the keys that tell
// a recovered record from a live one, a call's duration.
std::string FormatFixed(double value);

}  // namespace db
