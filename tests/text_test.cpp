#include "db/text.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace {

TEST(CsvQuoteField, FramesEscapesQuotesAndReplacesCommas) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      // a , " b: nine characters, U+001F " a U+FF0C " " b U+001F "
      {"comma and quote", "a,\"b", "\x1f\"a\xEF\xBC\x8C\"\"b\x1f\""},
      {"empty", "", "\x1f\"\x1f\""},
      {"plain Chinese", "你好", "\x1f\"你好\x1f\""},
      {"only commas", ",,", "\x1f\"\xEF\xBC\x8C\xEF\xBC\x8C\x1f\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::CsvQuoteField(c.input), c.expected) << c.name;
  }
  EXPECT_EQ(db::Utf8ToWide(db::CsvQuoteField("a,\"b")).size(), 9u);
}

TEST(Utf16Text, ConvertsBothWaysAndRepairsDamage) {
  EXPECT_EQ(db::Utf8ToWide(static_cast<const char*>(nullptr)), u"");
  EXPECT_EQ(db::Utf8ToWide("a中😀"), u"a中\U0001F600");
  EXPECT_EQ(db::WideToUtf8(u"a中\U0001F600"), "a中😀");
  // A byte that is no UTF-8 and an unpaired surrogate each become U+FFFD.
  EXPECT_EQ(db::Utf8ToWide("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(db::WideToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(db::Utf8ToAnsi(nullptr), "");
  EXPECT_EQ(db::AnsiToUtf8("表格格式"), "表格格式");
}

TEST(LeftUtf16, CountsUtf16UnitsAndNeverSplitsAPair) {
  struct Case {
    std::size_t count;
    std::string expected;
  };
  const std::string text = "a😀b中";
  const Case cases[] = {{0, ""}, {1, "a"}, {2, "a"}, {3, "a😀"}, {4, "a😀b"}, {5, "a😀b中"}, {99, "a😀b中"}};
  for (const Case& c : cases) EXPECT_EQ(db::LeftUtf16(text, c.count), c.expected) << c.count;
}

TEST(Gb18030, MatchesGbkAndKeepsWhatGbkCannotHold) {
  EXPECT_EQ(platform::Utf8ToGb18030("中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(platform::Utf8ToGb18030("a,1"), "a,1");
  // Outside GBK: four-byte sequences, and back without loss.
  EXPECT_EQ(platform::Utf8ToGb18030("😀"), "\x94\x39\xFC\x36");
  EXPECT_EQ(platform::Gb18030ToUtf8(platform::Utf8ToGb18030("中文😀€")), "中文😀€");
  // A damaged sequence costs one character, not the rest of the line.
  EXPECT_EQ(platform::Utf8ToGb18030("a\xFF中"), "a?\xD6\xD0");
}

}  // namespace
