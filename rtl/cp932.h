// Byte-level helpers for 8-bit CP932 (Shift-JIS) text held in std::string. Every byte is examined
// as unsigned char. Lengths are in bytes. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

// True for a CP932 lead byte (0x81-0x9F, 0xE0-0xFC): the byte after it is a trail byte.
constexpr bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Length in bytes of the character that starts at index i of s: two for a lead byte with a byte
// after it, else one. A lead byte that is the last byte of s is one character, so a walk that
// steps by this never leaves s. REQUIRES: i < s.size().
constexpr size_t CharLength(std::string_view s, size_t i) {
  return IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

// True when the byte at index i of s is the trail byte of a double-byte character. Walks from the
// start of s, since a trail byte may itself look like a lead byte.
bool IsTrailByteAt(std::string_view s, size_t i);

// Removes bytes 0x00-0x20 from both ends, the start or the end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII case folding; the trail byte of a double-byte character is never folded.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Compares two texts with ASCII letters folded (trail bytes compared as they are): negative, zero
// or positive.
int CompareText(std::string_view a, std::string_view b);
inline bool SameText(std::string_view a, std::string_view b) {
  return CompareText(a, b) == 0;
}

// Byte-wise comparison (as unsigned char): negative, zero or positive.
int CompareStr(std::string_view a, std::string_view b);

// Converts between encodings with iconv. On success stores the result in out and returns true;
// on an invalid or incomplete sequence returns false and leaves out unspecified.
bool IconvConvert(const char* fromCode, const char* toCode, std::string_view in, std::string& out);

// CP932 <-> UTF-8. Input that cannot be converted (an invalid or cut-off sequence, or a character
// the other side lacks) becomes one "?" per character, so these never fail.
std::string Cp932ToUtf8(std::string_view cp932);
std::string Utf8ToCp932(std::string_view utf8);

}  // namespace rtl
