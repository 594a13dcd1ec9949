// FILETIME, SYSTEMTIME and local time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/base/Errors.h"
#include "platform/base/FileTime.h"

namespace {

struct ZoneGuard {
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    saved = old != nullptr ? old : "";
    had = old != nullptr;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had) {
      setenv("TZ", saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string saved;
  bool had;
};

SYSTEMTIME Make(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0) {
  SYSTEMTIME t{};
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  t.wMilliseconds = ms;
  return t;
}

TEST(FileTime, CalendarRoundTripsAndKnownValues) {
  const struct {
    SYSTEMTIME time;
    uint64_t ticks;
    WORD day_of_week;
  } cases[] = {
      {Make(1601, 1, 1, 0, 0, 0), 0, 1},
      {Make(1970, 1, 1, 0, 0, 0), 116444736000000000ull, 4},
      {Make(2000, 2, 29, 12, 30, 15, 250), 125963010152500000ull, 2},
      {Make(2020, 1, 2, 3, 4, 5), 132224078450000000ull, 4},
  };
  for (const auto& c : cases) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&c.time, &ft));
    EXPECT_EQ(tessaline::FileTimeTicks(ft), c.ticks);
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, c.time.wYear);
    EXPECT_EQ(back.wMonth, c.time.wMonth);
    EXPECT_EQ(back.wDay, c.time.wDay);
    EXPECT_EQ(back.wHour, c.time.wHour);
    EXPECT_EQ(back.wSecond, c.time.wSecond);
    EXPECT_EQ(back.wMilliseconds, c.time.wMilliseconds);
    EXPECT_EQ(back.wDayOfWeek, c.day_of_week);
  }
  for (const SYSTEMTIME& bad : {Make(2021, 2, 29, 0, 0, 0), Make(1600, 12, 31, 0, 0, 0), Make(2020, 13, 1, 0, 0, 0),
                                Make(2020, 1, 1, 24, 0, 0), Make(2020, 1, 1, 0, 0, 0, 1000)}) {
    FILETIME ft;
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FILETIME huge{0xFFFFFFFF, 0xFFFFFFFF};
  SYSTEMTIME out;
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &out));
}

TEST(FileTime, CompareFileTimeOrders) {
  const FILETIME a{5, 1};
  const FILETIME b{4, 2};
  EXPECT_EQ(CompareFileTime(&a, &b), -1);
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
  EXPECT_EQ(CompareFileTime(&a, &a), 0);
}

TEST(FileTime, LocalTimeUsesTheZone) {
  ZoneGuard zone("CST-8");  // UTC+8, no daylight saving
  const SYSTEMTIME utc = Make(2020, 1, 2, 3, 4, 5);
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &ft));
  FILETIME local;
  ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
  SYSTEMTIME shown;
  ASSERT_TRUE(FileTimeToSystemTime(&local, &shown));
  EXPECT_EQ(shown.wDay, 2);
  EXPECT_EQ(shown.wHour, 11);
  EXPECT_EQ(shown.wMinute, 4);
  FILETIME back;
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
  EXPECT_EQ(CompareFileTime(&back, &ft), 0);

  SYSTEMTIME universal;
  const SYSTEMTIME wall = Make(2020, 1, 1, 5, 0, 0);
  ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &wall, &universal));
  EXPECT_EQ(universal.wYear, 2019);
  EXPECT_EQ(universal.wDay, 31);
  EXPECT_EQ(universal.wHour, 21);
}

TEST(FileTime, DaylightSavingFollowsTheDateForZoneConversions) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  SYSTEMTIME universal;
  const SYSTEMTIME summer = Make(2021, 7, 1, 12, 0, 0);
  ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &summer, &universal));
  EXPECT_EQ(universal.wHour, 10);
  const SYSTEMTIME winter = Make(2021, 1, 1, 12, 0, 0);
  ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &winter, &universal));
  EXPECT_EQ(universal.wHour, 11);
  SYSTEMTIME local;
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local));
  EXPECT_EQ(local.wHour, 12);
}

}  // namespace
