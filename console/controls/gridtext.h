// The texts of the string grid's cells: the storage form a cell keeps a text of one or more lines
// in (its lines as a comma list, quoted where needed) and back, and a lenient text-to-integer
// conversion. Texts are CP932 bytes; every walk steps over double-byte characters whole
// (rtl::CharLength), so a trail byte is never taken for a separator and nothing is read past the
// end of a text. Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The storage form of text: each line becomes one item, items joined by ",". A line ends at the
// first CR of the remaining text, or when there is none at its first LF; CR LF is one break, a
// lone CR or LF another. An item is quoted (enclosed in double quotes, each double quote inside
// doubled) when its line holds a byte 0-32, a double quote or a comma, or ends in a lone lead
// byte; an empty line is an empty item. A text that ends in a line break ends in ",".
std::string LinesToCommaText(std::string_view text);

// The text of a storage form: its items joined by CR LF. Bytes 0-32 around items are skipped; a
// quoted item runs to its closing quote (a doubled quote inside stands for one; a missing closing
// quote takes the rest), an unquoted one up to the next byte 0-32 or comma.
// CommaTextToLines(LinesToCommaText(t)) is t with every line break written as CR LF.
std::string CommaTextToLines(std::string_view commaText);

// The integer text stands for: text without bytes 0-32 at either end as a whole (optional sign,
// decimal digits); failing that, the value of its leading run of decimal digits, or 0 when it
// does not start with a digit ("-5x" gives 0, "12ab" 12, "" 0). Raises rtl::EConvertError when
// that leading run is too long for 32 bits.
int32_t StrToIntLenient(std::string_view text);

// True for "0" to "9".
constexpr bool IsDigitChar(char c) {
  return c >= '0' && c <= '9';
}
