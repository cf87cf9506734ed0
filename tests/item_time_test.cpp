// Runs with TZ=CST-8 (set by CTest), so local time is UTC+8.
#include "db/item_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(NormalizeAppleTime, TellsUnixSecondsFromAppleSecondsAndNanoseconds) {
  struct Case {
    const char* name;
    std::int64_t value;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"apple epoch", 0, 978307200},
      {"apple seconds", 500000000, 1478307200},
      {"apple nanoseconds", 500000000000000000, 1478307200},
      {"unix seconds kept", 1480000000, 1480000000},
      {"before 2001", -100, 978307100},
      // Phones store dates of 2024 and later as values that read as Unix
      // seconds of 1993-2000: they are Apple seconds.
      {"apple seconds of 2024", 733536000, 733536000 + 978307200},
      {"apple seconds of 2026", 820000000, 820000000 + 978307200},
      // 2001-01-01 00:00 in UTC+8 is 2000-12-31 16:00 UTC: the local year decides.
      {"first local second of 2001", 978278400, 978278400},
      {"last local second of 2000", 978278399, 978278399 + 978307200},
      {"end of the year 3000", 32535215999, 32535215999},
      {"past the year 3000, nanoseconds", 32535216000, 32 + 978307200},
  };
  for (const Case& c : cases) EXPECT_EQ(db::NormalizeAppleTime(c.value), c.expected) << c.name;
}

TEST(NormalizeAppleTime, FloatingFormDividesWithoutTruncating) {
  EXPECT_DOUBLE_EQ(db::NormalizeAppleTime(500000000.5), 1478307200.5);
  EXPECT_DOUBLE_EQ(db::NormalizeAppleTime(500000000500000000.0), 1478307200.5);
  EXPECT_DOUBLE_EQ(db::NormalizeAppleTime(1480000000.25), 1480000000.25);
  EXPECT_TRUE(std::isnan(db::NormalizeAppleTime(std::numeric_limits<double>::quiet_NaN())));
}

TEST(FormatItemTime, LocalTimeWithATrailingBlankForEitherForm) {
  EXPECT_EQ(db::FormatItemTime(1478307200), "2016-11-05 08:53:20 ");
  EXPECT_EQ(db::FormatItemTime(500000000), "2016-11-05 08:53:20 ");
  EXPECT_EQ(db::FormatItemTime(500000000000000000.0), "2016-11-05 08:53:20 ");
  EXPECT_EQ(db::FormatItemTime(0), "2001-01-01 08:00:00 ");
}

TEST(FormatItemTime, EmptyWhenTheTimeCannotBeConverted) {
  EXPECT_EQ(db::FormatItemTime(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(db::FormatItemTime(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(db::FormatItemTime(1e300), "");
  // Far before 1970 even after adding the 2001 offset.
  EXPECT_EQ(db::FormatItemTime(-2e9), "");
}

}  // namespace
