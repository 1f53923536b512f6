#include "rtl/datetime.h"

#include <sys/time.h>
#include <time.h>

#include <cctype>
#include <cmath>
#include <mutex>

#include "rtl/cp932.h"
#include "rtl/exception.h"

namespace rtl {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;

const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

// Days since 1970-01-01 of a proleptic Gregorian date (Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

// Whole days of 0001-01-01 and 9999-12-31, the first and last dates a TDateTime stands for.
constexpr int64_t kMinDays = -693593;
constexpr int64_t kMaxDays = 2958465;

[[noreturn]] void InvalidDateTime() {
  throw EConvertError("Invalid date/time value");
}

// Splits dt into whole days since 1899-12-30 and milliseconds of the day. The date part is
// truncated toward zero and the time part is the absolute fraction, as the system counts them.
// A value outside 0001-01-01 .. 9999-12-31 (or not a number) throws EConvertError.
void SplitDateTime(TDateTime dt, int64_t& days, int64_t& msOfDay) {
  if (!(dt > kMinDays - 1 && dt < kMaxDays + 1)) InvalidDateTime();
  days = static_cast<int64_t>(std::trunc(dt));
  msOfDay = std::llround(std::fabs(dt - static_cast<double>(days)) * kMsPerDay);
  if (msOfDay >= kMsPerDay) {  // rounded up to the next midnight
    days += dt < 0 ? -1 : 1;
    msOfDay -= kMsPerDay;
  }
  if (days < kMinDays || days > kMaxDays) InvalidDateTime();
}

int64_t SystemWallClock() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::mutex& ClockLock() {
  static std::mutex m;
  return m;
}

WallClock& ClockSlot() {
  static WallClock c;
  return c;
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
  return s;
}

int CountRun(std::string_view p, size_t i) {
  char c = static_cast<char>(std::toupper(static_cast<unsigned char>(p[i])));
  int n = 0;
  while (i + n < p.size() && std::toupper(static_cast<unsigned char>(p[i + n])) == c)
    ++n;
  return n;
}

// A pattern's double-byte characters are literal text (CharLength): their trail bytes may look
// like letters ("年" is 0x94 0x4E, an "N").

// True when the next letter token after position i (quoted literals and other characters
// skipped) is a seconds token.
bool NextTokenIsSeconds(std::string_view p, size_t i) {
  while (i < p.size()) {
    char c = p[i];
    if (IsLeadByte(static_cast<unsigned char>(c))) {
      i += CharLength(p, i);
      continue;
    }
    if (c == '"' || c == '\'') {
      size_t e = p.find(c, i + 1);
      if (e == std::string_view::npos) return false;
      i = e + 1;
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c))) return c == 's' || c == 'S';
    ++i;
  }
  return false;
}

