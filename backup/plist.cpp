// Property list reader. The binary and XML layouts it reads, and the limits it
// puts on hostile input, are in docs/formats/plist.md.
#include "backup/plist.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <span>
#include <string_view>

#include <pugixml.hpp>
#include <utf8.h>

#include "platform/fs.h"

namespace backup {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr char kOutOfBounds[] = "Out of bounds getRange";
constexpr char kNotSupported[] = "This type is not supported";
constexpr char kTooDeep[] = "Plist: objects nested too deeply";
constexpr char kTooManyValues[] = "Plist: too many values to decode";
constexpr char kTooMuchContent[] = "Plist: decoded content too large";

// Real lists nest a handful of levels (a keyed archive: top, $objects, an
// object, its class). 512 levels is far beyond that, and 512 frames of the
// decoder stay well inside a worker thread's stack, sanitizers included. A list
// whose objects contain themselves hits this limit instead of the stack's.
constexpr int kMaxNestingDepth = 512;

// Every value but the top one is reached through a reference of at least one
// byte, so a list whose writer shares no containers decodes into at most one
// value per input byte. Apple's writer and the others share only scalars. Twice
// that, plus a floor for tiny inputs, still stops a list of containers that
// share each other (2^n values from n small arrays) long before memory runs out.
constexpr std::uint64_t kValuesPerInputByte = 2;
constexpr std::uint64_t kMinValueBudget = 1024;

// A scalar shared by many references is copied once per reference; this caps
// the copies. A list without shared scalars decodes into less than its own
// size; the floor leaves room for a writer that stores a repeated text once
// (a thousand copies of a 16 KiB text) while a few hostile kilobytes still
// cannot claim more than a few tens of megabytes.
constexpr std::uint64_t kContentBytesPerInputByte = 4;
constexpr std::uint64_t kMinContentBudget = 16ULL * 1024 * 1024;

constexpr std::uint64_t kTrailerBytes = 32;
constexpr std::int64_t kAppleEpochUnixSeconds = 978307200;  // 2001-01-01 00:00:00 UTC

// ---------------------------------------------------------------------------
// Calendar arithmetic, proleptic Gregorian, in UTC whatever the machine's zone.

bool IsLeapYear(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (negative before it).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;  // March = 0
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// ---------------------------------------------------------------------------
// Bounds-checked access to the input. Every read names an absolute offset and a
// size; anything reaching past the end fails with kOutOfBounds.

class ByteReader {
 public:
  explicit ByteReader(Bytes bytes) : bytes_(bytes) {}

  std::uint64_t Size() const { return bytes_.size(); }

  // count units of unitBytes each, starting at offset.
  Bytes Range(std::uint64_t offset, std::uint64_t count, std::uint64_t unitBytes = 1) const {
    const std::uint64_t size = bytes_.size();
    if (offset > size || count > (size - offset) / unitBytes) throw Plist::Error(kOutOfBounds);
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count * unitBytes));
  }

  std::uint8_t Byte(std::uint64_t offset) const { return Range(offset, 1)[0]; }

  // A big-endian unsigned integer of widthBytes (1 to 8) bytes.
  std::uint64_t UnsignedBE(std::uint64_t offset, std::uint64_t widthBytes) const {
    return LowBits64(Range(offset, widthBytes));
  }

  // The last (least significant) eight bytes of a big-endian number.
  static std::uint64_t LowBits64(Bytes bigEndian) {
    std::uint64_t value = 0;
    for (std::uint8_t byte : bigEndian.last(std::min<std::size_t>(bigEndian.size(), 8))) {
      value = (value << 8) | byte;
    }
    return value;
  }

 private:
  Bytes bytes_;
};

// UTF-16 big-endian units to UTF-8. An unpaired surrogate becomes U+FFFD, so a
// damaged name still reads as text.
std::string Utf16BigEndianToUtf8(Bytes bytes) {
  const std::size_t units = bytes.size() / 2;
  const auto unitAt = [&bytes](std::size_t index) -> std::uint32_t {
    return (static_cast<std::uint32_t>(bytes[2 * index]) << 8) | bytes[2 * index + 1];
  };
  std::string text;
  text.reserve(bytes.size());
  auto out = std::back_inserter(text);
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t codePoint = unitAt(i);
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
      const bool highWithLow = codePoint <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 &&
                               unitAt(i + 1) <= 0xDFFF;
      if (highWithLow) {
        codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00);
        ++i;
      } else {
        codePoint = 0xFFFD;
      }
    }
    utf8::append(codePoint, out);
  }
  return text;
}

