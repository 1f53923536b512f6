// Date and time as the system counts them: TDateTime is days since 1899-12-30 00:00 local time
// with the time of day as the fraction. Local time honours TZ (localtime_r). "Now" comes from an
// injectable clock so tests can move the day. The format settings are process-wide and set once
// at start-up (before other threads run); reading them is safe from any thread after that.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rtl {

using TDateTime = double;

struct TSystemTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
  int DayOfWeek;  // 0 Sunday .. 6 Saturday
};

// The clock behind Now(): wall-clock time as microseconds since the Unix epoch (UTC).
using WallClock = std::function<int64_t()>;
// Replaces the clock (an empty function restores the system clock). Returns the previous one.
// REQUIRES: not called while another thread reads the clock.
WallClock SetWallClock(WallClock clock);
// The current wall-clock time from the clock in use, microseconds since the epoch.
int64_t WallClockMicros();

// Local broken-down time of an epoch time (microseconds), by localtime_r. A time the system cannot
// break down throws EConvertError.
TSystemTime LocalTimeOf(int64_t epochMicros);
// Epoch microseconds of a local time (mktime rules: a time in a daylight-saving gap is moved on).
int64_t EpochOfLocal(const TSystemTime& t);

TDateTime Now();
TDateTime Date();  // today, midnight
TDateTime Time();  // time of day only

// REQUIRES for Encode*: valid ranges (else EConvertError).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int ms);
TDateTime SystemTimeToDateTime(const TSystemTime& t);
// REQUIRES for the calls that break dt down (DateTimeToSystemTime, Decode*, DayOfWeek,
// DateTimeToEpochMicros, the formatters): dt lies within 0001-01-01 .. 9999-12-31 (else, and for
// a value that is not a number, EConvertError).
TSystemTime DateTimeToSystemTime(TDateTime dt);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& ms);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// 1 Sunday .. 7 Saturday.
int DayOfWeek(TDateTime dt);

// Local date-time <-> epoch microseconds.
TDateTime EpochMicrosToDateTime(int64_t epochMicros);
int64_t DateTimeToEpochMicros(TDateTime dt);

struct TFormatSettings {
  std::string ShortDateFormat = "yyyy/mm/dd";
  std::string LongDateFormat = "yyyy/mm/dd";
  std::string LongTimeFormat = "hh:nn:ss";
  char DateSeparator = '/';
  char TimeSeparator = ':';
};

// The process-wide settings (the collector and the console set them at creation).
TFormatSettings& FormatSettings();

// Formats dt by pattern. Tokens: y/yy (two-digit year), yyy/yyyy (four), m/mm (month, or minutes
// right after an hour token or right before a seconds token), mmm/mmmm (English month names),
// d/dd, ddd/dddd (English day names), ddddd (short date), dddddd (long date), h/hh, n/nn, s/ss,
// z/zzz, t (short time), tt (long time), c (short date and long time), "/" the date separator,
// ":" the time separator, "..." and '...' literals. Any other character is copied, a double-byte
// CP932 character whole (its trail byte is never read as a token).
std::string FormatDateTime(std::string_view pattern, TDateTime dt);
std::string FormatDateTime(std::string_view pattern, TDateTime dt, const TFormatSettings& fs);

// ShortDateFormat.
std::string DateToStr(TDateTime dt);
// ShortDateFormat + " " + LongTimeFormat (the time omitted at midnight).
std::string DateTimeToStr(TDateTime dt);

// Parses a date in ShortDateFormat order (year, month, day with the date separator); true on
// success.
bool TryStrToDate(std::string_view text, TDateTime& dt);

}  // namespace rtl
