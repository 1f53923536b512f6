#include "rtl/datetime.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "rtl/cp932.h"
#include "rtl/exception.h"

namespace rtl {
namespace {

constexpr int64_t kSecond = 1000000;

TEST(DateTime, SerialsCountDaysFrom18991230) {
  struct Case {
    int y, m, d;
    double serial;
    int dayOfWeek;  // 1 Sunday .. 7 Saturday
  } cases[] = {
      {1899, 12, 30, 0, 7},    {1899, 12, 31, 1, 1},   {1900, 1, 1, 2, 2},
      {1900, 3, 1, 61, 5},     {1970, 1, 1, 25569, 5}, {2000, 1, 1, 36526, 7},
      {2024, 2, 29, 45351, 5}, {1, 1, 1, -693593, 2},  {9999, 12, 31, 2958465, 6},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.serial) << c.y << "-" << c.m << "-" << c.d;
    int y, m, d;
    DecodeDate(c.serial, y, m, d);
    EXPECT_EQ((std::tuple{y, m, d}), (std::tuple{c.y, c.m, c.d})) << c.serial;
    // A quarter to midnight: before day 0 the time of day is the fraction's absolute value.
    EXPECT_EQ(DayOfWeek(c.serial + (c.serial < 0 ? -0.75 : 0.75)), c.dayOfWeek) << c.serial;
  }
}

// Both ways between serials and broken-down times.
TEST(DateTime, TimeOfDayIsTheFraction) {
  struct Case {
    TDateTime dt;
    TSystemTime t;
  } cases[] = {
      {36526.5, {2000, 1, 1, 12, 0, 0, 0, 6}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0, 5}},  // before day 0 the time is the absolute fraction
      {-693593.75, {1, 1, 1, 18, 0, 0, 0, 1}},
      {EncodeDate(2024, 12, 31) + EncodeTime(23, 59, 59, 999), {2024, 12, 31, 23, 59, 59, 999, 2}},
      {EncodeDate(2024, 1, 1) + EncodeTime(0, 0, 0, 1), {2024, 1, 1, 0, 0, 0, 1, 1}},
      {45292.9999999999, {2024, 1, 2, 0, 0, 0, 0, 2}},  // rounds to the next midnight
  };
  for (const auto& c : cases) {
    TSystemTime t = DateTimeToSystemTime(c.dt);
    EXPECT_EQ((std::tuple{t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Millisecond,
                          t.DayOfWeek}),
              (std::tuple{c.t.Year, c.t.Month, c.t.Day, c.t.Hour, c.t.Minute, c.t.Second,
                          c.t.Millisecond, c.t.DayOfWeek}))
        << c.dt;
    EXPECT_NEAR(SystemTimeToDateTime(c.t), c.dt, 1e-9) << c.dt;
  }
  int h, n, s, z;
  DecodeTime(EncodeTime(13, 14, 15, 16), h, n, s, z);
  EXPECT_EQ((std::tuple{h, n, s, z}), (std::tuple{13, 14, 15, 16}));
}

TEST(DateTime, InvalidValuesThrow) {
  const std::function<void()> bad[] = {
      [] { EncodeDate(2023, 2, 29); },
      [] { EncodeDate(2024, 4, 31); },
      [] { EncodeDate(2024, 13, 1); },
      [] { EncodeDate(0, 1, 1); },
      [] { EncodeDate(10000, 1, 1); },
      [] { EncodeTime(24, 0, 0, 0); },
      [] { EncodeTime(0, 60, 0, 0); },
      [] { EncodeTime(0, 0, 60, 0); },
      [] { EncodeTime(0, 0, 0, 1000); },
      [] { EncodeTime(-1, 0, 0, 0); },
      // Values no calendar date stands for.
      [] { DateTimeToSystemTime(std::numeric_limits<double>::quiet_NaN()); },
      [] { DateTimeToSystemTime(std::numeric_limits<double>::infinity()); },
      [] { FormatDateTime("yyyy", 1e300); },
      [] { FormatDateTime("yyyy", 2958466.0); },
      [] { FormatDateTime("yyyy", -693594.0); },
  };
  for (size_t i = 0; i < std::size(bad); ++i)
    EXPECT_THROW(bad[i](), EConvertError) << "case " << i;
  EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", 2958465.999), "9999/12/31 23:58");
}

// Tuesday 2024-03-05 07:08:09.045.
const TDateTime kSample = EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 45);

TEST(FormatDateTime, PatternsOfTheSystem) {
  struct Case {
    const char* pattern;
    const char* text;
  } cases[] = {
      {"yyyy/mm/dd hh:mm:ss", "2024/03/05 07:08:09"},
      {"yyyymmdd", "20240305"},
      {"yyyy/mm/dd", "2024/03/05"},
      {"hh:nn:ss:zzz", "07:08:09:045"},
      {"yyyymmddhhnnss", "20240305070809"},
      {"yyyymmddhhnnsszzz", "20240305070809045"},
      {"mmddyyhhnn", "0305240708"},
      {"ddd, d mmm yyyy hh\":\"mm\":\"ss", "Tue, 5 Mar 2024 07:08:09"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, kSample), c.text) << c.pattern;
}