// ---------------------------------------------------------------------------
// Binary form: random access through the offset table, one object at a time.

class BinaryDecoder {
 public:
  explicit BinaryDecoder(Bytes bytes);

  PlistValue DecodeTop() { return DecodeObject(0, 0); }

 private:
  PlistValue DecodeObject(std::uint64_t ref, int depth);
  PlistValue DecodeSingleton(std::uint8_t marker) const;
  PlistValue DecodeInteger(std::uint64_t offset, std::uint8_t lowBits) const;
  PlistValue DecodeReal(std::uint64_t offset, std::uint8_t lowBits) const;
  PlistValue DecodeDate(std::uint64_t offset) const;
  PlistValue DecodeArray(std::uint64_t offset, std::uint8_t lowBits, int depth);
  PlistValue DecodeDictionary(std::uint64_t offset, std::uint8_t lowBits, int depth);

  // The content of a data or text object: as many units of unitBytes as its length says.
  Bytes Content(std::uint64_t offset, std::uint8_t lowBits, std::uint64_t unitBytes);
  // The length or count of the object at offset, and where its content starts.
  std::uint64_t LengthAndStart(std::uint64_t offset, std::uint8_t lowBits,
                               std::uint64_t& contentStart) const;
  std::uint64_t ObjectOffset(std::uint64_t ref) const;
  std::uint64_t RefAt(Bytes refs, std::uint64_t index) const;
  void SpendContent(std::uint64_t bytes);

  ByteReader in_;
  std::uint64_t offsetBytes_ = 0;
  std::uint64_t refBytes_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t offsetTableStart_ = 0;
  std::uint64_t valuesLeft_ = 0;
  std::uint64_t contentBytesLeft_ = 0;
};

BinaryDecoder::BinaryDecoder(Bytes bytes) : in_(bytes) {
  const std::uint64_t size = in_.Size();
  if (size < kTrailerBytes) throw Plist::Error(kOutOfBounds);
  const std::uint64_t trailer = size - kTrailerBytes;
  offsetBytes_ = in_.Byte(trailer + 6);
  refBytes_ = in_.Byte(trailer + 7);
  objectCount_ = in_.UnsignedBE(trailer + 12, 4);
  offsetTableStart_ = in_.UnsignedBE(trailer + 24, 8);
  if (offsetBytes_ == 0 || offsetBytes_ > 8 || refBytes_ == 0 || refBytes_ > 8) {
    throw Plist::Error(kOutOfBounds);
  }
  in_.Range(offsetTableStart_, objectCount_, offsetBytes_);  // the whole table lies inside
  valuesLeft_ = size * kValuesPerInputByte + kMinValueBudget;
  contentBytesLeft_ = size * kContentBytesPerInputByte + kMinContentBudget;
}

std::uint64_t BinaryDecoder::ObjectOffset(std::uint64_t ref) const {
  if (ref >= objectCount_) throw Plist::Error(kOutOfBounds);
  return in_.UnsignedBE(offsetTableStart_ + ref * offsetBytes_, offsetBytes_);
}

std::uint64_t BinaryDecoder::RefAt(Bytes refs, std::uint64_t index) const {
  return ByteReader::LowBits64(refs.subspan(static_cast<std::size_t>(index * refBytes_),
                                            static_cast<std::size_t>(refBytes_)));
}

void BinaryDecoder::SpendContent(std::uint64_t bytes) {
  if (bytes > contentBytesLeft_) throw Plist::Error(kTooMuchContent);
  contentBytesLeft_ -= bytes;
}