void Format(std::string& out, std::string_view p, TDateTime dt, const TFormatSettings& fs,
            int depth) {
  if (depth > 2) return;  // nested short/long formats cannot recurse forever
  TSystemTime t = DateTimeToSystemTime(dt);
  char last = 0;
  size_t i = 0;
  while (i < p.size()) {
    char c = p[i];
    if (IsLeadByte(static_cast<unsigned char>(c))) {
      size_t len = CharLength(p, i);
      out.append(p.substr(i, len));
      i += len;
      continue;
    }
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int n;
    switch (u) {
      case 'Y':
        n = CountRun(p, i);
        out += n <= 2 ? Pad(t.Year % 100, 2) : Pad(t.Year, 4);
        i += n;
        last = u;
        break;
      case 'M': {
        n = CountRun(p, i);
        bool minutes = n <= 2 && (last == 'H' || NextTokenIsSeconds(p, i + n));
        if (minutes)
          out += Pad(t.Minute, n == 1 ? 1 : 2);
        else if (n <= 2)
          out += Pad(t.Month, n);
        else
          out += (n == 3 ? kShortMonths : kLongMonths)[t.Month - 1];
        i += n;
        last = minutes ? 'N' : u;
        break;
      }
      case 'D':
        n = CountRun(p, i);
        if (n <= 2)
          out += Pad(t.Day, n);
        else if (n == 3)
          out += kShortDays[t.DayOfWeek];
        else if (n == 4)
          out += kLongDays[t.DayOfWeek];
        else
          Format(out, n == 5 ? fs.ShortDateFormat : fs.LongDateFormat, dt, fs, depth + 1);
        i += n;
        last = u;
        break;
      case 'H':
        n = CountRun(p, i);
        out += Pad(t.Hour, n == 1 ? 1 : 2);
        i += n;
        last = u;
        break;
      case 'N':
        n = CountRun(p, i);
        out += Pad(t.Minute, n == 1 ? 1 : 2);
        i += n;
        last = u;
        break;
      case 'S':
        n = CountRun(p, i);
        out += Pad(t.Second, n == 1 ? 1 : 2);
        i += n;
        last = u;
        break;
      case 'Z':
        n = CountRun(p, i);
        out += Pad(t.Millisecond, n <= 2 ? 1 : 3);
        i += n;
        last = u;
        break;
      case 'T':
        n = CountRun(p, i);
        Format(out, n == 1 ? std::string_view("hh:nn") : std::string_view(fs.LongTimeFormat), dt,
               fs, depth + 1);
        i += n;
        last = u;
        break;
      case 'C':
        Format(out, fs.ShortDateFormat, dt, fs, depth + 1);
        if (t.Hour || t.Minute || t.Second || t.Millisecond) {
          out += ' ';
          Format(out, fs.LongTimeFormat, dt, fs, depth + 1);
        }
        ++i;
        last = u;
        break;
      case '/':
        out += fs.DateSeparator;
        ++i;
        break;
      case ':':
        out += fs.TimeSeparator;
        ++i;
        break;
      case '"':
      case '\'': {
        size_t e = p.find(c, i + 1);
        if (e == std::string_view::npos) e = p.size();
        out.append(p.substr(i + 1, e - i - 1));
        i = e + 1;
        break;
      }
      default:
        out += c;
        ++i;
        break;
    }
  }
}

}  // namespace

WallClock SetWallClock(WallClock clock) {
  std::lock_guard<std::mutex> l(ClockLock());
  WallClock old = std::move(ClockSlot());
  ClockSlot() = std::move(clock);
  return old;
}

int64_t WallClockMicros() {
  {
    std::lock_guard<std::mutex> l(ClockLock());
    if (ClockSlot()) return ClockSlot()();
  }
  return SystemWallClock();
}

TSystemTime LocalTimeOf(int64_t epochMicros) {
  int64_t secs = epochMicros >= 0 ? epochMicros / 1000000 : -((-epochMicros + 999999) / 1000000);
  int64_t micros = epochMicros - secs * 1000000;
  time_t tt = static_cast<time_t>(secs);
  struct tm tm = {};
  if (!localtime_r(&tt, &tm)) InvalidDateTime();
  return TSystemTime{tm.tm_year + 1900,
                     tm.tm_mon + 1,
                     tm.tm_mday,
                     tm.tm_hour,
                     tm.tm_min,
                     tm.tm_sec,
                     static_cast<int>(micros / 1000),
                     tm.tm_wday};
}

int64_t EpochOfLocal(const TSystemTime& t) {
  struct tm tm = {};
  tm.tm_year = t.Year - 1900;
  tm.tm_mon = t.Month - 1;
  tm.tm_mday = t.Day;
  tm.tm_hour = t.Hour;
  tm.tm_min = t.Minute;
  tm.tm_sec = t.Second;
  tm.tm_isdst = -1;
  time_t tt = mktime(&tm);
  return static_cast<int64_t>(tt) * 1000000 + static_cast<int64_t>(t.Millisecond) * 1000;
}

TDateTime EpochMicrosToDateTime(int64_t epochMicros) {
  return SystemTimeToDateTime(LocalTimeOf(epochMicros));
}

