#include "db/text.h"

#include <cstdio>

#include <utf8.h>

#include <iterator>

namespace db {

std::string CsvQuoteField(std::string_view text) {
  static constexpr std::string_view kMarker = "\x1f\"";
  static constexpr std::string_view kFullWidthComma = "\xEF\xBC\x8C";  // U+FF0C
  std::string out;
  out.reserve(text.size() + 8);
  out += kMarker;
  for (char c : text) {
    if (c == ',') {
      out += kFullWidthComma;
    } else if (c == '"') {
      out += "\"\"";
    } else {
      out += c;
    }
  }
  out += kMarker;
  return out;
}

std::string RepairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(out), 0xFFFD);
  return out;
}

bool IsValidUtf8(std::string_view text) { return utf8::is_valid(text.begin(), text.end()); }

bool IsUuidText(std::string_view text) {
  constexpr std::size_t kUuidLength = 36;
  if (text.size() != kUuidLength) return false;
  for (std::size_t i = 0; i < kUuidLength; ++i) {
    const char c = text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (dash ? c != '-' : !hex) return false;
  }
  return true;
}

std::u16string Utf8ToWide(std::string_view utf8) {
  const std::string valid = RepairUtf8(utf8);
  std::u16string out;
  utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
  return out;
}

std::u16string Utf8ToWide(const char* utf8) {
  if (utf8 == nullptr) return {};
  return Utf8ToWide(std::string_view(utf8));
}

std::string WideToUtf8(std::u16string_view wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    utf8::append(cp, std::back_inserter(out));
  }
  return out;
}

std::string Utf8ToAnsi(const char* utf8) { return utf8 == nullptr ? std::string() : RepairUtf8(utf8); }

std::string AnsiToUtf8(const char* ansi) { return ansi == nullptr ? std::string() : RepairUtf8(ansi); }

std::string LeftUtf16(std::string_view utf8, std::size_t count) {
  const std::string valid = RepairUtf8(utf8);
  auto it = valid.begin();
  std::size_t units = 0;
  while (it != valid.end()) {
    auto next = it;
    const std::uint32_t cp = utf8::next(next, valid.end());
    const std::size_t width = cp >= 0x10000 ? 2 : 1;
    if (units + width > count) break;
    units += width;
    it = next;
  }
  return std::string(valid.begin(), it);
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  return CsvQuoteField(text);
}

std::string FormatFixed(double value) {
  char text[400];  // "%f" of the largest double takes 316 characters
  const int length = std::snprintf(text, sizeof text, "%f", value);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

}  // namespace db