PlistValue BinaryDecoder::DecodeObject(std::uint64_t ref, int depth) {
  if (depth > kMaxNestingDepth) throw Plist::Error(kTooDeep);
  if (valuesLeft_ == 0) throw Plist::Error(kTooManyValues);
  --valuesLeft_;
  const std::uint64_t offset = ObjectOffset(ref);
  const std::uint8_t marker = in_.Byte(offset);
  const std::uint8_t lowBits = marker & 0x0F;
  switch (marker >> 4) {
    case 0x0: return DecodeSingleton(marker);
    case 0x1: return DecodeInteger(offset, lowBits);
    case 0x2: return DecodeReal(offset, lowBits);
    case 0x3: return DecodeDate(offset);
    case 0x4: {
      const Bytes content = Content(offset, lowBits, 1);
      return PlistData(content.begin(), content.end());
    }
    // A UID (0x8) is read like ASCII text: its low bits taken as a length.
    case 0x5:
    case 0x8: {
      const Bytes content = Content(offset, lowBits, 1);
      return std::string(content.begin(), content.end());
    }
    case 0x6: return Utf16BigEndianToUtf8(Content(offset, lowBits, 2));
    case 0xA: return DecodeArray(offset, lowBits, depth);
    case 0xD: return DecodeDictionary(offset, lowBits, depth);
    default: throw Plist::Error(kNotSupported);
  }
}

PlistValue BinaryDecoder::DecodeSingleton(std::uint8_t marker) const {
  switch (marker) {
    case 0x08: return false;
    case 0x09: return true;
    case 0x00: throw Plist::Error("Plist: null byte encountered, unsure how to parse");
    case 0x0F: throw Plist::Error("Plist: fill byte encountered, unsure how to parse");
    default: throw Plist::Error("Plist: unknown header " + std::to_string(marker));
  }
}

// 2^lowBits bytes, big-endian. Eight bytes and more are signed (two's
// complement of the low 64 bits; 16-byte integers exist for values past 2^63),
// shorter ones unsigned.
PlistValue BinaryDecoder::DecodeInteger(std::uint64_t offset, std::uint8_t lowBits) const {
  const Bytes bytes = in_.Range(offset + 1, std::uint64_t{1} << lowBits);
  return static_cast<std::int64_t>(ByteReader::LowBits64(bytes));
}

PlistValue BinaryDecoder::DecodeReal(std::uint64_t offset, std::uint8_t lowBits) const {
  const std::uint64_t widthBytes = std::uint64_t{1} << lowBits;
  const std::uint64_t bits = ByteReader::LowBits64(in_.Range(offset + 1, widthBytes));
  if (widthBytes == 8) return std::bit_cast<double>(bits);
  if (widthBytes == 4) return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
  throw Plist::Error("Plist: real of unsupported size");
}

PlistValue BinaryDecoder::DecodeDate(std::uint64_t offset) const {
  const double appleSeconds = std::bit_cast<double>(in_.UnsignedBE(offset + 1, 8));
  const double unixSeconds = appleSeconds + static_cast<double>(kAppleEpochUnixSeconds);
  // Both bounds are exact doubles; NaN fails both comparisons.
  constexpr double kLowest = -9223372036854775808.0;   // -2^63
  constexpr double kPastHighest = 9223372036854775808.0;  // 2^63
  if (!(unixSeconds >= kLowest && unixSeconds < kPastHighest)) {
    throw Plist::Error("Plist: date out of range");
  }
  return Plist::Date(static_cast<std::int64_t>(unixSeconds));  // truncates toward zero
}

std::uint64_t BinaryDecoder::LengthAndStart(std::uint64_t offset, std::uint8_t lowBits,
                                            std::uint64_t& contentStart) const {
  if (lowBits != 0x0F) {
    contentStart = offset + 1;
    return lowBits;
  }
  // Fifteen and more: an integer object follows the marker.
  const std::uint64_t intOffset = offset + 1;
  const std::uint8_t intMarker = in_.Byte(intOffset);
  if ((intMarker >> 4) != 0x1) throw Plist::Error("Plist: length is not an integer");
  const std::uint64_t widthBytes = std::uint64_t{1} << (intMarker & 0x0F);
  const Bytes lengthBytes = in_.Range(intOffset + 1, widthBytes);
  contentStart = intOffset + 1 + widthBytes;
  return ByteReader::LowBits64(lengthBytes);
}

Bytes BinaryDecoder::Content(std::uint64_t offset, std::uint8_t lowBits, std::uint64_t unitBytes) {
  std::uint64_t start = 0;
  const std::uint64_t units = LengthAndStart(offset, lowBits, start);
  const Bytes content = in_.Range(start, units, unitBytes);
  SpendContent(content.size());
  return content;
}

