// Runs with TZ=CST-8 (set by CTest), so local time is UTC+8.
#include "db/item_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

TEST(UnixFromAppleSeconds, CountsFrom2001AndKeepsTheFraction) {
  struct Case {
    const char* name;
    double stored;
    double expected;
  };
  const Case cases[] = {
      {"seconds of 2016", 500000000, 1478307200},
      {"with a fraction", 500000000.5, 1478307200.5},
      // Dates of 2024 on are counts that would pass for Unix seconds of
      // 1993 and later: they are still seconds since 2001.
      {"seconds of 2026", 820000000, 820000000.0 + 978307200},
      {"past 2032, beyond the Unix seconds of 2001", 1000000000, 1978307200},
      {"before 2001", -100, 978307100},
      {"the empty date is no time", 0, 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(db::UnixFromAppleSeconds(c.stored), c.expected) << c.name;
  EXPECT_TRUE(std::isnan(db::UnixFromAppleSeconds(std::numeric_limits<double>::quiet_NaN())));
}

TEST(UnixFromAppleDate, TellsNanosecondsFromSecondsBySize) {
  struct Case {
    const char* name;
    std::int64_t stored;
    double expected;
  };
  const Case cases[] = {
      {"seconds", 500000000, 1478307200},
      {"nanoseconds", 500000000500000000, 1478307200.5},
      {"largest count of seconds", 4294967295, 4294967295.0 + 978307200},
      {"smallest count of nanoseconds", 4294967296, 4.294967296 + 978307200},
      {"the empty date is no time", 0, 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(db::UnixFromAppleDate(c.stored), c.expected) << c.name;
}

TEST(FormatItemTime, LocalTimeOfUnixSecondsWithATrailingBlank) {
  EXPECT_EQ(db::FormatItemTime(1478307200), "2016-11-05 08:53:20 ");
  EXPECT_EQ(db::FormatItemTime(1478307200.99), "2016-11-05 08:53:20 ");
  // No unit is guessed: a count that would be a 2016 date from 2001 is a
  // date of 1985 here.
  EXPECT_EQ(db::FormatItemTime(500000000), "1985-11-05 08:53:20 ");
  EXPECT_EQ(db::FormatItemTime(1), "1970-01-01 08:00:01 ");
  // No time reads as the phone's empty date.
  EXPECT_EQ(db::FormatItemTime(0), "2001-01-01 08:00:00 ");
  EXPECT_EQ(db::FormatItemTime(0), db::FormatItemTime(static_cast<double>(db::kAppleEpochOffsetSeconds)));
}

TEST(FormatItemTime, EmptyWhenTheTimeCannotBeConverted) {
  EXPECT_EQ(db::FormatItemTime(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(db::FormatItemTime(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(db::FormatItemTime(1e300), "");
  EXPECT_EQ(db::FormatItemTime(-1), "");
  EXPECT_EQ(db::FormatItemTime(32535216000.0), "");  // past the year 3000
  EXPECT_EQ(db::FormatItemTime(32535215999.0), "3001-01-01 07:59:59 ");
}

}  // namespace
