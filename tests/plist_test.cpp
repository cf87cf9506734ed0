#include "backup/plist.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/plist_writer.h"

namespace backup {

// Failure output that shows the tree rather than its bytes.
void PrintTo(const PlistValue& value, std::ostream* out) {
  std::visit(
      [out](const auto& held) {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, PlistDictionary>) {
          *out << "{";
          for (const auto& [key, item] : held) {
            *out << '"' << key << "\": ";
            PrintTo(item, out);
            *out << ", ";
          }
          *out << "}";
        } else if constexpr (std::is_same_v<T, PlistArray>) {
          *out << "[";
          for (const PlistValue& item : held) {
            PrintTo(item, out);
            *out << ", ";
          }
          *out << "]";
        } else if constexpr (std::is_same_v<T, std::string>) {
          *out << '"' << held << '"';
        } else if constexpr (std::is_same_v<T, PlistData>) {
          *out << "data(" << held.size() << " bytes)";
        } else if constexpr (std::is_same_v<T, Plist::Date>) {
          *out << "date(" << held.UnixSeconds() << ")";
        } else {
          *out << held;
        }
      },
      value.Raw());
}

}  // namespace backup

namespace {

using backup::PlistArray;
using backup::PlistData;
using backup::PlistDictionary;
using backup::PlistValue;
using backup::ReadPlistBuffer;
using backup::ReadPlistFile;
using sample::PlistNode;
using Bytes = std::vector<std::uint8_t>;

constexpr char kOutOfBounds[] = "Out of bounds getRange";
constexpr char kNotSupported[] = "This type is not supported";
constexpr char kTooDeep[] = "Plist: objects nested too deeply";
constexpr char kTooManyValues[] = "Plist: too many values to decode";

// The value under key; a missing key fails the test rather than crashing it.
const PlistValue& At(const PlistValue& dictionary, const std::string& key) {
  static const PlistValue kMissing = std::string("<missing>");
  const PlistValue* found = dictionary.Find(key);
  if (found == nullptr) ADD_FAILURE() << "no key " << key;
  return found != nullptr ? *found : kMissing;
}

PlistValue Read(const Bytes& bytes) { return ReadPlistBuffer(bytes.data(), bytes.size()); }

PlistValue Read(const std::string& text) {
  const Bytes bytes(text.begin(), text.end());
  return Read(bytes);
}

// The text of the Plist::Error that reading bytes raises, or a note that none
// (or another exception) came.
template <typename Input>
std::string ErrorOf(const Input& input) {
  try {
    Read(input);
  } catch (const backup::Plist::Error& error) {
    return error.what();
  } catch (const std::exception& error) {
    return std::string("other exception: ") + error.what();
  }
  return "no error";
}

// Trailer fields a test may damage; unset ones are what the layout needs.
struct TrailerFields {
  std::uint8_t offsetBytes = 1;
  std::uint8_t refBytes = 1;
  std::optional<std::uint64_t> objectCount;
  std::optional<std::uint64_t> offsetTableStart;
  std::optional<std::uint8_t> firstOffset;
};

TrailerFields OffsetBytes(std::uint8_t value) {
  TrailerFields fields;
  fields.offsetBytes = value;
  return fields;
}

TrailerFields RefBytes(std::uint8_t value) {
  TrailerFields fields;
  fields.refBytes = value;
  return fields;
}

TrailerFields ObjectCount(std::uint64_t value) {
  TrailerFields fields;
  fields.objectCount = value;
  return fields;
}

TrailerFields OffsetTableStart(std::uint64_t value) {
  TrailerFields fields;
  fields.offsetTableStart = value;
  return fields;
}

TrailerFields FirstOffset(std::uint8_t value) {
  TrailerFields fields;
  fields.firstOffset = value;
  return fields;
}

void AppendBigEndian(Bytes& out, std::uint64_t value, int widthBytes) {
  for (int shift = (widthBytes - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A binary list laid out by hand: "bplist00", the objects in order (object 0
// first), a table of one-byte offsets, the trailer.
Bytes RawList(const std::vector<Bytes>& objects, const TrailerFields& fields = {}) {
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint8_t> offsets;
  for (const Bytes& object : objects) {
    offsets.push_back(static_cast<std::uint8_t>(out.size()));
    out.insert(out.end(), object.begin(), object.end());
  }
  if (fields.firstOffset) offsets.at(0) = *fields.firstOffset;
  const std::uint64_t tableStart = out.size();
  out.insert(out.end(), offsets.begin(), offsets.end());
  out.insert(out.end(), 6, 0);
  out.push_back(fields.offsetBytes);
  out.push_back(fields.refBytes);
  AppendBigEndian(out, fields.objectCount.value_or(objects.size()), 8);
  AppendBigEndian(out, 0, 8);
  AppendBigEndian(out, fields.offsetTableStart.value_or(tableStart), 8);
  return out;
}

Bytes Marker(std::uint8_t marker, std::initializer_list<std::uint8_t> rest = {}) {
  Bytes bytes = {marker};
  bytes.insert(bytes.end(), rest);
  return bytes;
}

Bytes DoubleObject(std::uint8_t marker, double value) {
  Bytes bytes = {marker};
  AppendBigEndian(bytes, std::bit_cast<std::uint64_t>(value), 8);
  return bytes;
}

Bytes AsciiObject(const std::string& text) {
  Bytes bytes = text.size() < 15 ? Bytes{static_cast<std::uint8_t>(0x50 | text.size())}
                                  : Bytes{0x5F, 0x10, static_cast<std::uint8_t>(text.size())};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

std::string Nested(const std::string& open, const std::string& close, int depth) {
  std::string text = "<plist>";
  for (int i = 0; i < depth; ++i) text += open;
  for (int i = 0; i < depth; ++i) text += close;
  return text + "</plist>";
}

// Sets TZ for the lifetime of the object, so local-time code cannot leak into
// what should be UTC.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

class TempDir {
 public:
  TempDir() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::path(::testing::TempDir()) / ("plist_test_" + std::to_string(stamp));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// ---------------------------------------------------------------------------
// Binary form: values

struct BinaryValueCase {
  const char* name;
  std::vector<Bytes> objects;
  PlistValue expected;
};

TEST(PlistBinaryTest, DecodesEachMarker) {
  const std::vector<BinaryValueCase> cases = {
      {"FourByteHighWordInteger", {Marker(0x13, {0, 0, 0, 1, 0, 0, 0, 0})}, std::int64_t{4294967296}},
      {"EightByteIntegerIsSigned", {Marker(0x13, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}, std::int64_t{-1}},
      {"OneByteIntegerIsUnsigned", {Marker(0x10, {0xFF})}, std::int64_t{255}},
      {"TwoByteIntegerIsUnsigned", {Marker(0x11, {0xFF, 0xFE})}, std::int64_t{65534}},
      {"FourByteIntegerIsUnsigned", {Marker(0x12, {0xFF, 0xFF, 0xFF, 0xFF})}, std::int64_t{4294967295}},
      {"SixteenByteIntegerKeepsLow64Bits",
       {Marker(0x14, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 42})},
       std::int64_t{42}},
      {"Double", {DoubleObject(0x23, 1.5)}, 1.5},
      {"FloatWidened", {Marker(0x22, {0x3E, 0x80, 0x00, 0x00})}, 0.25},
      {"DateAtAppleEpoch", {DoubleObject(0x33, 0.0)}, backup::Plist::Date(978307200)},
      {"DateTruncatesUp", {DoubleObject(0x33, 1.9)}, backup::Plist::Date(978307201)},
      {"DateBeforeAppleEpochTruncatesTowardZero", {DoubleObject(0x33, -0.5)}, backup::Plist::Date(978307199)},
      {"False", {Marker(0x08)}, false},
      {"True", {Marker(0x09)}, true},
      {"Data", {Marker(0x43, {1, 2, 3})}, PlistData{1, 2, 3}},
      {"ShortAscii", {AsciiObject("sms.db")}, std::string("sms.db")},
      {"TwentyCharactersUseIntegerLength",
       {Marker(0x5F, {0x10, 0x14, 'L', 'i', 'b', 'r', 'a', 'r', 'y', '/', 'S', 'M', 'S', '/', 's', 'm', 's', '.',
                      'd', 'b', '-', 'x'})},
       std::string("Library/SMS/sms.db-x")},
      {"Utf16WithSurrogatePair",
       {Marker(0x64, {0x00, 0xE9, 0x77, 0xED, 0xD8, 0x3D, 0xDE, 0x00})},
       std::string("\xC3\xA9\xE7\x9F\xAD\xF0\x9F\x98\x80")},
      {"Utf16UnpairedSurrogates",
       {Marker(0x63, {0xD8, 0x3D, 0x00, 0x41, 0xDE, 0x00})},
       std::string("\xEF\xBF\xBD" "A" "\xEF\xBF\xBD")},
      {"UidReadsLikeAsciiByItsLowBits", {Marker(0x82, {'a', 'b'})}, std::string("ab")},
      {"OneByteUidIsEmptyText", {Marker(0x80, {0x07})}, std::string()},
      {"ArrayInOrder",
       {Marker(0xA2, {1, 2}), Marker(0x10, {7}), AsciiObject("x")},
       PlistArray{std::int64_t{7}, std::string("x")}},
      {"DictionaryKeysThenValues",
       {Marker(0xD2, {1, 2, 3, 4}), AsciiObject("Size"), AsciiObject("Mode"), Marker(0x11, {0x10, 0x00}),
        Marker(0x11, {0x81, 0xA4})},
       PlistDictionary{{"Size", std::int64_t{4096}}, {"Mode", std::int64_t{33188}}}},
  };
  for (const BinaryValueCase& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    try {
      EXPECT_EQ(Read(RawList(testCase.objects)), testCase.expected);
    } catch (const backup::Plist::Error& error) {
      ADD_FAILURE() << error.what();
    }
  }
}

// ---------------------------------------------------------------------------
// Binary form: failures

struct ErrorCase {
  const char* name;
  Bytes input;
  std::string expected;
};

TEST(PlistBinaryTest, FailsWithExactText) {
  const Bytes nanBits = DoubleObject(0x33, std::numeric_limits<double>::quiet_NaN());
  const std::vector<ErrorCase> cases = {
      {"NullMarker", RawList({Marker(0x00)}), "Plist: null byte encountered, unsure how to parse"},
      {"FillMarker", RawList({Marker(0x0F)}), "Plist: fill byte encountered, unsure how to parse"},
      {"UnknownSingleton", RawList({Marker(0x0C)}), "Plist: unknown header 12"},
      {"Type7", RawList({Marker(0x70)}), kNotSupported},
      {"Type9", RawList({Marker(0x91, {0})}), kNotSupported},
      {"TypeB", RawList({Marker(0xB0)}), kNotSupported},
      {"TypeC", RawList({Marker(0xC0)}), kNotSupported},
      {"TypeE", RawList({Marker(0xE0)}), kNotSupported},
      {"TypeF", RawList({Marker(0xF0)}), kNotSupported},
      {"UnsupportedInsideArray", RawList({Marker(0xA1, {1}), Marker(0x70)}), kNotSupported},
      {"IntegerKey", RawList({Marker(0xD1, {1, 2}), Marker(0x10, {5}), Marker(0x10, {6})}),
       "Error parsing dictionary.  Key can't be parsed as a string"},
      {"DataKey", RawList({Marker(0xD1, {1, 2}), Marker(0x41, {5}), Marker(0x10, {6})}),
       "Error parsing dictionary.  Key can't be parsed as a string"},
      {"TextLengthPastEnd", RawList({Marker(0x5F, {0x10, 0xFF, 'a'})}), kOutOfBounds},
      {"NegativeDataLength", RawList({Marker(0x4F, {0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}),
       kOutOfBounds},
      {"Utf16LengthDoublingWraps", RawList({Marker(0x6F, {0x13, 0x80, 0, 0, 0, 0, 0, 0, 0})}), kOutOfBounds},
      {"IntegerWiderThanWhatRemains", RawList({Marker(0x16, {1, 2, 3})}), kOutOfBounds},
      {"LengthIntegerPastEnd", RawList({Marker(0x5F, {0x1F})}), kOutOfBounds},
      {"ArrayRefsPastEnd", RawList({Marker(0xAF, {0x12, 0x00, 0x10, 0x00, 0x00})}), kOutOfBounds},
      {"DictionaryRefsPastEnd", RawList({Marker(0xDF, {0x11, 0x01, 0x00})}), kOutOfBounds},
      {"RefBeyondObjectCount", RawList({Marker(0xA1, {5}), Marker(0x09)}), kOutOfBounds},
      {"ObjectOffsetPastEnd", RawList({Marker(0x09)}, FirstOffset(200)), kOutOfBounds},
      {"NoObjects", RawList({Marker(0x09)}, ObjectCount(0)), kOutOfBounds},
      {"ObjectCountPastTable", RawList({Marker(0x09)}, ObjectCount(0xFFFFFFFF)), kOutOfBounds},
      {"OffsetTablePastEnd", RawList({Marker(0x09)}, OffsetTableStart(1000)), kOutOfBounds},
      {"OffsetTableStartNearTwoToThe64", RawList({Marker(0x09)}, OffsetTableStart(~std::uint64_t{0} - 3)),
       kOutOfBounds},
      {"OffsetSizeZero", RawList({Marker(0x09)}, OffsetBytes(0)), kOutOfBounds},
      {"OffsetSizeNine", RawList({Marker(0x09)}, OffsetBytes(9)), kOutOfBounds},
      {"RefSizeZero", RawList({Marker(0x09)}, RefBytes(0)), kOutOfBounds},
      {"RefSizeNine", RawList({Marker(0x09)}, RefBytes(9)), kOutOfBounds},
      {"ShorterThanTrailer", Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0, 0, 0}, kOutOfBounds},
      {"LengthIsNotAnInteger", RawList({Marker(0x5F, {0x51, 'a'})}), "Plist: length is not an integer"},
      {"OneByteReal", RawList({Marker(0x20, {0})}), "Plist: real of unsupported size"},
      {"DateNaN", RawList({nanBits}), "Plist: date out of range"},
      {"DateInfinite", RawList({DoubleObject(0x33, std::numeric_limits<double>::infinity())}),
       "Plist: date out of range"},
      {"DateBeyond64Bits", RawList({DoubleObject(0x33, 1e300)}), "Plist: date out of range"},
      {"ArrayContainingItself", RawList({Marker(0xA1, {0})}), kTooDeep},
      {"DictionaryContainingItself", RawList({Marker(0xD1, {1, 0}), AsciiObject("k")}), kTooDeep},
      {"KeyContainingItsDictionary", RawList({Marker(0xD1, {0, 1}), AsciiObject("v")}), kTooDeep},
      {"CycleThroughTwoObjects",
       RawList({Marker(0xA1, {1}), Marker(0xD1, {2, 0}), AsciiObject("k")}), kTooDeep},
  };
  for (const ErrorCase& testCase : cases) {
    EXPECT_EQ(ErrorOf(testCase.input), testCase.expected) << testCase.name;
  }
}

TEST(PlistBufferTest, EmptyInputFails) {
  const std::uint8_t byte = 0;
  EXPECT_THROW(
      {
        try {
          ReadPlistBuffer(&byte, 0);
        } catch (const backup::Plist::Error& error) {
          EXPECT_STREQ(error.what(), "Plist: Empty plist data");
          throw;
        }
      },
      backup::Plist::Error);
  EXPECT_THROW(ReadPlistBuffer(nullptr, 16), backup::Plist::Error);
}

// Each array holds the next one twice: a small list that unfolds into 2^40
// values if shared containers were decoded without a budget.
TEST(PlistBinaryTest, SharedContainersExhaustTheBudgetQuickly) {
  constexpr int kLevels = 40;
  std::vector<Bytes> objects;
  for (int i = 0; i < kLevels; ++i) {
    const auto next = static_cast<std::uint8_t>(i + 1);
    objects.push_back(Marker(0xA2, {next, next}));
  }
  objects.push_back(Marker(0x09));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf(RawList(objects)), kTooManyValues);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// One data object of 64 KiB referenced 600 times: 37.5 MiB of copies from a
// list of 66 KiB.
TEST(PlistBinaryTest, SharedDataCopiesAreBounded) {
  Bytes array = {0xAF, 0x11, 0x02, 0x58};  // 600 items
  array.insert(array.end(), 600, 1);
  Bytes data = {0x4F, 0x12, 0x00, 0x01, 0x00, 0x00};
  data.insert(data.end(), 65536, 0xAB);
  Bytes list = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  const std::uint64_t arrayOffset = list.size();
  list.insert(list.end(), array.begin(), array.end());
  const std::uint64_t dataOffset = list.size();
  list.insert(list.end(), data.begin(), data.end());
  const std::uint64_t tableStart = list.size();
  AppendBigEndian(list, arrayOffset, 4);
  AppendBigEndian(list, dataOffset, 4);
  list.insert(list.end(), {0, 0, 0, 0, 0, 0, 4, 1});
  AppendBigEndian(list, 2, 8);
  AppendBigEndian(list, 0, 8);
  AppendBigEndian(list, tableStart, 8);
  EXPECT_EQ(ErrorOf(list), "Plist: decoded content too large");
}

TEST(PlistBinaryTest, EveryTruncationFails) {
  const Bytes whole = sample::WriteBinaryPlist(PlistNode::Dictionary({
      {"Text", PlistNode::Text("Library/SMS/sms.db")},
      {"Unicode", PlistNode::Text("\xE7\x9F\xAD\xE4\xBF\xA1")},
      {"Numbers", PlistNode::Array({PlistNode::Integer(-1), PlistNode::Integer(4294967296), PlistNode::Real(0.5)})},
      {"Flags", PlistNode::Array({PlistNode::Boolean(true), PlistNode::Boolean(false)})},
      {"Data", PlistNode::Data(Bytes(20, 0x5A))},
      {"When", PlistNode::Date(1478307200)},
      {"Root", PlistNode::Uid(1)},
  }));
  ASSERT_NO_THROW(Read(whole));
  for (std::size_t length = 1; length < whole.size(); ++length) {
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));  // exact size
    EXPECT_THROW(Read(prefix), backup::Plist::Error) << "prefix of " << length << " bytes";
  }
}

// ---------------------------------------------------------------------------
// Writer and reader together

PlistValue Expected(const PlistNode& node) {
  switch (node.kind) {
    case PlistNode::Kind::kDictionary: {
      PlistDictionary dictionary;
      for (const sample::PlistEntry& entry : node.entries) dictionary.insert_or_assign(entry.key, Expected(entry.value));
      return dictionary;
    }
    case PlistNode::Kind::kArray: {
      PlistArray array;
      for (const PlistNode& item : node.items) array.push_back(Expected(item));
      return array;
    }
    case PlistNode::Kind::kText: return node.text;
    case PlistNode::Kind::kInteger: return node.integer;
    case PlistNode::Kind::kReal: return node.real;
    case PlistNode::Kind::kBoolean: return node.boolean;
    case PlistNode::Kind::kData: return PlistData(node.data);
    case PlistNode::Kind::kDate: return backup::Plist::Date(node.dateUnixSeconds);
    case PlistNode::Kind::kUid: break;
  }
  ADD_FAILURE() << "UIDs read differently per form";
  return PlistValue();
}

// Every kind of value, each size class of the binary form (short and long
// lengths, 1- to 8-byte integers) and the XML specials.
PlistNode EveryKind() {
  PlistNode numbers = PlistNode::Array({});
  for (std::int64_t value : {std::int64_t{0}, std::int64_t{255}, std::int64_t{256}, std::int64_t{65535},
                             std::int64_t{65536}, std::int64_t{4294967295}, std::int64_t{4294967296},
                             std::numeric_limits<std::int64_t>::max(), std::int64_t{-1},
                             std::numeric_limits<std::int64_t>::min()}) {
    numbers.Append(PlistNode::Integer(value));
  }
  PlistNode twenty = PlistNode::Dictionary({});
  for (int i = 0; i < 20; ++i) twenty.Add("key" + std::to_string(i), PlistNode::Integer(i));
  Bytes hundred(100);
  for (std::size_t i = 0; i < hundred.size(); ++i) hundred[i] = static_cast<std::uint8_t>(i * 7);
  return PlistNode::Dictionary({
      {"Ascii", PlistNode::Text("Library/SMS/sms.db")},
      {"LongAscii", PlistNode::Text("Library/Application Support/com.apple.sharedfilelist")},
      {"Empty", PlistNode::Text("")},
      {"Unicode", PlistNode::Text("\xE7\x9F\xAD\xE4\xBF\xA1 \xF0\x9F\x98\x80 \xC3\xA9")},
      {"LongUnicode", PlistNode::Text("\xE5\xA4\x87\xE4\xBB\xBD\xE6\x81\xA2\xE5\xA4\x8D"
                                      "\xE5\xA4\x87\xE4\xBB\xBD\xE6\x81\xA2\xE5\xA4\x8D"
                                      "\xE5\xA4\x87\xE4\xBB\xBD\xE6\x81\xA2\xE5\xA4\x8D"
                                      "\xE5\xA4\x87\xE4\xBB\xBD\xE6\x81\xA2\xE5\xA4\x8D")},
      {"Specials & <tags>", PlistNode::Text("a & b < c > d")},
      {"Numbers", numbers},
      {"Reals", PlistNode::Array({PlistNode::Real(1.5), PlistNode::Real(0.1), PlistNode::Real(-1e300),
                                  PlistNode::Real(5e-324)})},
      {"Booleans", PlistNode::Array({PlistNode::Boolean(true), PlistNode::Boolean(false)})},
      {"Data", PlistNode::Array({PlistNode::Data({}), PlistNode::Data({1, 2, 3}), PlistNode::Data(hundred)})},
      {"Dates", PlistNode::Array({PlistNode::Date(978307200), PlistNode::Date(1478307200), PlistNode::Date(0),
                                  PlistNode::Date(-3155760000)})},
      {"Nested", PlistNode::Array({PlistNode::Dictionary({}), PlistNode::Array({}),
                                   PlistNode::Array({PlistNode::Array({PlistNode::Text("deep")})})})},
      {"Twenty", twenty},
  });
}

// Enough objects for 2-byte references and a big enough body for 4-byte
// offsets; equal strings stored once and referenced a thousand times.
PlistNode Wide() {
  PlistNode names = PlistNode::Array({});
  for (int i = 0; i < 300; ++i) names.Append(PlistNode::Text("name " + std::to_string(i)));
  PlistNode repeated = PlistNode::Array({});
  for (int i = 0; i < 1000; ++i) repeated.Append(PlistNode::Text("same"));
  return PlistNode::Dictionary({{"Names", names},
                                {"Repeated", repeated},
                                {"Blob", PlistNode::Data(Bytes(70000, 0xC3))}});
}

TEST(PlistRoundTripTest, BinaryAndXmlReadBackWhatWasWritten) {
  for (const auto& [treeName, tree] : {std::pair{"EveryKind", EveryKind()}, std::pair{"Wide", Wide()}}) {
    SCOPED_TRACE(treeName);
    const PlistValue expected = Expected(tree);
    EXPECT_EQ(Read(sample::WriteBinaryPlist(tree)), expected) << "binary";
    EXPECT_EQ(Read(sample::WriteXmlPlist(tree)), expected) << "XML";
  }
}

TEST(PlistRoundTripTest, UidsReadAsTheirFormStores) {
  const PlistNode tree = PlistNode::Dictionary({{"root", PlistNode::Uid(1)}, {"far", PlistNode::Uid(300)}});
  // Binary: the marker's low bits (size - 1) are taken as a text length.
  const Bytes binary = sample::WriteBinaryPlist(tree);
  EXPECT_EQ(Read(binary), PlistValue(PlistDictionary{{"root", std::string()}, {"far", std::string("\x01")}}));
  // XML: Apple's spelling, a dictionary with one integer.
  EXPECT_EQ(Read(sample::WriteXmlPlist(tree)),
            PlistValue(PlistDictionary{{"root", PlistDictionary{{"CF$UID", std::int64_t{1}}}},
                                       {"far", PlistDictionary{{"CF$UID", std::int64_t{300}}}}}));
}

TEST(PlistWriterTest, BinaryLayoutFollowsSizes) {
  const Bytes small = sample::WriteBinaryPlist(PlistNode::Array({PlistNode::Integer(-1)}));
  // Header, array of one, an 8-byte negative integer, 1-byte offsets and refs.
  const Bytes expected = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xA1, 0x01, 0x13, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xFF, 0x08, 0x0A, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 2,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x13};
  EXPECT_EQ(small, expected);
  const Bytes wide = sample::WriteBinaryPlist(Wide());
  ASSERT_GE(wide.size(), 32U);
  EXPECT_EQ(wide[wide.size() - 26], 4) << "offset size";
  EXPECT_EQ(wide[wide.size() - 25], 2) << "reference size";
}

// ---------------------------------------------------------------------------
// Keyed archive of the Manifest.db "file" column

struct ArchiveCase {
  const char* name;
  bool withDigestAndKey;
  std::size_t objectCount;
};

TEST(PlistWriterTest, ManifestFileBlobIsAKeyedArchive) {
  for (const ArchiveCase& testCase : {ArchiveCase{"Plain", false, 4}, ArchiveCase{"Encrypted", true, 7}}) {
    SCOPED_TRACE(testCase.name);
    sample::ManifestFileInfo info;
    info.relativePath = "Library/SMS/sms.db";
    info.size = 278528;
    info.birth = 1566918489;
    info.lastModified = 1638501497;
    info.lastStatusChange = 1638559914;
    info.inode = 45856;
    info.protectionClass = 4;
    if (testCase.withDigestAndKey) {
      info.digest = Bytes(20, 0x11);
      info.encryptionKey = Bytes(44, 0x22);
    }
    const PlistValue archive = Read(sample::MakeManifestFileBlob(info));
    ASSERT_TRUE(archive.Is<PlistDictionary>());
    EXPECT_EQ(At(archive, "$version"), PlistValue(std::int64_t{100000}));
    EXPECT_EQ(At(archive, "$archiver"), PlistValue(std::string("NSKeyedArchiver")));
    const auto& objects = At(archive, "$objects").As<PlistArray>();
    ASSERT_EQ(objects.size(), testCase.objectCount);
    EXPECT_EQ(objects[0], PlistValue(std::string("$null")));
    EXPECT_EQ(objects[2], PlistValue(info.relativePath));
    const PlistValue& file = objects[1];
    const std::vector<std::pair<const char*, std::int64_t>> integers = {
        {"Size", 278528},          {"Birth", 1566918489}, {"LastModified", 1638501497},
        {"LastStatusChange", 1638559914}, {"Mode", 33188},  {"InodeNumber", 45856},
        {"UserID", 501},           {"GroupID", 501},      {"ProtectionClass", 4},
        {"Flags", 0}};
    for (const auto& [key, value] : integers) {
      ASSERT_NE(file.Find(key), nullptr) << key;
      EXPECT_EQ(*file.Find(key), PlistValue(value)) << key;
    }
    EXPECT_EQ(file.Find("Digest") != nullptr, testCase.withDigestAndKey);
    EXPECT_EQ(file.Find("EncryptionKey") != nullptr, testCase.withDigestAndKey);
    EXPECT_EQ(At(objects.back(), "$classname"), PlistValue(std::string("MBFile")));
    if (testCase.withDigestAndKey) {
      EXPECT_EQ(objects[3], PlistValue(info.digest));
      EXPECT_EQ(At(objects[4], "NS.data"), PlistValue(info.encryptionKey));
      EXPECT_EQ(At(objects[5], "$classname"), PlistValue(std::string("NSMutableData")));
    }
  }
}

// ---------------------------------------------------------------------------
// XML form

struct XmlValueCase {
  const char* name;
  std::string body;  // what goes inside <plist>
  PlistValue expected;
};

TEST(PlistXmlTest, DecodesEachElement) {
  const std::vector<XmlValueCase> cases = {
      {"Integer", "<integer>  -42\n</integer>", std::int64_t{-42}},
      {"IntegerPlusSign", "<integer>+7</integer>", std::int64_t{7}},
      {"IntegerMostNegative", "<integer>-9223372036854775808</integer>", std::numeric_limits<std::int64_t>::min()},
      {"UnsignedIntegerWraps", "<integer>18446744073709551615</integer>", std::int64_t{-1}},
      {"Real", "<real>1.5e3</real>", 1500.0},
      {"RealPlusSign", "<real>+0.25</real>", 0.25},
      {"Entities", "<string>a &amp; b &lt; c &gt; d</string>", std::string("a & b < c > d")},
      {"Cdata", "<string>x<![CDATA[<y>]]>z</string>", std::string("x<y>z")},
      {"EmptyString", "<string/>", std::string()},
      {"Utf8Text", "<string>\xE7\x9F\xAD\xE4\xBF\xA1 \xF0\x9F\x98\x80</string>",
       std::string("\xE7\x9F\xAD\xE4\xBF\xA1 \xF0\x9F\x98\x80")},
      {"True", "<true/>", true},
      {"False", "<false/>", false},
      {"DataAcrossLines", "<data>\n\tAQID\n\tBA==\n\t</data>", PlistData{1, 2, 3, 4}},
      {"DataUnpadded", "<data>AQIDBA</data>", PlistData{1, 2, 3, 4}},
      {"EmptyData", "<data></data>", PlistData{}},
      {"Date", "<date>2016-11-05T00:53:20Z</date>", backup::Plist::Date(1478307200)},
      {"DictionaryWithComment",
       "<dict><key>b</key><!-- note --><integer>2</integer><key>a</key><array><true/></array></dict>",
       PlistDictionary{{"a", PlistArray{true}}, {"b", std::int64_t{2}}}},
      {"EmptyDictionary", "<dict/>", PlistDictionary{}},
  };
  for (const XmlValueCase& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    try {
      EXPECT_EQ(Read("<?xml version=\"1.0\"?>\n<plist version=\"1.0\">" + testCase.body + "</plist>"),
                testCase.expected);
    } catch (const backup::Plist::Error& error) {
      ADD_FAILURE() << error.what();
    }
  }
}

TEST(PlistXmlTest, FailsWithExactText) {
  const auto asBytes = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
  const std::vector<ErrorCase> cases = {
      {"UnknownElement", asBytes("<plist><set/></plist>"), "Plist: XML unknown node type set"},
      {"ValueInKeyPosition", asBytes("<plist><dict><string>a</string></dict></plist>"),
       "Plist: XML dictionary key expected but not found"},
      {"KeyWithoutValue", asBytes("<plist><dict><key>Size</key></dict></plist>"),
       "Plist: XML dictionary value expected for key Sizebut not found"},
      {"KeyAfterKey", asBytes("<plist><dict><key>Size</key><key>Mode</key><integer>1</integer></dict></plist>"),
       "Plist: XML dictionary value expected for key Sizebut found another key node"},
      {"IntegerWithLetters", asBytes("<plist><integer>12abc</integer></plist>"),
       "Plist: XML integer not readable 12abc"},
      {"IntegerTooLarge", asBytes("<plist><integer>99999999999999999999</integer></plist>"),
       "Plist: XML integer not readable 99999999999999999999"},
      {"IntegerTooNegative", asBytes("<plist><integer>-9223372036854775809</integer></plist>"),
       "Plist: XML integer not readable -9223372036854775809"},
      {"RealWithComma", asBytes("<plist><real>1,5</real></plist>"), "Plist: XML real not readable 1,5"},
      {"DataNotBase64", asBytes("<plist><data>AQ!D</data></plist>"), "Plist: XML data is not Base64"},
      {"DataAfterPadding", asBytes("<plist><data>AQ==AQ==</data></plist>"), "Plist: XML data is not Base64"},
      {"DateNotADate", asBytes("<plist><date>yesterday</date></plist>"), "Plist: XML date not readable yesterday"},
      {"DateMonth13", asBytes("<plist><date>2016-13-05T00:53:20Z</date></plist>"),
       "Plist::Date::set() date invalid"},
      {"NoValue", asBytes("<plist></plist>"), "Plist: XML plist holds no value"},
      {"DeepArrays", asBytes(Nested("<array>", "</array>", 600)), kTooDeep},
      {"DeepDictionaries", asBytes(Nested("<dict><key>k</key>", "</dict>", 600)), kTooDeep},
  };
  for (const ErrorCase& testCase : cases) {
    EXPECT_EQ(ErrorOf(testCase.input), testCase.expected) << testCase.name;
  }
}

TEST(PlistXmlTest, ParseErrorsCarryPugixmlDescription) {
  const std::string prefix = "Plist: XML parsed with error ";
  for (const std::string input : {"<plist><dict></plist>", "not a property list", "bplist0", "<plist><a"}) {
    const std::string text = ErrorOf(input);
    EXPECT_EQ(text.rfind(prefix, 0), 0U) << input << " gave " << text;
    EXPECT_GT(text.size(), prefix.size()) << input;
  }
}

// ---------------------------------------------------------------------------
// Dates

TEST(PlistDateTest, XmlDateIsUtcInEveryZone) {
  for (const char* zone : {"CST-8", "UTC0", "EST5EDT,M3.2.0,M11.1.0", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
    SCOPED_TRACE(zone);
    const ScopedTimeZone scoped(zone);
    EXPECT_EQ(Read(std::string("<plist><date>2016-11-05T00:53:20Z</date></plist>")),
              PlistValue(backup::Plist::Date(1478307200)));
    backup::Plist::Date summer(0);
    summer.Set(2016, 7, 1, 12, 0, 0);
    EXPECT_EQ(summer.UnixSeconds(), 1467374400);
  }
}

struct CalendarCase {
  int year, month, day, hour, minute, second;
  std::int64_t unixSeconds;
};

TEST(PlistDateTest, SetCountsSecondsFromCivilTime) {
  const std::vector<CalendarCase> cases = {
      {1970, 1, 1, 0, 0, 0, 0},
      {2001, 1, 1, 0, 0, 0, 978307200},
      {2016, 11, 5, 0, 53, 20, 1478307200},
      {2000, 2, 29, 12, 0, 0, 951825600},
      {1969, 12, 31, 23, 59, 59, -1},
      {1900, 3, 1, 0, 0, 0, -2203891200},
      {1600, 1, 1, 0, 0, 0, -11676096000},
      {2038, 1, 19, 3, 14, 8, 2147483648},
      {9999, 12, 31, 23, 59, 59, 253402300799},
      {2016, 12, 31, 23, 59, 60, 1483228800},  // leap second: the next minute's first
  };
  for (const CalendarCase& c : cases) {
    backup::Plist::Date date(0);
    date.Set(c.year, c.month, c.day, c.hour, c.minute, c.second);
    EXPECT_EQ(date.UnixSeconds(), c.unixSeconds) << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(PlistDateTest, SetRejectsImpossibleDates) {
  const std::vector<CalendarCase> cases = {
      {2016, 0, 1, 0, 0, 0, 0},   {2016, 13, 1, 0, 0, 0, 0},  {2016, 1, 0, 0, 0, 0, 0},
      {2015, 2, 29, 0, 0, 0, 0},  {1900, 2, 29, 0, 0, 0, 0},  {2016, 2, 30, 0, 0, 0, 0},
      {2016, 4, 31, 0, 0, 0, 0},  {2016, 1, 1, 24, 0, 0, 0},  {2016, 1, 1, -1, 0, 0, 0},
      {2016, 1, 1, 0, 60, 0, 0},  {2016, 1, 1, 0, 0, 61, 0},  {2016, 1, 1, 0, 0, -1, 0},
  };
  for (const CalendarCase& c : cases) {
    backup::Plist::Date date(7);
    try {
      date.Set(c.year, c.month, c.day, c.hour, c.minute, c.second);
      ADD_FAILURE() << "accepted " << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute
                    << ":" << c.second;
    } catch (const backup::Plist::Error& error) {
      EXPECT_STREQ(error.what(), "Plist::Date::set() date invalid");
      EXPECT_EQ(date.UnixSeconds(), 7) << "unchanged on failure";
    }
  }
}

TEST(PlistDateTest, NewDateHoldsTheCurrentTime) {
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  EXPECT_NEAR(static_cast<double>(backup::Plist::Date().UnixSeconds()), static_cast<double>(now), 5.0);
}

// ---------------------------------------------------------------------------
// Files and lookups

TEST(PlistFileTest, ReportsUnreadableFiles) {
  const TempDir dir;
  const std::string missing = (dir.Path() / "missing.plist").string();
  const std::string empty = (dir.Path() / "empty.plist").string();
  WriteFile(empty, {});
  for (const auto& [path, expected] : {std::pair{missing, "Can't open file."},
                                       std::pair{dir.Path().string(), "Can't open file."},
                                       std::pair{empty, "Can't read zero length data"}}) {
    try {
      ReadPlistFile(path);
      ADD_FAILURE() << path << " read";
    } catch (const backup::Plist::Error& error) {
      EXPECT_STREQ(error.what(), expected);
    }
  }
}

// A UTF-8 file name, and a list larger than one read chunk.
TEST(PlistFileTest, ReadsWrittenFile) {
  const TempDir dir;
  const std::filesystem::path path = dir.Path() / "\xE5\xA4\x87\xE4\xBB\xBD Info.plist";
  PlistNode tree = Wide();
  tree.Add("Product Version", PlistNode::Text("14.3"));
  WriteFile(path, sample::WriteBinaryPlist(tree));
  EXPECT_EQ(ReadPlistFile(path.string()), Expected(tree));
}

TEST(PlistValueTest, FindLooksOnlyIntoDictionaries) {
  const PlistValue dictionary = PlistDictionary{{"Size", std::int64_t{1}}};
  ASSERT_NE(dictionary.Find("Size"), nullptr);
  EXPECT_EQ(*dictionary.Find("Size"), PlistValue(std::int64_t{1}));
  EXPECT_EQ(dictionary.Find("size"), nullptr);
  EXPECT_EQ(PlistValue(PlistArray{std::string("Size")}).Find("Size"), nullptr);
  EXPECT_EQ(PlistValue(std::string("Size")).Find("Size"), nullptr);
}

// A real iOS 14.3 Info.plist (binary, one dictionary of 15 entries), read
// from a copy.
TEST(PlistRealFileTest, ReadsInfoPlistOfARealBackup) {
  const std::filesystem::path source = std::filesystem::path(VELMORA_SHARED_DIR) / "samples/mvt/Info.plist";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << source << " is absent";
  const TempDir dir;
  const std::filesystem::path copy = dir.Path() / "Info.plist";
  std::filesystem::copy_file(source, copy);
  const PlistValue info = ReadPlistFile(copy.string());
  ASSERT_TRUE(info.Is<PlistDictionary>());
  EXPECT_EQ(info.As<PlistDictionary>().size(), 15U);
  EXPECT_EQ(At(info, "Product Type"), PlistValue(std::string("iPhone9,3")));
  EXPECT_EQ(At(info, "Product Version"), PlistValue(std::string("14.3")));
  EXPECT_EQ(At(info, "Build Version"), PlistValue(std::string("18C66")));
  EXPECT_EQ(At(info, "Last Backup Date"), PlistValue(backup::Plist::Date(1638559993)));  // 2021-12-03 19:33:13
  const auto& apps = At(info, "Installed Applications").As<PlistArray>();
  ASSERT_EQ(apps.size(), 6U);
  EXPECT_EQ(apps.front(), PlistValue(std::string("ph.telegra.Telegraph")));
}

}  // namespace
