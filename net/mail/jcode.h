// Japanese code conversion between JIS (ISO-2022-JP: 7 bits with escape sequences), Shift-JIS
// (the system's own CP932 text) and EUC-JP, with detection of the code a text is in, and MIME
// encoded words in ISO-2022-JP for header texts. Half-width katakana become their full-width
// forms in JIS, a following voiced or semi-voiced mark joined to the kana where JIS X 0208 has
// the combined character. Plain functions on byte strings: no state, never raise, never read
// outside their input (a pair, escape sequence or kana with mark cut off by the end of the text
// is dropped and conversion ends there). Safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace net::mail {

// Codes returned by DetectJCode and taken as targets by ConvertJCode.
constexpr int jcAscii = 0;      // no evidence of an 8-bit or JIS encoding
constexpr int jcBinary = 1;     // a byte below 0x08 or equal to 0xFF
constexpr int jcJis = 2;        // JIS: ESC "$" "B" seen
constexpr int jcOldJis = 3;     // old JIS: ESC "$" "@" seen
constexpr int jcEuc = 4;        // EUC-JP
constexpr int jcSjis = 5;       // Shift-JIS
constexpr int jcEucOrSjis = 6;  // 8-bit Japanese, EUC or Shift-JIS undecided

// Two bytes of one double-byte character.
struct TBytePair {
  unsigned char b1;
  unsigned char b2;
  friend bool operator==(TBytePair, TBytePair) = default;
};

// Guesses the code of text. The first 512 bytes (never the last byte of text) are checked for
// binary bytes first; then the text is scanned until the code is decided. The last byte of text
// is never examined as the first byte of a character, so a lone 8-bit last byte gives jcAscii.
int DetectJCode(std::string_view text);

// Converts text to target (jcJis, jcEuc or jcSjis). Text detected as jcAscii, jcBinary,
// jcEucOrSjis or as the target itself is returned unchanged, as is old JIS to JIS and any other
// target. So converting JIS output to JIS again returns it unchanged.
std::string ConvertJCode(std::string_view text, int target);

// Encodes a Shift-JIS header text: every run of double-byte characters (half-width katakana
// included) becomes one encoded word "=?ISO-2022-JP?B?" + Base64 of its JIS form + "?=", which
// ends in ASCII mode ("ESC ( B"); single-byte text between the runs, blanks included, is kept as
// it is. No folding, no length limit. ASCII text comes back unchanged.
std::string EncodeMimeHeaderJis(std::string_view text);

// The Shift-JIS pair of a JIS pair, and the JIS pair of a Shift-JIS pair (byte arithmetic; valid
// results for the JIS X 0208 rows).
TBytePair JisToSjisPair(unsigned char j1, unsigned char j2);
TBytePair SjisToJisPair(unsigned char s1, unsigned char s2);

// The full-width JIS pair of the EUC half-width kana at pos (text[pos] is 0x8E, the kana byte
// follows). When the next character is 0x8E with a voiced (0xDE) or semi-voiced (0xDF) mark that
// combines with the kana, it is used up too. On return pos is the index after what was used. A
// kana byte outside 0xA1..0xDF gives the geta mark (0x22 0x2E); a missing one gives the geta
// mark with pos at the end of text.
TBytePair EucKanaToJis(std::string_view text, size_t& pos);

// As EucKanaToJis for the Shift-JIS half-width kana text[pos] (0xA1..0xDF), whose mark is the
// single next byte.
TBytePair SjisKanaToJis(std::string_view text, size_t& pos);

// Whole-text converters. The JIS readers take ESC "$" + any byte as entering double-byte mode
// and ESC "(" + any byte as leaving it; any other escape sequence is three bytes dropped. In
// double-byte mode, a byte outside 0x21..0x7E is copied as a single byte. The JIS writers enter
// double-byte mode with ESC "$" "B", leave it with ESC "(" "J" before any single byte (CR and LF
// included), and end a text that ends in double-byte mode with ESC "(" "B".
std::string JisToEuc(std::string_view text);
std::string EucToJis(std::string_view text);
std::string JisToSjis(std::string_view text);
std::string EucToSjis(std::string_view text);
std::string SjisToJis(std::string_view text);
std::string SjisToEuc(std::string_view text);

// Standard Base64, "=" padding, no line breaks.
std::string JcBase64Encode(std::string_view bytes);

}  // namespace net::mail