PlistValue BinaryDecoder::DecodeArray(std::uint64_t offset, std::uint8_t lowBits, int depth) {
  std::uint64_t start = 0;
  const std::uint64_t count = LengthAndStart(offset, lowBits, start);
  const Bytes refs = in_.Range(start, count, refBytes_);
  PlistArray array;
  array.reserve(static_cast<std::size_t>(std::min(count, valuesLeft_)));
  for (std::uint64_t i = 0; i < count; ++i) array.push_back(DecodeObject(RefAt(refs, i), depth + 1));
  return array;
}

PlistValue BinaryDecoder::DecodeDictionary(std::uint64_t offset, std::uint8_t lowBits, int depth) {
  std::uint64_t start = 0;
  const std::uint64_t count = LengthAndStart(offset, lowBits, start);
  const Bytes refs = in_.Range(start, count, 2 * refBytes_);  // count key refs, then count value refs
  PlistDictionary dictionary;
  for (std::uint64_t i = 0; i < count; ++i) {
    PlistValue key = DecodeObject(RefAt(refs, i), depth + 1);
    if (!key.Is<std::string>()) {
      throw Plist::Error("Error parsing dictionary.  Key can't be parsed as a string");
    }
    dictionary.insert_or_assign(key.As<std::string>(), DecodeObject(RefAt(refs, count + i), depth + 1));
  }
  return dictionary;
}

// ---------------------------------------------------------------------------
// XML form: pugixml builds the tree, this maps elements onto values.

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view TrimXmlSpace(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

pugi::xml_node FirstElement(pugi::xml_node parent) {
  pugi::xml_node child = parent.first_child();
  while (child && child.type() != pugi::node_element) child = child.next_sibling();
  return child;
}

pugi::xml_node NextElement(pugi::xml_node node) {
  pugi::xml_node next = node.next_sibling();
  while (next && next.type() != pugi::node_element) next = next.next_sibling();
  return next;
}

// All text of an element; a comment or CDATA section may split it.
std::string ElementText(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  }
  return text;
}

// Decimal, optionally signed. Values from 2^63 up to 2^64 - 1 wrap into the
// 64-bit signed range, as the binary form's 16-byte integers do.
std::int64_t ParseXmlInteger(const std::string& raw) {
  std::string_view text = TrimXmlSpace(raw);
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  const bool whole = !text.empty() && error == std::errc() && end == text.data() + text.size();
  constexpr std::uint64_t kMostNegative = std::uint64_t{1} << 63;
  if (!whole || (negative && magnitude > kMostNegative)) {
    throw Plist::Error("Plist: XML integer not readable " + raw);
  }
  return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

// Locale independent, unlike strtod.
double ParseXmlReal(const std::string& raw) {
  std::string_view text = TrimXmlSpace(raw);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw Plist::Error("Plist: XML real not readable " + raw);
  }
  return value;
}

// RFC 4648 Base64. Line breaks and indentation inside the element are skipped.
PlistData DecodeBase64(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  PlistData bytes;
  bytes.reserve(text.size() / 4 * 3);
  std::uint32_t pending = 0;
  int pendingBits = 0;
  bool padded = false;
  for (char c : text) {
    if (IsXmlSpace(c)) continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    const std::size_t sextet = kAlphabet.find(c);
    if (padded || sextet == std::string_view::npos) throw Plist::Error("Plist: XML data is not Base64");
    pending = (pending << 6) | static_cast<std::uint32_t>(sextet);
    pendingBits += 6;
    if (pendingBits >= 8) {
      pendingBits -= 8;
      bytes.push_back(static_cast<std::uint8_t>(pending >> pendingBits));
      pending &= (1U << pendingBits) - 1;
    }
  }
  return bytes;
}

Plist::Date ParseXmlDate(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const int fields =
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &year, &month, &day, &hour, &minute, &second);
  if (fields != 6) throw Plist::Error("Plist: XML date not readable " + text);
  Plist::Date date(0);
  date.Set(year, month, day, hour, minute, second);
  return date;
}

