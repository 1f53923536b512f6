#include "net/ftp/ftptime.h"

#include "rtl/exception.h"
#include "rtl/fs.h"

namespace {

// Days from 1899-12-30 (day 0 of a date-time) to the Unix epoch.
constexpr int64_t kUnixEpochDays = 25569;
constexpr int64_t kSecondsPerDay = 86400;

// Seconds since the epoch of a broken-down time read as UTC, by pure arithmetic.
int64_t EpochOfUtc(const rtl::TSystemTime& t) {
  const auto days = static_cast<int64_t>(rtl::EncodeDate(t.Year, t.Month, t.Day)) - kUnixEpochDays;
  return days * kSecondsPerDay + t.Hour * 3600 + t.Minute * 60 + t.Second;
}

rtl::TDateTime DateTimeOfEpochUtc(int64_t seconds) {
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  return static_cast<rtl::TDateTime>(days + kUnixEpochDays) +
         static_cast<rtl::TDateTime>(rest) / kSecondsPerDay;
}

// A fixed-width part of the wire text as a number; anything but digits reads as 0.
int Part(std::string_view text, size_t from, size_t len) {
  int v = 0;
  for (size_t i = from; i < from + len; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

bool IsPlainFile(const std::string& path) {
  rtl::fs::TFileInfo info;
  return rtl::fs::LStat(path, info) == 0 && info.Kind == rtl::fs::TFileKind::Regular;
}

// Sets the time of a plain file that may be written; the open proves both.
bool SetFileTimeSeconds(const std::string& path, int64_t seconds) {
  rtl::fs::TFile f;
  if (f.Open(path, rtl::fs::TOpenMode::Write) != 0) return false;
  f.Close();
  return rtl::fs::SetModificationTime(path, seconds) == 0;
}

}  // namespace

std::string PadNumber(uint16_t value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

std::string DateTimeToMdtm(rtl::TDateTime dt) {
  const rtl::TSystemTime t = rtl::DateTimeToSystemTime(dt);
  return PadNumber(static_cast<uint16_t>(t.Year), 4) +
         PadNumber(static_cast<uint16_t>(t.Month), 2) + PadNumber(static_cast<uint16_t>(t.Day), 2) +
         PadNumber(static_cast<uint16_t>(t.Hour), 2) +
         PadNumber(static_cast<uint16_t>(t.Minute), 2) +
         PadNumber(static_cast<uint16_t>(t.Second), 2) + "." +
         PadNumber(static_cast<uint16_t>(t.Millisecond), 3);
}

int32_t LocalBiasMinutes() {
  const int64_t now = rtl::WallClockMicros() / 1000000;
  const rtl::TSystemTime local = rtl::LocalTimeOf(now * 1000000);
  // The local clock reading taken as UTC is ahead of the instant by the zone's offset.
  const int64_t offsetSeconds = EpochOfUtc(local) - now;
  return static_cast<int32_t>(-offsetSeconds / 60);
}

rtl::TDateTime LocalToUtc(rtl::TDateTime local) {
  const rtl::TSystemTime t = rtl::DateTimeToSystemTime(local);
  const int64_t micros = rtl::EpochOfLocal(t);
  const int64_t seconds = micros >= 0 ? micros / 1000000 : -((-micros + 999999) / 1000000);
  return DateTimeOfEpochUtc(seconds) +
         static_cast<rtl::TDateTime>(t.Millisecond) / (kSecondsPerDay * 1000);
}

int64_t FileAgeOfPath(const std::string& path) {
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) return -1;
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(path, info) != 0 || info.Kind != rtl::fs::TFileKind::Regular) return -1;
  return info.MTime;
}

std::string FileUtcTimeText(const std::string& path) {
  const int64_t age = FileAgeOfPath(path);
  if (age < 0) return std::string();
  try {
    return DateTimeToMdtm(DateTimeOfEpochUtc(age));
  } catch (const rtl::Exception&) {
    return std::string();  // a time outside the years the text can hold
  }
}

bool SetFileDateLocal(const std::string& path, rtl::TDateTime dt) {
  if (!IsPlainFile(path)) return false;
  int64_t seconds;
  try {
    rtl::TSystemTime t = rtl::DateTimeToSystemTime(dt);
    t.Millisecond = 0;
    seconds = rtl::EpochOfLocal(t) / 1000000;
  } catch (const rtl::Exception&) {
    return false;
  }
  return SetFileTimeSeconds(path, seconds);
}

bool SetFileTimeRaw(const std::string& path, rtl::TDateTime dt) {
  if (!IsPlainFile(path)) return false;
  int64_t seconds;
  try {
    seconds = EpochOfUtc(rtl::DateTimeToSystemTime(dt));
  } catch (const rtl::Exception&) {
    return false;
  }
  return SetFileTimeSeconds(path, seconds);
}

rtl::TDateTime EpochToUtcDateTime(int64_t seconds) {
  return DateTimeOfEpochUtc(seconds);
}

rtl::TDateTime MdtmToDateTime(std::string_view text) {
  if (text.size() < 14) return 0;
  const int year = Part(text, 0, 4);
  const int month = Part(text, 4, 2);
  const int day = Part(text, 6, 2);
  if (month == 0 || month > 12 || day == 0 || day > 31) return 0;
  rtl::TDateTime date;
  try {
    date = rtl::EncodeDate(year, month, day);
  } catch (const rtl::Exception&) {
    return -1;
  }
  const int hour = Part(text, 8, 2);
  const int minute = Part(text, 10, 2);
  const int second = Part(text, 12, 2);
  const int ms = text.size() >= 18 ? Part(text, 15, 3) : 0;
  rtl::TDateTime time;
  try {
    time = rtl::EncodeTime(hour, minute, second, ms);
  } catch (const rtl::Exception&) {
    return -1;
  }
  return date + time;
}

int64_t DigitsToInt64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  uint64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  return static_cast<int64_t>(v);
}

int32_t ParseZoneOffset(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  const bool negative = i + 1 < text.size() && text[i] == '-';
  while (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  uint32_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    v = v * 10 + static_cast<uint32_t>(text[i] - '0');
  // Unsigned arithmetic: the value wraps instead of overflowing.
  return static_cast<int32_t>(negative ? 0u - v : v);
}

int64_t FileSizeOf(const std::string& path) {
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(path, info) != 0 || info.Kind != rtl::fs::TFileKind::Regular) return -1;
  return info.Size;
}

bool PathExists(const std::string& path) {
  std::string p = path;
  if (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(p, info) != 0) return false;
  return info.Kind == rtl::fs::TFileKind::Directory || info.Kind == rtl::fs::TFileKind::Regular;
}