TEST(FormatDateTime, Tokens) {
  struct Case {
    const char* pattern;
    const char* text;
  } cases[] = {
      {"dddd d mmmm yy", "Tuesday 5 March 24"},
      {"m/d h:n:s z", "3/5 7:8:9 45"},
      {"hh:mm", "07:08"},    // after an hour: minutes
      {"mm:ss", "08:09"},    // before seconds: minutes
      {"mm hh", "03 07"},    // otherwise the month
      {"hh mmm", "07 Mar"},  // names are always months
      {"'hh' hh \"mm\"", "hh 07 mm"},
      {"c", "2024/03/05 07:08:09"},
      {"ddddd", "2024/03/05"},
      {"t|tt", "07:08|07:08:09"},
      {"yyyy-mm-dd x", "2024-03-05 x"},
      {"hh'unclosed", "07unclosed"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, kSample), c.text) << c.pattern;
  EXPECT_EQ(FormatDateTime("c", EncodeDate(2024, 3, 5)), "2024/03/05");
  EXPECT_EQ(FormatDateTime("dddd mmmm", EncodeDate(2023, 12, 31)), "Sunday December");
}

// Japanese text in a pattern is copied whole: its trail bytes ("N" in 年, "s" in ピ, "h" in ド)
// are not tokens.
TEST(FormatDateTime, DoubleByteLiteralsAreCopied) {
  struct Case {
    const char* pattern;
    const char* text;
  } cases[] = {
      {"yyyy年mm月dd日", "2024年03月05日"},
      {"mmピ", "03ピ"},
      {"ドhh時", "ド07時"},
      {"hh:nn 'ソ'", "07:08 ソ"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Cp932ToUtf8(FormatDateTime(Utf8ToCp932(c.pattern), kSample)), c.text) << c.pattern;
  }
}

// Saves the process-wide format settings and puts them back afterwards.
class FormatSettingsTest : public ::testing::Test {
 protected:
  void TearDown() override { FormatSettings() = saved_; }

 private:
  TFormatSettings saved_ = FormatSettings();
};

TEST_F(FormatSettingsTest, SeparatorsComeFromTheSettings) {
  TFormatSettings fs;
  fs.DateSeparator = '-';
  fs.TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:mm:ss", kSample, fs), "2024-03-05 07.08.09");
  EXPECT_EQ(FormatDateTime("ddd, d mmm yyyy hh\":\"mm\":\"ss", kSample, fs),
            "Tue, 5 Mar 2024 07:08:09");

  FormatSettings().DateSeparator = '.';
  FormatSettings().ShortDateFormat = "dd/mm/yyyy";
  FormatSettings().LongTimeFormat = "hh:nn";
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd", kSample), "2024.03.05");
  EXPECT_EQ(DateToStr(kSample), "05.03.2024");
  EXPECT_EQ(DateTimeToStr(kSample), "05.03.2024 07:08");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5)), "05.03.2024");
}

TEST_F(FormatSettingsTest, TryStrToDateFollowsTheShortFormat) {
  struct Case {
    const char* text;
    std::optional<TDateTime> date;
  } ymd[] =
      {
          {"2024/02/29", EncodeDate(2024, 2, 29)},
          {" 2024/2/3 ", EncodeDate(2024, 2, 3)},
          {"24/02/03", EncodeDate(2024, 2, 3)},
          {"99/12/31", EncodeDate(1999, 12, 31)},
          {"2023/02/29", std::nullopt},
          {"2024-02-03", std::nullopt},
          {"2024/02", std::nullopt},
          {"2024/02/03x", std::nullopt},
          {"2024/02/03 10:00", std::nullopt},
          {"99999999999/1/1", std::nullopt},
          {"", std::nullopt},
      },
    dmy[] = {
        {"29.02.2024", EncodeDate(2024, 2, 29)},
        {"2024.02.29", std::nullopt},
    };
  auto check = [](const Case& c) {
    TDateTime dt = -1;
    bool ok = TryStrToDate(c.text, dt);
    EXPECT_EQ(ok ? std::optional(dt) : std::nullopt, c.date) << c.text;
  };
  for (const auto& c : ymd)
    check(c);
  FormatSettings().ShortDateFormat = "dd/mm/yyyy";
  FormatSettings().DateSeparator = '.';
  for (const auto& c : dmy)
    check(c);
}

