// The small routines that MDTM, MFMT, SIZE, REST, APPE and the listings stand on: the wire form
// of file times (yyyymmddhhnnss.zzz) and its parser, local time and UTC, setting a file's time,
// reading decimal numbers and zone offsets, file sizes and existence. Plain functions without
// state, safe from any thread (the local-time ones read TZ as the C library does).
//
// Local time is converted at the instant it names (the zone's offset on that day, daylight saving
// included), not with today's offset, and file times are set in whole seconds. Paths are local
// file-system paths; symbolic links are never followed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/datetime.h"

// Decimal text of value with "0" prepended until it has at least width characters.
std::string PadNumber(uint16_t value, int width);

// The wire time text of dt: year (4 digits), month, day, hour, minute, second (2 digits each),
// "." and milliseconds (3 digits), 18 characters. REQUIRES: dt within years 1..9999 (else
// rtl::EConvertError).
std::string DateTimeToMdtm(rtl::TDateTime dt);

// The local zone's bias in minutes at this moment, as UTC minus local time (Tokyo: -540; Berlin:
// -60 in winter, -120 in summer).
int32_t LocalBiasMinutes();

// The UTC date-time of a local date-time, converted with the zone's offset at that instant. A
// local time inside a daylight-saving gap is moved on as mktime does. REQUIRES: local within years
// 1..9999 (else rtl::EConvertError).
rtl::TDateTime LocalToUtc(rtl::TDateTime local);

// The last modification time of the plain file path, in seconds since the Unix epoch; -1 when path
// is not a plain file (missing, a folder, a link, a device) or ends in "/".
int64_t FileAgeOfPath(const std::string& path);

// The file's modification time in UTC as wire time text (whole seconds: ".000"); empty when
// FileAgeOfPath gives -1.
std::string FileUtcTimeText(const std::string& path);

// Sets the modification time of the plain file path to the local date-time dt (whole seconds,
// converted at that instant). False when path is not a plain file that may be opened for writing,
// or the time cannot be set.
bool SetFileDateLocal(const std::string& path, rtl::TDateTime dt);

// Sets the modification time of the plain file path to dt taken as UTC, without any zone
// conversion (whole seconds). False as for SetFileDateLocal.
bool SetFileTimeRaw(const std::string& path, rtl::TDateTime dt);

// The date-time of an instant (seconds since the Unix epoch) read as UTC, without any zone.
rtl::TDateTime EpochToUtcDateTime(int64_t seconds);

// Parses wire time text (14 digits, optionally "." and 3 digits of milliseconds): 0 for a text
// shorter than 14 characters, a month outside 1..12 or a day outside 1..31; -1 for a date or time
// that does not exist (31 February, hour 24); else the date-time. A part holding anything but
// digits reads as 0. Callers treat every result below 10 as invalid.
rtl::TDateTime MdtmToDateTime(std::string_view text);

// Skips leading blanks, then reads decimal digits up to the first other character (value * 10 +
// digit, wrapping at 64 bits). No sign; no digits give 0.
int64_t DigitsToInt64(std::string_view text);

// Skips leading blanks, then every "+" and "-", then reads decimal digits; negative when the first
// character after the blanks is "-" and is not the last character.
int32_t ParseZoneOffset(std::string_view text);

// The size of the plain file path, or -1 when path is not a plain file.
int64_t FileSizeOf(const std::string& path);

// True when path (a trailing "/" removed when longer than one character) is a folder or a plain
// file; false for missing names, links and special files.
bool PathExists(const std::string& path);