int64_t DateTimeToEpochMicros(TDateTime dt) {
  return EpochOfLocal(DateTimeToSystemTime(dt));
}

TDateTime Now() {
  return EpochMicrosToDateTime(WallClockMicros());
}
TDateTime Date() {
  return std::trunc(Now());
}
TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDays);
}

TDateTime EncodeTime(int hour, int minute, int second, int ms) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 ||
      ms > 999)
    throw EConvertError("Invalid argument to time encode");
  return (((hour * 60 + minute) * 60 + second) * 1000 + ms) / static_cast<double>(kMsPerDay);
}

TDateTime SystemTimeToDateTime(const TSystemTime& t) {
  TDateTime date = EncodeDate(t.Year, t.Month, t.Day);
  TDateTime time = EncodeTime(t.Hour, t.Minute, t.Second, t.Millisecond);
  // Before day 0 the time of day is the fraction's absolute value: 1899-12-29 06:00 is -1.25.
  return date < 0 ? date - time : date + time;
}

TSystemTime DateTimeToSystemTime(TDateTime dt) {
  int64_t days, ms;
  SplitDateTime(dt, days, ms);
  TSystemTime t;
  CivilFromDays(days - kUnixEpochDays, t.Year, t.Month, t.Day);
  t.Hour = static_cast<int>(ms / 3600000);
  t.Minute = static_cast<int>(ms / 60000 % 60);
  t.Second = static_cast<int>(ms / 1000 % 60);
  t.Millisecond = static_cast<int>(ms % 1000);
  // 1899-12-30 was a Saturday.
  t.DayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7);
  return t;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  TSystemTime t = DateTimeToSystemTime(dt);
  year = t.Year;
  month = t.Month;
  day = t.Day;
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& ms) {
  TSystemTime t = DateTimeToSystemTime(dt);
  hour = t.Hour;
  minute = t.Minute;
  second = t.Second;
  ms = t.Millisecond;
}

int DayOfWeek(TDateTime dt) {
  return DateTimeToSystemTime(dt).DayOfWeek + 1;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings fs;
  return fs;
}

std::string FormatDateTime(std::string_view pattern, TDateTime dt, const TFormatSettings& fs) {
  std::string out;
  Format(out, pattern, dt, fs, 0);
  return out;
}

std::string FormatDateTime(std::string_view pattern, TDateTime dt) {
  return FormatDateTime(pattern, dt, FormatSettings());
}

std::string DateToStr(TDateTime dt) {
  return FormatDateTime("ddddd", dt);
}

std::string DateTimeToStr(TDateTime dt) {
  return FormatDateTime("c", dt);
}

bool TryStrToDate(std::string_view text, TDateTime& dt) {
  const TFormatSettings& fs = FormatSettings();
  // Order of the parts from the short date format's first letters.
  std::string order;
  for (char c : fs.ShortDateFormat) {
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if ((u == 'Y' || u == 'M' || u == 'D') && order.find(u) == std::string::npos) order += u;
  }
  if (order.size() != 3) order = "YMD";
  int parts[3];
  int n = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  while (n < 3) {
    size_t start = i;
    int64_t v = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && i - start < 9)
      v = v * 10 + (text[i++] - '0');
    if (i == start) return false;
    parts[n++] = static_cast<int>(v);
    if (n < 3) {
      if (i >= text.size() || text[i] != fs.DateSeparator) return false;
      ++i;
    }
  }
  while (i < text.size() && text[i] == ' ')
    ++i;
  if (i != text.size()) return false;
  int y = 0, m = 0, d = 0;
  for (int k = 0; k < 3; ++k)
    (order[k] == 'Y' ? y : order[k] == 'M' ? m : d) = parts[k];
  if (y < 100) y += y < 50 ? 2000 : 1900;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  dt = EncodeDate(y, m, d);
  return true;
}

}  // namespace rtl