PlistValue DecodeXmlElement(pugi::xml_node element, int depth);

PlistValue DecodeXmlDictionary(pugi::xml_node element, int depth) {
  PlistDictionary dictionary;
  for (pugi::xml_node keyNode = FirstElement(element); keyNode;) {
    if (std::strcmp(keyNode.name(), "key") != 0) {
      throw Plist::Error("Plist: XML dictionary key expected but not found");
    }
    const std::string key = ElementText(keyNode);
    const pugi::xml_node valueNode = NextElement(keyNode);
    if (!valueNode) throw Plist::Error("Plist: XML dictionary value expected for key " + key + "but not found");
    if (std::strcmp(valueNode.name(), "key") == 0) {
      throw Plist::Error("Plist: XML dictionary value expected for key " + key + "but found another key node");
    }
    dictionary.insert_or_assign(key, DecodeXmlElement(valueNode, depth + 1));
    keyNode = NextElement(valueNode);
  }
  return dictionary;
}

PlistValue DecodeXmlElement(pugi::xml_node element, int depth) {
  if (depth > kMaxNestingDepth) throw Plist::Error(kTooDeep);
  const std::string_view name = element.name();
  if (name == "dict") return DecodeXmlDictionary(element, depth);
  if (name == "array") {
    PlistArray array;
    for (pugi::xml_node item = FirstElement(element); item; item = NextElement(item)) {
      array.push_back(DecodeXmlElement(item, depth + 1));
    }
    return array;
  }
  if (name == "string") return ElementText(element);
  if (name == "integer") return ParseXmlInteger(ElementText(element));
  if (name == "real") return ParseXmlReal(ElementText(element));
  if (name == "true") return true;
  if (name == "false") return false;
  if (name == "data") return DecodeBase64(ElementText(element));
  if (name == "date") return ParseXmlDate(ElementText(element));
  throw Plist::Error("Plist: XML unknown node type " + std::string(name));
}

PlistValue ReadXmlPlist(const std::uint8_t* bytes, std::size_t length) {
  pugi::xml_document document;
  const pugi::xml_parse_result result = document.load_buffer(bytes, length);
  if (!result) {
    const char* description = result.description();
    throw Plist::Error(std::string("Plist: XML parsed with error ") +
                       (description != nullptr && *description != '\0' ? description : "Unknown error"));
  }
  const pugi::xml_node top = FirstElement(document.document_element());
  if (!top) throw Plist::Error("Plist: XML plist holds no value");
  return DecodeXmlElement(top, 0);
}

}  // namespace

// ---------------------------------------------------------------------------

namespace Plist {

Date::Date()
    : unixSeconds_(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())
                       .time_since_epoch()
                       .count()) {}

void Date::Set(int year, int month, int day, int hour, int minute, int second) {
  // A second of 60 is a leap second; it counts as the first second of the next minute.
  const bool valid = month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month) &&
                     hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 &&
                     second <= 60;
  if (!valid) throw Error("Plist::Date::set() date invalid");
  unixSeconds_ = DaysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 +
                 std::int64_t{minute} * 60 + second;
}

}  // namespace Plist

const PlistValue* PlistValue::Find(const std::string& key) const {
  const auto* dictionary = std::get_if<PlistDictionary>(&value_);
  if (dictionary == nullptr) return nullptr;
  const auto found = dictionary->find(key);
  return found == dictionary->end() ? nullptr : &found->second;
}

PlistValue ReadPlistBuffer(const std::uint8_t* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) throw Plist::Error("Plist: Empty plist data");
  const Bytes input(bytes, length);
  constexpr std::string_view kBinaryMagic = "bplist00";
  const bool binary = input.size() >= kBinaryMagic.size() &&
                      std::equal(kBinaryMagic.begin(), kBinaryMagic.end(), input.begin());
  if (binary) return BinaryDecoder(input).DecodeTop();
  return ReadXmlPlist(bytes, length);
}

PlistValue ReadPlistFile(const std::string& path) {
  const auto bytes = platform::ReadWholeFile(path);
  if (!bytes) throw Plist::Error("Can't open file.");
  if (bytes->empty()) throw Plist::Error("Can't read zero length data");
  return ReadPlistBuffer(bytes->data(), bytes->size());
}

}  // namespace backup
