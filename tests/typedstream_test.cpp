#include "db/typedstream.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "db/text.h"
#include "testing/typedstream_writer.h"

namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<std::string_view> parts) {
  Bytes out;
  for (std::string_view part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::string Repeat(std::string_view piece, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

// Where the string's length starts: right after the first "+" type, which in
// a body from the writer is the string's own.
std::size_t StringLengthOffset(const Bytes& archive) {
  static constexpr std::uint8_t kPlusType[] = {0x84, 0x01, 0x2B};
  const auto found = std::search(archive.begin(), archive.end(), std::begin(kPlusType), std::end(kPlusType));
  return static_cast<std::size_t>(found - archive.begin()) + 3;
}

// The archive with the string's length (lengthBytes long) replaced by other bytes.
Bytes WithLength(const Bytes& archive, std::size_t lengthBytes, std::string_view replacement) {
  const std::size_t offset = StringLengthOffset(archive);
  Bytes out(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(offset));
  out.insert(out.end(), replacement.begin(), replacement.end());
  out.insert(out.end(), archive.begin() + static_cast<std::ptrdiff_t>(offset + lengthBytes), archive.end());
  return out;
}

// The first occurrence of from replaced by to (same length); from must occur.
Bytes Replaced(Bytes archive, std::string_view from, std::string_view to) {
  const Bytes pattern = ToBytes(from);
  const auto found = std::search(archive.begin(), archive.end(), pattern.begin(), pattern.end());
  EXPECT_TRUE(found != archive.end() && from.size() == to.size()) << "no " << from;
  if (found != archive.end() && from.size() == to.size()) std::copy(to.begin(), to.end(), found);
  return archive;
}

// A body as the phone writes it, typed out byte by byte rather than made by
// the writer: "Hi there" in an NSAttributedString with one message-part run.
const Bytes kPlainBody = Concat({
    "\x04\x0bstreamtyped\x81\xe8\x03"sv,
    "\x84\x01@\x84\x84\x84\x12NSAttributedString\x00\x84\x84\x08NSObject\x00\x85"sv,
    "\x92\x84\x84\x84\x08NSString\x01\x94\x84\x01+\x08Hi there\x86"sv,
    "\x84\x02iI\x01\x08"sv,
    "\x92\x84\x84\x84\x0cNSDictionary\x00\x94\x84\x01i\x01"sv,
    "\x92\x84\x96\x96\x1d__kIMMessagePartAttributeName\x86"sv,
    "\x92\x84\x84\x84\x08NSNumber\x00\x84\x84\x07NSValue\x00\x94\x84\x01*\x84\x99\x99\x00\x86\x86\x86"sv,
});

// The mutable form, "你" in an NSMutableAttributedString holding an
// NSMutableString: every reference after the first classes is one higher.
const Bytes kMutableBody = Concat({
    "\x04\x0bstreamtyped\x81\xe8\x03"sv,
    "\x84\x01@\x84\x84\x84\x19NSMutableAttributedString\x00"sv,
    "\x84\x84\x12NSAttributedString\x00\x84\x84\x08NSObject\x00\x85"sv,
    "\x92\x84\x84\x84\x0fNSMutableString\x01\x84\x84\x08NSString\x01\x95\x84\x01+\x03\xe4\xbd\xa0\x86"sv,
    "\x84\x02iI\x01\x01"sv,
    "\x92\x84\x84\x84\x0cNSDictionary\x00\x95\x84\x01i\x01"sv,
    "\x92\x84\x98\x98\x1d__kIMMessagePartAttributeName\x86"sv,
    "\x92\x84\x84\x84\x08NSNumber\x00\x84\x84\x07NSValue\x00\x95\x84\x01*\x84\x9b\x9b\x00\x86\x86\x86"sv,
});

TEST(AttributedBodyText, ReadsBodiesTypedOutByHandAndTheWriterMatchesThem) {
  struct Case {
    const char* name;
    const Bytes& archive;
    std::string text;
    bool mutableForm;
  };
  const Case cases[] = {
      {"NSAttributedString", kPlainBody, "Hi there", false},
      {"NSMutableAttributedString", kMutableBody, "你", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::AttributedBodyText(c.archive), c.text) << c.name;
    EXPECT_EQ(sample::ArchivedAttributedString(c.text, c.mutableForm), c.archive) << c.name;
  }
}

TEST(AttributedBodyText, RoundTripsThroughTheWriter) {
  struct Case {
    const char* name;
    std::string text;
    bool mutableForm;
  };
  const Case cases[] = {
      {"ASCII", "See you at 7, ok?", false},
      {"Chinese", "晚上一起吃饭吗？好的，七点见。", false},
      {"emoji", "👍🏽 done 😀🇨🇳", false},
      {"empty", "", false},
      {"127 bytes, one-byte length", std::string(127, 'a'), false},
      {"128 bytes, two-byte length", std::string(128, 'b'), false},
      {"line breaks and NULs", std::string("a\nb\0c\r\nd", 8), false},
      {"over 32767 bytes, four-byte length", Repeat("消息", 6000), false},
      {"mutable, Chinese", "你好，世界", true},
      {"mutable, two-byte length", Repeat("x", 300), true},
      {"mutable, four-byte length", std::string(40000, 'm'), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::AttributedBodyText(sample::ArchivedAttributedString(c.text, c.mutableForm)), c.text) << c.name;
  }
}

TEST(ArchivedAttributedString, WritesTheShortestLengthForms) {
  struct Case {
    const char* name;
    std::string text;
    std::string_view stringLength;  // UTF-8 bytes
    std::string_view runLength;     // UTF-16 units
  };
  const Case cases[] = {
      {"127", std::string(127, 'a'), "\x7f"sv, "\x7f"sv},
      {"128", std::string(128, 'a'), "\x81\x80\x00"sv, "\x81\x80\x00"sv},
      {"32767", std::string(32767, 'a'), "\x81\xff\x7f"sv, "\x81\xff\x7f"sv},
      {"32768", std::string(32768, 'a'), "\x82\x00\x80\x00\x00"sv, "\x82\x00\x80\x00\x00"sv},
      {"emoji: 4 bytes, 2 units", "😀", "\x04"sv, "\x02"sv},
      {"20000 Chinese: 60000 bytes, 20000 units", Repeat("中", 20000), "\x82\x60\xea\x00\x00"sv, "\x81\x20\x4e"sv},
  };
  for (const Case& c : cases) {
    const Bytes archive = sample::ArchivedAttributedString(c.text);
    const std::size_t offset = StringLengthOffset(archive);
    ASSERT_LE(offset + c.stringLength.size() + c.text.size() + 6 + c.runLength.size(), archive.size()) << c.name;
    const auto at = archive.begin() + static_cast<std::ptrdiff_t>(offset);
    EXPECT_EQ(Bytes(at, at + static_cast<std::ptrdiff_t>(c.stringLength.size())), ToBytes(c.stringLength)) << c.name;
    // After the text: the string's end, the run type "iI" and the run count 1.
    const auto run = at + static_cast<std::ptrdiff_t>(c.stringLength.size() + c.text.size());
    EXPECT_EQ(Bytes(run, run + 6), ToBytes("\x86\x84\x02iI\x01"sv)) << c.name;
    EXPECT_EQ(Bytes(run + 6, run + 6 + static_cast<std::ptrdiff_t>(c.runLength.size())), ToBytes(c.runLength))
        << c.name;
  }
}

// Archives that are no attributed string of the phone's shape but still
// hold a string written as the phone writes one.
TEST(AttributedBodyText, FindsTheStringWhenTheOuterObjectIsAnotherClass) {
  struct Case {
    const char* name;
    Bytes archive;
  };
  const Case cases[] = {
      {"a plain archived NSString",
       Concat({"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x08NSString\x01"sv,
               "\x84\x84\x08NSObject\x00\x85\x84\x01+\x02ok\x86"sv})},
      {"an NSString inside an object of another class",
       Concat({"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x08NSObject\x00\x85"sv,
               "\x92\x84\x84\x84\x0fNSMutableString\x01\x84\x84\x08NSString\x01\x93\x84\x01+\x02ok\x86"sv})},
  };
  for (const Case& c : cases) EXPECT_EQ(db::AttributedBodyText(c.archive), "ok") << c.name;
}

TEST(AttributedBodyText, RepairsInvalidUtf8InTheText) {
  EXPECT_EQ(db::AttributedBodyText(sample::ArchivedAttributedString("a\xff" "b\xe4\xbd")), "a\uFFFDb\uFFFD");
}

TEST(AttributedBodyText, RejectsDamagedAndForeignArchives) {
  const Bytes body = sample::ArchivedAttributedString("Hello, 世界");  // 13 bytes: a one-byte length
  const Bytes longBody = sample::ArchivedAttributedString(std::string(200, 'x'));  // a three-byte length
  // The body cut right after its text, so that a length of one more runs past the end.
  const Bytes bodyEndingAtText(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(StringLengthOffset(body) + 14));
  const std::string endless = Repeat("\x84\x84\x01" "A\x00"sv, 20);
  struct Case {
    const char* name;
    Bytes archive;
  };
  const Case cases[] = {
      {"empty input", {}},
      {"header only", ToBytes("\x04\x0bstreamtyped\x81\xe8\x03"sv)},
      {"streamer version 3", Replaced(body, "\x04\x0bstream"sv, "\x03\x0bstream"sv)},
      {"big-endian signature", Replaced(body, "streamtyped"sv, "typedstream"sv)},
      {"signature length past the end", ToBytes("\x04\x7fstreamtyped"sv)},
      {"no string class", Replaced(body, "\x08NSString"sv, "\x08NSStrinG"sv)},
      {"no string class, outer object of another class",
       Replaced(Replaced(body, "NSAttributedString"sv, "NSAttributedStrinG"sv), "\x08NSString"sv, "\x08NSStrinG"sv)},
      {"type other than +", Replaced(body, "\x84\x01+"sv, "\x84\x01*"sv)},
      {"length one past the end", WithLength(bodyEndingAtText, 1, "\x0e"sv)},
      {"two-byte length past the end", WithLength(longBody, 3, "\x81\xff\x7f"sv)},
      {"four-byte length past the end", WithLength(longBody, 3, "\x82\xff\xff\xff\x7f"sv)},
      {"negative one-byte length", WithLength(body, 1, "\xff"sv)},
      {"negative two-byte length", WithLength(longBody, 3, "\x81\xff\xff"sv)},
      {"negative four-byte length", WithLength(longBody, 3, "\x82\x00\x00\x00\x80"sv)},
      {"a real where the length belongs", WithLength(body, 1, "\x83"sv)},
      {"type a reference one past the strings read", Replaced(body, "\x84\x01+"sv, "\x96\x01+"sv)},
      {"class chain without end",
       Concat({"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84"sv, endless, "\x85"sv})},
      {"string object that is no new object", Replaced(body, "\x92\x84\x84\x84\x08NSString"sv,
                                                       "\x92\x85\x84\x84\x08NSString"sv)},
  };
  for (const Case& c : cases) EXPECT_EQ(db::AttributedBodyText(c.archive), "") << c.name;
}

TEST(AttributedBodyText, TruncatedBodiesGiveNothingUntilTheWholeTextIsThere) {
  const std::string texts[] = {"Hello, 世界", std::string(200, 'x')};
  for (const std::string& text : texts) {
    for (bool mutableForm : {false, true}) {
      const Bytes body = sample::ArchivedAttributedString(text, mutableForm);
      const std::size_t lengthBytes = text.size() < 128 ? 1 : 3;
      const std::size_t textEnd = StringLengthOffset(body) + lengthBytes + text.size();
      for (std::size_t cut = 0; cut < body.size(); ++cut) {
        const std::string expected = cut < textEnd ? "" : text;
        EXPECT_EQ(db::AttributedBodyText({body.data(), cut}), expected) << text.size() << " bytes, cut at " << cut;
      }
    }
  }
}

// Every byte of a real body set to a few telling values (tags, the largest
// and smallest one-byte integers): never a crash, never text longer than the
// input allows, always valid UTF-8.
TEST(AttributedBodyText, SurvivesEveryOneByteDamage) {
  const Bytes body = sample::ArchivedAttributedString("Hello, 世界");
  for (std::size_t offset = 0; offset < body.size(); ++offset) {
    for (std::uint8_t value : {0x00, 0x01, 0x7f, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x92, 0xff}) {
      Bytes damaged = body;
      damaged[offset] = value;
      const std::string text = db::AttributedBodyText(damaged);
      EXPECT_LE(text.size(), 3 * damaged.size()) << offset;
      EXPECT_EQ(db::RepairUtf8(text), text) << offset;
    }
  }
}

}  // namespace