// Runs a test in a given time zone with a clock it sets; both are put back afterwards.
class LocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = getenv("TZ")) savedTz_ = tz;
    previous_ = SetWallClock([this] { return now_; });
  }
  void TearDown() override {
    SetWallClock(previous_);
    if (savedTz_)
      setenv("TZ", savedTz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  std::string NowAs(const char* pattern) const { return FormatDateTime(pattern, Now()); }

  int64_t now_ = 0;  // what the clock says, microseconds since the epoch

 private:
  std::optional<std::string> savedTz_;
  WallClock previous_;
};

TEST_F(LocalTimeTest, NowIsLocalTimeOfTheClock) {
  Zone("Asia/Tokyo");
  now_ = 1704121200 * kSecond + 123456;  // 2024-01-01 15:00:00.123456 UTC
  EXPECT_EQ(WallClockMicros(), now_);
  EXPECT_EQ(NowAs("yyyy/mm/dd hh:mm:ss"), "2024/01/02 00:00:00");
  EXPECT_EQ(NowAs("hh:nn:ss:zzz"), "00:00:00:123");
  EXPECT_EQ(Date(), EncodeDate(2024, 1, 2));
  EXPECT_NEAR(Time(), EncodeTime(0, 0, 0, 123), 1e-9);
  EXPECT_EQ(DateTimeToEpochMicros(Now()), 1704121200 * kSecond + 123000);

  Zone("Europe/Berlin");
  EXPECT_EQ(NowAs("yyyy/mm/dd hh:mm:ss"), "2024/01/01 16:00:00");
}

TEST_F(LocalTimeTest, DayChangesAtLocalMidnight) {
  Zone("Asia/Tokyo");
  now_ = 1704121199 * kSecond + 999000;  // 23:59:59.999 in Tokyo
  EXPECT_EQ(NowAs("yyyymmdd"), "20240101");
  EXPECT_EQ(Date(), EncodeDate(2024, 1, 1));
  now_ += 1000;
  EXPECT_EQ(NowAs("yyyymmdd"), "20240102");
  EXPECT_EQ(NowAs("yyyymmddhhnnsszzz"), "20240102000000000");
  EXPECT_EQ(Date(), EncodeDate(2024, 1, 2));
  EXPECT_EQ(Time(), 0);
}

TEST_F(LocalTimeTest, DaylightSavingChangesInBerlin) {
  Zone("Europe/Berlin");
  struct Case {
    int64_t utc;
    const char* local;
  } cases[] = {
      {1711846799, "2024/03/31 01:59:59"},  // spring forward at 01:00 UTC
      {1711846800, "2024/03/31 03:00:00"},
      {1729989000, "2024/10/27 02:30:00"},  // fall back: 02:30 comes twice
      {1729992600, "2024/10/27 02:30:00"},
      {1729994400, "2024/10/27 03:00:00"},
  };
  for (const auto& c : cases) {
    now_ = c.utc * kSecond;
    EXPECT_EQ(NowAs("yyyy/mm/dd hh:mm:ss"), c.local) << c.utc;
  }
  // Hours of the spring day: midnight to 04:00 is three hours; a time in the gap moves on.
  auto local = [](int d, int h, int n) { return EpochOfLocal({2024, 3, d, h, n, 0, 0, 0}); };
  EXPECT_EQ(local(31, 4, 0) - local(31, 0, 0), 3 * 3600 * kSecond);
  EXPECT_EQ(local(31, 2, 30), (1711846800 + 1800) * kSecond);
  EXPECT_EQ(local(30, 12, 0), 1711796400 * kSecond);
}

TEST_F(LocalTimeTest, EpochRoundTrips) {
  for (const char* tz : {"Asia/Tokyo", "Europe/Berlin", "UTC"}) {
    Zone(tz);
    for (int64_t t : {int64_t{0}, int64_t{951782400123} * 1000, int64_t{1711846800} * kSecond,
                      int64_t{-86400} * kSecond + 5000}) {
      EXPECT_EQ(DateTimeToEpochMicros(EpochMicrosToDateTime(t)), t) << tz << " " << t;
      TSystemTime lt = LocalTimeOf(t);
      EXPECT_EQ(EpochOfLocal(lt), t) << tz << " " << t;
    }
  }
  Zone("UTC");
  EXPECT_EQ(EpochMicrosToDateTime(0), 25569);
  TSystemTime t = LocalTimeOf(-1);  // the last microsecond before the epoch
  EXPECT_EQ((std::tuple{t.Year, t.Hour, t.Minute, t.Second, t.Millisecond}),
            (std::tuple{1969, 23, 59, 59, 999}));
}

TEST_F(LocalTimeTest, EmptyClockRestoresTheSystemClock) {
  SetWallClock({});
  // The system clock read on both sides of the call: its reading lies between.
  const auto system = [] {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kSecond + ts.tv_nsec / 1000;
  };
  const int64_t before = system();
  const int64_t read = WallClockMicros();
  const int64_t after = system();
  EXPECT_LE(before, read);
  EXPECT_LE(read, after);
  WallClock mine = [] { return int64_t{42}; };
  SetWallClock(mine);
  EXPECT_EQ(WallClockMicros(), 42);
  EXPECT_EQ(SetWallClock({})(), 42);  // hands back the clock it replaces
}

}  // namespace
}  // namespace rtl
